#include "EngineWorld.h"

#include <random>
#include <vector>

TEST(Builder, RatingWeightTable) {
    const std::pair<int, uint32_t> cases[] = {
        {-32768, 1},    {-20001, 1},    {-20000, 2},   {-10001, 11}, {-10000, 13},
        {-4501, 40},    {-4500, 41},    {-2001, 290},  {-2000, 292}, {0, 2292},
        {19999, 22291}, {20000, 22292}, {32767, 22292}};
    for (auto [r, w] : cases) {
        EXPECT_EQ(ratingWeight(static_cast<int16_t>(r)), w) << r;
    }
    uint32_t last = 0;
    for (int r = -32768; r <= 32767; ++r) {
        const uint32_t w = ratingWeight(static_cast<int16_t>(r));
        ASSERT_GE(w, last) << r;
        last = w;
    }
}

TEST(Builder, ScoreIsSinglePrecisionAndSquaresAbove60000) {
    EXPECT_EQ(Builder::childScore(0, 0), 2292.0f / 50.0f);
    EXPECT_FLOAT_EQ(Builder::childScore(0, 0), 45.84f);
    EXPECT_FLOAT_EQ(Builder::childScore(100, 0), 47.84f);
    EXPECT_FLOAT_EQ(Builder::childScore(0, 1000), 2292.0f / 1050.0f);
    EXPECT_EQ(Builder::childScore(0, 60000), static_cast<float>(2292.0L / 60050.0L));
    EXPECT_EQ(Builder::childScore(0, 60001), static_cast<float>(2292.0L * 2292.0L / 60051.0L));
    EXPECT_EQ(Builder::childScore(20000, 70000), static_cast<float>(496933264.0L / 70050.0L));
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override {
        g->listChildren();
        ASSERT_EQ(g->childCount, 2);
        low = g->childNodes[0];
        high = g->childNodes[1];
    }
    void set(Node* n, int rating, uint32_t count) {
        n->rating = static_cast<int16_t>(rating);
        n->count = count;
    }
    EngineRig g;
    Node* low = nullptr;  // cell 113
    Node* high = nullptr; // cell 128
};

TEST_F(Selection, PrefersGoodAndLittleExploredChildren) {
    set(low, 0, 0);
    set(high, 100, 0);
    EXPECT_EQ(g->selectChild(), 1);
    set(high, 0, 1000);
    EXPECT_EQ(g->selectChild(), 0);
    set(high, 0, 0);
    EXPECT_EQ(g->selectChild(), 0) << "equal scores: the lowest cell";
}

TEST_F(Selection, DecidedChildrenAreNeverEntered) {
    struct Case {
        int rating;
        bool enterable;
    };
    for (const Case& k : {Case{32299, true}, Case{-32299, true}, Case{32300, false},
                          Case{-32300, false}, Case{32600, false}}) {
        set(low, k.rating, 0);
        set(high, -32600, 0);
        EXPECT_EQ(g->selectChild(), k.enterable ? 0 : -1) << k.rating;
    }
}

TEST(Builder, StepLeavesThePositionAsItWas) {
    EngineRig g;
    ASSERT_TRUE(g->playClicked(113));
    const std::vector<uint8_t> board(g->board, g->board + CellCount);
    for (int i = 0; i < 300; ++i) {
        g->growStep();
        ASSERT_EQ(g->plyCount, 2);
        ASSERT_EQ(std::vector<uint8_t>(g->board, g->board + CellCount), board);
    }
    EXPECT_GT(g->maxPlyReached, 4);
    EXPECT_EQ(g->rootNode()->count + 0, g.tables.table.nodeCount() - 1);
}

TEST(Builder, NothingToEnterAtTheStartRepairsItsRating) {
    EngineRig g;
    g->listChildren();
    for (int i = 0; i < g->childCount; ++i) {
        g->childNodes[i]->rating = 32600;
    }
    g->rootNode()->rating = 0;
    g->growStep();
    EXPECT_EQ(g->plyCount, 1);
    EXPECT_STREQ(g.tables.log.message, "builder fallback");
    EXPECT_EQ(g->rootNode()->rating + 0, -32600);
    EXPECT_EQ(g->rootNode()->candidateCount, 2) << "the start keeps its candidates";
}

TEST(Builder, NothingToEnterBelowTheStartFallsBack) {
    EngineRig g;
    ASSERT_TRUE(g->playCell(113));
    Node* a = g->topNode();
    g->expand();
    const uint8_t candidates = a->candidateCount;
    ASSERT_GT(candidates, 0);
    g->listChildren();
    for (int i = 0; i < g->childCount; ++i) {
        g->childNodes[i]->rating = 32600; // every reply wins: nothing to enter below a
    }
    g->undoMove();
    g->listChildren();
    ASSERT_EQ(g->childNodes[0], a);
    g->childNodes[1]->rating = -32600; // the other root child is closed too
    a->rating = 0;

    g->growStep();
    EXPECT_STREQ(g.tables.log.message, "builder fallback");
    EXPECT_EQ(g->plyCount, 1);
    // a fell back until its candidate count wrapped to 0, then was expanded afresh.
    EXPECT_EQ(a->candidateCount, candidates);
    EXPECT_EQ(a->count + 0, static_cast<uint32_t>(candidates));
}

TEST(Builder, WalkStopsAtPly224AndExpandsThere) {
    EngineRig g;
    for (int c = 0; g->plyCount < 223; ++c) {
        if (g->board[c] <= Candidate && c != 223 && c != 224) {
            forceMove(*g, g.tables, static_cast<CellIndex>(c));
        }
    }
    ASSERT_EQ(g->board[223], Candidate);
    ASSERT_EQ(g->board[224], Candidate);
    Node* top = g->topNode();
    top->rating = 0;
    g->expand();
    g->listChildren();
    ASSERT_EQ(g->childCount, 2);
    for (int i = 0; i < 2; ++i) {
        Node* child = g->childNodes[i];
        child->rating = 0;
        g->pushMove(g->childCells[i], child);
        g->expand();
        ASSERT_NE(child->candidateCount, 0) << "expanded before the step";
        g->undoMove();
    }
    g->maxPlyReached = 0;
    g->growStep();
    EXPECT_EQ(g->maxPlyReached, 224);
    EXPECT_EQ(g->plyCount, 223);
}
