#include "Builder.h"

float Builder::childScore(int16_t rating, uint32_t count) {
    const uint32_t weight = ratingWeight(rating);
    const uint32_t numerator = count <= 60000 ? weight : weight * weight;
    return static_cast<float>(static_cast<long double>(numerator) /
                              (static_cast<long double>(count) + 50.0L));
}

int Builder::selectChild() {
    listChildren();
    float best = -99999.0f;
    int kept = -1;
    for (int i = 0; i < childCount; ++i) {
        const Node* child = childNodes[i];
        const int16_t r = child->rating;
        if (!isEnterable(r)) {
            continue; // decided: never entered
        }
        const float score = childScore(r, child->count);
        if (score > best) { // strictly higher: the lowest cell wins ties
            best = score;
            kept = i;
        }
    }
    return kept;
}

void Builder::growStep() {
    const int start = plyCount;
    while (topNode()->candidateCount != 0 && plyCount < 224) {
        const int i = selectChild();
        if (i == -1) {
            note("builder fallback");
            if (plyCount == start) {
                // Nothing to enter at the game position: bring its rating in line with its
                // children so the caller sees it decided, and leave the game's plies alone.
                recomputeFromChildren(topNode(), 0, true);
                propagateUp(0);
                return;
            }
            Node* stuck = topNode();
            stuck->candidateCount =
                static_cast<uint8_t>(stuck->candidateCount + 1); // 255 wraps to 0
            undoMove();
        } else {
            pushMove(childCells[i], childNodes[i]);
        }
    }
    expand();
    while (plyCount > start) {
        undoMove();
    }
}
