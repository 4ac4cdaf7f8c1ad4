#include "EngineWorld.h"

#include <vector>

namespace {

class Position : public ::testing::Test {
protected:
    void SetUp() override {
        e = std::make_unique<Evaluator>(&w.primes, &w.table);
        e->pushMove(CentreCell, w.table.findOrCreate(1, 1, 0).node);
    }

    // Creates the child Node of the top position for the cell and plays it.
    void play(CellIndex cell) {
        const NodeKey k = childKey(*e->topNode(), w.primes.primeFor(cell));
        Node* child = w.table.findOrCreate(k.hashcodeToMove, k.hashcodeMoved, k.age).node;
        ASSERT_TRUE(e->pushMove(cell, child));
        ASSERT_TRUE(positionConsistent(*e));
    }

    std::vector<int> candidates() const {
        std::vector<int> out;
        for (int c = 0; c < CellCount; ++c) {
            if (e->board[c] == Candidate) {
                out.push_back(c);
            }
        }
        return out;
    }

    std::vector<int> representatives() const {
        std::vector<int> out;
        for (int c = 0; c < CellCount; ++c) {
            if (e->board[c] <= Candidate && e->isRepresentative(static_cast<CellIndex>(c))) {
                out.push_back(c);
            }
        }
        return out;
    }

    World w;
    std::unique_ptr<Evaluator> e;
};

int image(int symmetry, int cell) {
    const int r = cell / 15, c = cell % 15;
    switch (symmetry) {
    case MirrorColumns:
        return r * 15 + 14 - c;
    case MirrorRows:
        return (14 - r) * 15 + c;
    case HalfTurn:
        return (14 - r) * 15 + 14 - c;
    case MirrorMainDiagonal:
        return c * 15 + r;
    default:
        return (14 - c) * 15 + 14 - r;
    }
}

} // namespace

TEST_F(Position, CentreStoneAloneMarksItsNeighbours) {
    EXPECT_EQ(e->plyCount, 1);
    EXPECT_EQ(e->board[112], Cross);
    EXPECT_EQ(candidates(), (std::vector<int>{96, 97, 98, 111, 113, 126, 127, 128}));
    EXPECT_EQ(e->rootNode(), e->topNode());
    for (int k = 0; k < SymmetryCount; ++k) {
        EXPECT_EQ(e->topPly().asymmetry[k], 0);
    }
    std::vector<int> reps;
    for (int c : candidates()) {
        if (e->isRepresentative(static_cast<CellIndex>(c))) {
            reps.push_back(c);
        }
    }
    EXPECT_EQ(reps, (std::vector<int>{113, 128}));
}

TEST_F(Position, MarkingRadiusGrowsFromTheFourthStone) {
    play(cellAt(7, 8)); // second stone: neighbours only
    EXPECT_EQ(e->topPly().markedCount, 3)
        << "99, 114 and 129 are new; the rest were marked already";
    play(cellAt(9, 9)); // third stone: neighbours only
    for (int c : {cellAt(7, 9), cellAt(7, 11), cellAt(11, 11), cellAt(9, 11)}) {
        EXPECT_EQ(e->board[c], c == cellAt(7, 9) ? Candidate : Empty) << c;
    }
    play(cellAt(3, 3)); // fourth stone: two steps along the eight rays
    EXPECT_EQ(e->topPly().markedCount, 16);
    EXPECT_EQ(e->board[cellAt(1, 1)], Candidate);
    EXPECT_EQ(e->board[cellAt(1, 3)], Candidate);
    EXPECT_EQ(e->board[cellAt(5, 5)], Candidate);
    EXPECT_EQ(e->board[cellAt(1, 2)], Empty) << "a knight's move away is not marked";
    const std::vector<int> firstMarks(e->topPly().marked, e->topPly().marked + 4);
    // Distance 1 first, dx outer, dy inner.
    EXPECT_EQ(firstMarks,
              (std::vector<int>{cellAt(2, 2), cellAt(3, 2), cellAt(4, 2), cellAt(2, 3)}));
}

