#include "Expander.h"

int16_t Expander::blend(int16_t old, int best) {
    // The double constants widened to 80 bits: 0.6 x 5 stays just below 3.
    const long double mixed = static_cast<long double>(0.4) * static_cast<long double>(old) -
                              static_cast<long double>(0.6) * static_cast<long double>(best);
    return static_cast<int16_t>(static_cast<int>(mixed));
}

bool Expander::expand() {
    Node* n = topNode();
    if (isDecided(n->rating)) {
        ++n->count; // a decided position only counts the visit
        return true;
    }
    listExpandCells();
    if (!nodeTable->makeRoom(expandCount)) {
        return false;
    }
    int best = rating::NoMove;
    uint32_t created = 0;
    n->count = 0;
    ChildKeys keys;
    childKeys(n, expandCells, expandCount, keys);
    for (int i = 0; i < expandCount; ++i) {
        const CellIndex cell = expandCells[i];
        const NodeTable::Found f = nodeTable->findOrCreate(keys.probes[i], keys.hashcodeToMove,
                                                           keys.hashcodeMoved[i], keys.age);
        Node* child = f.node;
        if (f.created) {
            ++created;
            evaluateChild(n, child, cell);
            n->count += 1;
        } else {
            n->count += child->count + 1;
        }
        if (child->rating > best) {
            best = child->rating;
        }
    }
    if (n->ratingFixed == 0) {
        n->rating = blend(n->rating, best);
    }
    n->candidateCount = static_cast<uint8_t>(expandCount);
    propagateUp(created);
    if (plyCount > maxPlyReached) {
        maxPlyReached = plyCount;
    }
    return true;
}
