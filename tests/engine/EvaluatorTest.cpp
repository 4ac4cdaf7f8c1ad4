#include "EngineWorld.h"

#include <vector>

namespace {

// A hand-built board: stones are set directly and the side to move is chosen by the ply count.
class Evaluation : public ::testing::Test {
protected:
    void SetUp() override { e = std::make_unique<Evaluator>(&w.primes, &w.table); }

    void put(int row, int column, uint8_t stone) { e->board[cellAt(row, column)] = stone; }
    void crossToMove() { e->plyCount = 4; }
    void noughtToMove() { e->plyCount = 3; }

    // Evaluates the move as a fresh child of the parent and returns the child.
    Node rate(const Node& parent, int row, int column, int age) {
        Node child{};
        child.age = static_cast<uint8_t>(age);
        e->evaluateChild(&parent, &child, cellAt(row, column));
        return child;
    }

    World w;
    std::unique_ptr<Evaluator> e;
};

} // namespace

TEST(Patterns, TablesTranslateTheTextAndExchangeSidesForNoughts) {
    const PatternTable& cross = patterns::crossTable();
    const PatternTable& nought = patterns::noughtTable();
    EXPECT_EQ(cross[0][0], 0x24);  // "X"
    EXPECT_EQ(cross[0][5], 0);     // filler
    EXPECT_EQ(cross[1][0], 0x28);  // "8"
    EXPECT_EQ(cross[15][0], 0x34); // "*"
    EXPECT_EQ(cross[38][6], 0x14); // "+"
    EXPECT_EQ(cross[32][0], 0x36); // "?"
    EXPECT_EQ(cross[53][0], 0x22); // "T"
    EXPECT_EQ(cross[53][1], 0x08); // "o"
    EXPECT_EQ(cross[2][0], 0x02);  // "_"
    EXPECT_EQ(cross[3][0], 0x04);  // "x"
    for (int p = 0; p < PatternCount; ++p) {
        for (int s = 0; s < PatternSlots; ++s) {
            const uint8_t c = cross[static_cast<std::size_t>(p)][static_cast<std::size_t>(s)];
            const uint8_t n = nought[static_cast<std::size_t>(p)][static_cast<std::size_t>(s)];
            const uint8_t sides = c & 0x0C;
            const uint8_t swapped = sides == 0x04 ? 0x08 : sides == 0x08 ? 0x04 : sides;
            EXPECT_EQ(n, (c & ~0x0C) | swapped) << p << "/" << s;
        }
    }
    EXPECT_EQ(patterns::ClassStart[Contact], 53);
    EXPECT_EQ(patterns::ClassStart[ClassCount], PatternCount);
}

TEST_F(Evaluation, EdgePatternNeedsTheEdge) {
    noughtToMove(); // "o" is a Cross stone for this mover
    for (int c : {1, 2, 3}) {
        put(7, c, Cross);
    }
    int mask = 15;
    EXPECT_TRUE(e->matchClass(BlockOpenThree, mask, cellAt(7, 5))) << "*_ooo_* over the edge";
    EXPECT_EQ(mask, 15 & ~4);
    for (int c : {1, 2, 3}) {
        put(7, c, Empty);
    }
    for (int c : {2, 3, 4}) {
        put(7, c, Cross);
    }
    mask = 15;
    EXPECT_FALSE(e->matchClass(BlockOpenThree, mask, cellAt(7, 6))) << "an empty cell is no edge";
    EXPECT_EQ(mask, 15);
}

TEST_F(Evaluation, MatchingConsumesOneDirectionPerCall) {
    crossToMove();
    for (int i = 1; i <= 4; ++i) {
        put(7 - i, 7, Cross);     // column: direction 3
        put(7 - i, 7 - i, Cross); // diagonal: direction 0
    }
    int mask = 15;
    ASSERT_TRUE(e->matchClass(Five, mask, cellAt(7, 7)));
    EXPECT_EQ(mask, 15 & ~1);
    ASSERT_TRUE(e->matchClass(Five, mask, cellAt(7, 7)));
    EXPECT_EQ(mask, 15 & ~1 & ~8);
    EXPECT_FALSE(e->matchClass(Five, mask, cellAt(7, 7)));
    EXPECT_EQ(mask, 6);
    noughtToMove();
    mask = 15;
    EXPECT_FALSE(e->matchClass(Five, mask, cellAt(7, 7))) << "X means a Nought stone now";
    EXPECT_TRUE(e->matchClass(BlockFive, mask, cellAt(7, 7)));
}

