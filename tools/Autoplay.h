#pragma once

#include <cstdint>

#include "Gameboard.h"

// The computer answers once the position holds the budget, or at once when the game there is
// nearly decided or has a single move.
inline bool readyToMove(const Gameboard& g, uint32_t budget) {
    const Node* top = g.topNode();
    return top->count >= budget || isNearlyDecided(top->rating) || top->candidateCount == 1;
}

// Grows under the game position until the computer may move or keepGoing() refuses another
// step; stops early where growth cannot go on (a decided position, a subtree that no longer
// grows, or a table at its memory limit).
template <typename KeepGoing> void thinkWhile(Gameboard& g, uint32_t budget, KeepGoing keepGoing) {
    uint32_t lastCount = g.topNode()->count;
    int stalled = 0;
    while (!readyToMove(g, budget) && !g.nodeTable->limitReached() && keepGoing()) {
        const int r = g.topNode()->rating;
        if (!isEnterable(r)) {
            return;
        }
        g.growStep();
        const uint32_t now = g.topNode()->count;
        stalled = now == lastCount ? stalled + 1 : 0;
        lastCount = now;
        if (stalled > 1000) {
            return;
        }
    }
}

// Grows under the game position until the computer may move.
inline void thinkUntilReady(Gameboard& g, uint32_t budget) {
    thinkWhile(g, budget, [] { return true; });
}