TEST_F(Position, EdgeAndCornerStonesMarkOnlyCellsOnTheBoard) {
    play(cellAt(7, 8));
    play(cellAt(7, 9));
    play(cellAt(0, 0));
    EXPECT_EQ(e->topPly().markedCount, 6);
    play(cellAt(14, 7));
    EXPECT_EQ(e->topPly().markedCount, 10);
    for (int i = 0; i < e->topPly().markedCount; ++i) {
        EXPECT_GE(e->topPly().marked[i] / 15, 12);
    }
}

TEST_F(Position, TakeBackRestoresExactly) {
    play(cellAt(7, 8)); // on a Candidate
    play(cellAt(2, 2)); // on an Empty cell
    play(cellAt(8, 8)); // on a Candidate
    const std::vector<uint8_t> before(e->board, e->board + CellCount);
    play(cellAt(2, 3)); // on a Candidate marked by ply 2; marks more
    ASSERT_TRUE(e->undoMove());
    EXPECT_EQ(std::vector<uint8_t>(e->board, e->board + CellCount), before);
    EXPECT_EQ(e->board[cellAt(2, 3)], Candidate) << "an earlier ply's mark survives";
    ASSERT_TRUE(e->undoMove());
    ASSERT_TRUE(e->undoMove());
    EXPECT_EQ(e->board[cellAt(2, 2)], Empty);
    EXPECT_EQ(e->board[cellAt(1, 1)], Empty);
    ASSERT_TRUE(positionConsistent(*e));
    e->rewindToRoot();
    EXPECT_EQ(e->plyCount, 1);
    EXPECT_EQ(candidates(), (std::vector<int>{96, 97, 98, 111, 113, 126, 127, 128}));
}

TEST_F(Position, UndoOnAnEmptyStackChangesNothing) {
    Evaluator bare(&w.primes, &w.table);
    EXPECT_FALSE(bare.undoMove());
    EXPECT_EQ(bare.plyCount, 0);
}

TEST_F(Position, PlayCellRefusesAnAbsentChild) {
    EXPECT_FALSE(e->playCell(113));
    EXPECT_EQ(e->plyCount, 1);
    EXPECT_EQ(e->board[113], Candidate);
    const Node* top = e->topNode();
    Node* child =
        w.table.findOrCreate(top->hashcodeMoved, top->hashcodeToMove * w.primes.primeFor(113), 1)
            .node;
    EXPECT_TRUE(e->playCell(113));
    EXPECT_EQ(e->topNode(), child);
    EXPECT_EQ(e->board[113], Nought);
}

TEST_F(Position, TranspositionsShareOneNode) {
    const CellIndex a = cellAt(7, 8), b = cellAt(8, 8), c = cellAt(6, 6);
    play(a);
    play(b);
    play(c);
    Node* first = e->topNode();
    EXPECT_EQ(first->age, 3);
    e->rewindToRoot();
    const uint64_t nodes = w.table.nodeCount();
    play(c);
    play(b);
    const Node* top = e->topNode();
    NodeTable::Found f =
        w.table.findOrCreate(top->hashcodeMoved, top->hashcodeToMove * w.primes.primeFor(a), 3);
    EXPECT_FALSE(f.created);
    EXPECT_EQ(f.node, first);
    EXPECT_EQ(w.table.nodeCount(), nodes + 2) << "only the two new intermediate positions";
    // Child keys: (1, p) at age 1, (p, p') at age 2.
    e->rewindToRoot();
    play(a);
    EXPECT_EQ(e->topNode()->hashcodeToMove + 0, 1u);
    EXPECT_EQ(e->topNode()->hashcodeMoved + 0, w.primes.knownPrimeFor(a));
    play(b);
    EXPECT_EQ(e->topNode()->hashcodeToMove + 0, w.primes.knownPrimeFor(a));
    EXPECT_EQ(e->topNode()->hashcodeMoved + 0, w.primes.knownPrimeFor(b));
}

TEST_F(Position, ColumnSymmetryOnlyRejectsTheLeftHalf) {
    play(cellAt(8, 7));
    play(cellAt(5, 7));
    ASSERT_EQ(e->topPly().asymmetry[MirrorColumns], 0);
    for (int k = MirrorRows; k < SymmetryCount; ++k) {
        ASSERT_NE(e->topPly().asymmetry[k], 0) << k;
    }
    for (int c = 0; c < CellCount; ++c) {
        EXPECT_EQ(e->isRepresentative(static_cast<CellIndex>(c)), c % 15 >= 7) << c;
    }
}