TEST_F(Evaluation, WorkedExampleRates4060) {
    crossToMove();
    put(7, 5, Cross);
    put(7, 6, Cross);
    put(8, 7, Nought);
    const Node parent{};
    const Node c = rate(parent, 7, 7, 3);
    EXPECT_EQ(c.movedThrees, 1);
    EXPECT_EQ(c.movedFours, 0);
    EXPECT_EQ(c.rating, 4060);
    EXPECT_EQ(c.ratingFixed, 0);
}

TEST_F(Evaluation, ContactValueBySideAndAge) {
    struct Case {
        int age;
        int cross;
        int nought;
    };
    const Case cases[] = {{1, 220, -110}, {4, 220, -110}, {6, 198, -99},  {7, 176, -88},
                          {8, 176, -88},  {9, 153, -76},  {12, 110, -55}, {13, 65, -32},
                          {14, 65, -32},  {15, 22, -11},  {200, 22, -11}};
    for (const Case& k : cases) {
        put(7, 8, Nought);
        put(6, 7, Nought);
        put(6, 6, Empty);
        crossToMove();
        EXPECT_EQ(rate(Node{}, 7, 7, k.age).rating, 2 * k.cross) << "age " << k.age;
        put(7, 8, Cross);
        put(6, 7, Cross);
        noughtToMove();
        EXPECT_EQ(rate(Node{}, 7, 7, k.age).rating, 2 * k.nought) << "age " << k.age;
        EXPECT_EQ(contactValue(k.age, true), k.cross);
        EXPECT_EQ(contactValue(k.age, false), k.nought);
    }
}

TEST_F(Evaluation, ParentShareIsAnExtendedProductTruncated) {
    struct Case {
        int parentRating;
        int age;
        int expected;
    };
    const Case cases[] = {
        {1000, 6, -699}, // 0.7 as a double is just below 0.7
        {1000, 3, -900}, // 0.9 as a double is just above 0.9
        {1000, 1, -1000}, {-1000, 9, 400}, {333, 12, -66}, {-5, 13, 0}, {32600, 20, -3260},
    };
    crossToMove();
    for (const Case& k : cases) {
        Node parent{};
        parent.rating = static_cast<int16_t>(k.parentRating);
        EXPECT_EQ(rate(parent, 3, 3, k.age).rating, k.expected)
            << k.parentRating << " at age " << k.age;
    }
    // The whole base is formed in 80 bits before it is truncated: 220 - 90.0000000000000022.
    put(4, 3, Nought);
    Node parent{};
    parent.rating = 100;
    EXPECT_EQ(rate(parent, 3, 3, 3).rating, 129);
}

TEST_F(Evaluation, TalliesWrapUpwardAndNeverGoBelowZero) {
    crossToMove();
    put(7, 4, Cross); // "_X__X_": build potential
    Node parent{};
    parent.toMovePotential = 250;
    Node c = rate(parent, 7, 7, 9);
    EXPECT_EQ(c.movedPotential, 4) << "250 + 10 wraps to 4";
    parent = Node{};
    parent.movedPotential = 1;
    c = rate(parent, 3, 12, 9);
    EXPECT_EQ(c.toMovePotential, 1) << "a potential of 1 is inherited as it is";
    parent.movedPotential = 5;
    EXPECT_EQ(rate(parent, 3, 12, 9).toMovePotential, 4);
}

TEST_F(Evaluation, HeuristicRatingsSaturateShortOfDecided) {
    crossToMove();
    Node parent{};
    parent.toMoveThrees = 9; // 9 x 3840 would wrap to a negative 16-bit value
    EXPECT_EQ(rate(parent, 2, 2, 30).rating, 32200);
    parent = Node{};
    parent.movedPotential = 255;
    EXPECT_EQ(rate(parent, 2, 2, 30).rating, -32200);
}

TEST_F(Evaluation, ThirdNoughtInLineWithTheFirstTwoIsFixed) {
    struct Case {
        CellIndex first, second, move;
        bool fires;
    };
    const Case cases[] = {
        {cellAt(3, 2), cellAt(3, 10), cellAt(3, 13), true},  // one row
        {cellAt(1, 9), cellAt(12, 9), cellAt(5, 9), true},   // one column
        {cellAt(2, 2), cellAt(4, 4), cellAt(10, 10), false}, // a diagonal is not enough
        {cellAt(3, 2), cellAt(3, 10), cellAt(4, 13), false},
    };
    for (const Case& k : cases) {
        noughtToMove();
        e->plyCount = 5;
        e->plies[1].move = k.first;
        e->plies[3].move = k.second;
        const Node c = rate(Node{}, k.move / 15, k.move % 15, 5);
        EXPECT_EQ(c.rating == -6026, k.fires) << int(k.move);
        EXPECT_EQ(c.ratingFixed, k.fires ? 1 : 0);
        // Only the age of the second player's third stone counts.
        EXPECT_NE(rate(Node{}, k.move / 15, k.move % 15, 7).rating, -6026);
    }
}

