#pragma once

#include <memory>
#include <string>

#include "Gameboard.h"
#include <gtest/gtest.h>

// The tables an engine lives on, built in the order the program builds them.
using World = EngineTables;

inline CellIndex cellAt(int row, int column) {
    return static_cast<CellIndex>(row * BoardSide + column);
}

// Checks the position invariants from scratch: stones are the plies' moves with their colours,
// candidates are exactly the live marks, and each asymmetry counter is 0 exactly when the
// stones are symmetric under its mapping.
inline ::testing::AssertionResult positionConsistent(const Evaluator& e) {
    uint8_t expect[CellCount] = {};
    for (int i = 0; i < e.plyCount; ++i) {
        const PlyState& p = e.plyAt(i);
        for (int k = 0; k < p.markedCount; ++k) {
            expect[p.marked[k]] = Candidate;
        }
        expect[p.move] = (i % 2 == 0) ? Cross : Nought;
    }
    // A later stone on a marked cell hides the mark; a later mark never covers a stone.
    for (int i = 0; i < e.plyCount; ++i) {
        const PlyState& p = e.plyAt(i);
        expect[p.move] = (i % 2 == 0) ? Cross : Nought;
    }
    for (int c = 0; c < CellCount; ++c) {
        if (e.board[c] != expect[c]) {
            return ::testing::AssertionFailure() << "cell " << c << " holds " << int(e.board[c])
                                                 << ", expected " << int(expect[c]);
        }
    }
    if (e.plyCount == 0) {
        return ::testing::AssertionSuccess();
    }
    for (int k = 0; k < SymmetryCount; ++k) {
        bool symmetric = true;
        for (int c = 0; c < CellCount && symmetric; ++c) {
            const int image = imageOf(static_cast<Symmetry>(k), c);
            const bool stone = (e.board[c] & 12) != 0;
            if (stone && e.board[image] != e.board[c]) {
                symmetric = false;
            }
        }
        if (symmetric != (e.topPly().asymmetry[k] == 0)) {
            return ::testing::AssertionFailure()
                   << "symmetry " << k << " counter " << e.topPly().asymmetry[k]
                   << " but symmetric=" << symmetric;
        }
    }
    return ::testing::AssertionSuccess();
}

// A ready engine on its own tables, as the game window builds it.
struct EngineRig : EngineSet {
    explicit EngineRig(uint32_t rule = 0) : EngineSet(rule) {}
    Gameboard& operator*() { return engine; }
    Gameboard* operator->() { return &engine; }
    bool flag(OrientationFlag f) const { return (orientationBits() & f) != 0; }
};

// Plays the cell at the top position, creating its Node if the search has not (tests only).
inline Node* forceMove(Gameboard& g, World& w, CellIndex cell) {
    const NodeKey k = childKey(*g.topNode(), w.primes.primeFor(cell));
    Node* child = w.table.findOrCreate(k.hashcodeToMove, k.hashcodeMoved, k.age).node;
    g.pushMove(cell, child);
    return child;
}