TEST_F(Position, AsymmetricPositionRejectsNothing) {
    play(cellAt(7, 8));
    play(cellAt(9, 6));
    play(cellAt(5, 5));
    for (int k = 0; k < SymmetryCount; ++k) {
        ASSERT_NE(e->topPly().asymmetry[k], 0) << k;
    }
    EXPECT_EQ(representatives().size(), static_cast<std::size_t>(CellCount - 4));
}

TEST_F(Position, BothDiagonalsLeaveARepresentativeForEveryImageSet) {
    for (CellIndex c : {cellAt(8, 8), cellAt(9, 9), cellAt(6, 6), cellAt(5, 5)}) {
        play(c);
    }
    const int32_t* a = e->topPly().asymmetry;
    ASSERT_EQ(a[MirrorMainDiagonal], 0);
    ASSERT_EQ(a[MirrorAntiDiagonal], 0);
    ASSERT_EQ(a[HalfTurn], 0);
    ASSERT_NE(a[MirrorColumns], 0);
    ASSERT_NE(a[MirrorRows], 0);
    EXPECT_TRUE(e->isRepresentative(98)) << "row 6, column 8 stands for 126";
    for (int cell = 0; cell < CellCount; ++cell) {
        if (e->board[cell] > Candidate) {
            continue;
        }
        const int orbit[] = {cell, image(MirrorMainDiagonal, cell), image(MirrorAntiDiagonal, cell),
                             image(HalfTurn, cell)};
        int kept = 0;
        for (int c : orbit) {
            kept += e->isRepresentative(static_cast<CellIndex>(c)) ? 1 : 0;
        }
        EXPECT_GE(kept, 1) << "no representative for cell " << cell;
    }
}

TEST_F(Position, HalfTurnAloneFoldsTheRows) {
    play(cellAt(7, 9));
    play(cellAt(4, 4));
    play(cellAt(7, 5));
    play(cellAt(10, 10));
    const int32_t* a = e->topPly().asymmetry;
    ASSERT_EQ(a[HalfTurn], 0);
    ASSERT_NE(a[MirrorMainDiagonal], 0);
    ASSERT_NE(a[MirrorAntiDiagonal], 0);
    for (int c = 0; c < CellCount; ++c) {
        EXPECT_EQ(e->isRepresentative(static_cast<CellIndex>(c)), c / 15 >= 7) << c;
    }
}

TEST_F(Position, OpeningRuleForbidsTheCentralSquareForTheSecondCross) {
    e->openingRule = 1;
    play(cellAt(7, 8));
    ASSERT_EQ(e->topNode()->age, 1);
    for (int c = 0; c < CellCount; ++c) {
        const int dr = c / 15 - 7, dc = c % 15 - 7;
        const bool central = dr >= -2 && dr <= 2 && dc >= -2 && dc <= 2;
        EXPECT_EQ(e->openingRuleAllows(static_cast<CellIndex>(c)), !central) << c;
    }
    play(cellAt(4, 4));
    for (int c = 0; c < CellCount; ++c) {
        EXPECT_TRUE(e->openingRuleAllows(static_cast<CellIndex>(c))) << c;
    }
    e->undoMove();
    e->openingRule = 0;
    for (int c = 0; c < CellCount; ++c) {
        EXPECT_TRUE(e->openingRuleAllows(static_cast<CellIndex>(c))) << c;
    }
}

TEST(Symmetry, ImagesOfACell) {
    // Row 1, column 3 (cell 18) under each symmetry, in counter order.
    const int expected[SymmetryCount] = {1 * 15 + 11, 13 * 15 + 3, 13 * 15 + 11, 3 * 15 + 1,
                                         11 * 15 + 13};
    for (int k = 0; k < SymmetryCount; ++k) {
        EXPECT_EQ(imageOf(static_cast<Symmetry>(k), 18), expected[k]) << k;
        EXPECT_EQ(imageOf(static_cast<Symmetry>(k), imageOf(static_cast<Symmetry>(k), 18)), 18);
    }
    EXPECT_EQ(imageOf(HalfTurn, CentreCell), CentreCell);
}