TEST_F(Evaluation, FiveWinsEvenWhenItsFourWentUnrecorded) {
    // X X X in row 7 that no tally recorded as an open three: the open four counts once.
    for (int c : {5, 6, 7}) {
        put(7, c, Cross);
    }
    crossToMove();
    const Node a = rate(Node{}, 7, 8, 7);
    EXPECT_EQ(a.movedFours, 1);
    put(7, 8, Cross);
    noughtToMove();
    const Node b = rate(a, 7, 9, 8);
    EXPECT_EQ(b.toMoveFours, 0) << "one block uses up the only recorded four";
    EXPECT_NE(b.rating, -32200);
    put(7, 9, Nought);
    crossToMove();
    const Node c = rate(b, 7, 4, 9);
    EXPECT_EQ(c.movedFours, 0);
    EXPECT_EQ(c.rating, 32600);
    EXPECT_EQ(c.toMoveFours, b.movedFours) << "the counters stay as inherited";
    EXPECT_EQ(c.movedPotential, b.toMovePotential);
}

TEST_F(Evaluation, BlockedOpenFourLeavesOneFour) {
    for (int c : {5, 6, 7}) {
        put(7, c, Cross);
    }
    crossToMove();
    Node parent{};
    parent.toMoveThrees = 1; // the crosses' open three, recorded
    const Node a = rate(parent, 7, 8, 7);
    EXPECT_EQ(a.movedFours, 2) << "an open four counts 2, and its line is not a Four again";
    EXPECT_EQ(a.movedThrees, 0);
    put(7, 8, Cross);
    noughtToMove();
    const Node b = rate(a, 7, 9, 8);
    EXPECT_EQ(b.toMoveFours, 1);
    EXPECT_EQ(b.rating, -32200);
}

TEST_F(Evaluation, UnansweredOpenThreeLoses) {
    put(7, 5, Cross);
    put(7, 6, Cross);
    crossToMove();
    const Node a = rate(Node{}, 7, 7, 7);
    ASSERT_EQ(a.movedThrees, 1);
    put(7, 7, Cross);
    noughtToMove();
    EXPECT_EQ(rate(a, 2, 2, 8).rating, -30000);
    Node withFour = a;
    withFour.toMoveFours = 1; // the noughts have a four to answer with
    EXPECT_NE(rate(withFour, 2, 2, 8).rating, -30000);
}

TEST_F(Evaluation, EachDirectionCountsOnceForItsFirstClass) {
    for (int i = 1; i <= 3; ++i) {
        put(7, 7 - i, Cross); // row
        put(7 - i, 7, Cross); // column
    }
    crossToMove();
    EXPECT_EQ(rate(Node{}, 7, 7, 9).movedFours, 2) << "two fours in two directions";
    Node parent{};
    parent.toMoveThrees = 2;
    const Node c = rate(parent, 7, 7, 9);
    EXPECT_EQ(c.movedFours, 3) << "OpenFour is tried once, the other line is a Four";
    EXPECT_EQ(c.movedThrees, 1);
}

TEST_F(Evaluation, BlockingAnOpenThreeComparesTheNeighbours) {
    struct Case {
        std::vector<int> crosses; // columns in row 7
        int move;
        int potential;
        int rating;
    };
    const Case cases[] = {
        {{5, 6, 7}, 8, 12, -600 - 150 * 12}, // a cross one side, empty the other
        {{1, 2, 3}, 0, 12, -600 - 150 * 12}, // the edge differs from every content
        {{3, 5, 6, 9}, 4, 0, -600},          // crosses on both sides
    };
    for (const Case& k : cases) {
        for (int c = 0; c < 15; ++c) {
            put(7, c, Empty);
        }
        for (int c : k.crosses) {
            put(7, c, Cross);
        }
        noughtToMove();
        Node parent{};
        parent.movedThrees = 1;
        const Node c = rate(parent, 7, k.move, 9);
        EXPECT_EQ(c.toMoveThrees, 0) << k.move;
        EXPECT_EQ(c.toMovePotential, k.potential) << k.move;
        EXPECT_EQ(c.rating, k.rating) << k.move;
    }
}
