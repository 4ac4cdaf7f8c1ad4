#include "EngineWorld.h"

TEST(Expander, BlendIsAnExtendedProductTruncated) {
    struct Case {
        int old, best, expected;
    };
    const Case cases[] = {{0, -5, 2},
                          {0, -10, 5},
                          {0, 5, -2},
                          {10, 0, 4},
                          {-10, 0, -4},
                          {100, 50, 10},
                          {7, -3, 4},
                          {1000, -1000, 1000},
                          {0, -32600, 19559},
                          {-32200, 32600, -32439},
                          {32200, -32600, 32439}};
    for (const Case& k : cases) {
        EXPECT_EQ(Expander::blend(static_cast<int16_t>(k.old), k.best), k.expected)
            << k.old << ", " << k.best;
    }
}

TEST(Expander, RootExpansionAtConstruction) {
    EngineRig g;
    Node* root = g->rootNode();
    EXPECT_EQ(g->maxPlyReached, 1);
    EXPECT_EQ(root->candidateCount, 2);
    EXPECT_EQ(root->count + 0, 2u);
    EXPECT_EQ(g.tables.table.nodeCount(), 3u);
    g->listChildren();
    ASSERT_EQ(g->childCount, 2);
    const int best = std::max<int>(g->childNodes[0]->rating, g->childNodes[1]->rating);
    EXPECT_EQ(root->rating + 0, Expander::blend(0, best));
}

TEST(Expander, DecidedNodesOnlyCountTheVisit) {
    struct Case {
        int rating;
        bool expanded;
    };
    for (const Case& k :
         {Case{32201, false}, Case{-32201, false}, Case{32200, true}, Case{-32200, true}}) {
        EngineRig g;
        Node* n = forceMove(*g, g.tables, 113);
        n->rating = static_cast<int16_t>(k.rating);
        n->count = 40;
        const uint64_t nodes = g.tables.table.nodeCount();
        g->expand();
        if (k.expanded) {
            EXPECT_GT(g.tables.table.nodeCount(), nodes) << k.rating;
            EXPECT_NE(n->candidateCount, 0) << k.rating;
            EXPECT_EQ(g->maxPlyReached, 2);
        } else {
            EXPECT_EQ(n->count + 0, 41u) << k.rating;
            EXPECT_EQ(n->rating + 0, k.rating);
            EXPECT_EQ(n->candidateCount, 0);
            EXPECT_EQ(g.tables.table.nodeCount(), nodes);
            EXPECT_EQ(g->maxPlyReached, 1);
        }
    }
}

TEST(Expander, ExistingChildrenContributeTheirWholeCount) {
    EngineRig g;
    ASSERT_TRUE(g->playClicked(113));
    Node* n = g->topNode();
    g->expand();
    g->listChildren();
    uint32_t sum = 0;
    for (int i = 0; i < g->childCount; ++i) {
        g->childNodes[i]->count = static_cast<uint32_t>(10 * i);
        sum += g->childNodes[i]->count + 1;
    }
    const uint64_t nodes = g.tables.table.nodeCount();
    Node* root = g->rootNode();
    root->rating = 777; // stale: added 0 recomputes every ancestor reached
    const uint32_t rootCount = root->count;
    g->expand();
    EXPECT_EQ(g.tables.table.nodeCount(), nodes);
    EXPECT_EQ(n->count + 0, sum);
    EXPECT_EQ(root->count + 0, rootCount) << "nothing created, nothing added";
    EXPECT_NE(root->rating + 0, 777);
}

TEST(Expander, EmptyExpansionListBlendsWithNoMove) {
    EngineRig g;
    Node* n = forceMove(*g, g.tables, 113);
    for (int c = 0; c < CellCount; ++c) {
        if (g->board[c] == Candidate) {
            g->board[c] = Empty;
        }
    }
    n->rating = 0;
    n->count = 9;
    g->expand();
    EXPECT_EQ(n->count + 0, 0u);
    EXPECT_EQ(n->candidateCount, 0);
    EXPECT_EQ(n->rating + 0, 19559);
}

TEST(Expander, FixedRatingsKeepTheirValue) {
    EngineRig g;
    Node* n = forceMove(*g, g.tables, 113);
    n->rating = -6026;
    n->ratingFixed = 1;
    g->expand();
    EXPECT_EQ(n->rating + 0, -6026);
    EXPECT_GT(n->count + 0, 0u);
    EXPECT_GT(n->candidateCount, 0);
}

TEST(Expander, MaxPlyOnlyRises) {
    EngineRig g;
    for (int c : {113, 114, 115, 116}) {
        forceMove(*g, g.tables, static_cast<CellIndex>(c));
    }
    ASSERT_EQ(g->plyCount, 5);
    g->expand();
    EXPECT_EQ(g->maxPlyReached, 5);
    g->undoMove();
    g->undoMove();
    g->expand();
    EXPECT_EQ(g->maxPlyReached, 5);
}

TEST(Expander, ExpansionWithoutRoomChangesNothing) {
    // Growth runs into the table's limit mid-search: every expansion either happens whole or
    // leaves the tree as it was, so the root still counts every Node but itself.
    for (uint64_t room : {uint64_t{600000}, uint64_t{2000000}}) {
        EngineSet set(0);
        Gameboard& g = set.engine;
        NodeTable& table = set.tables.table;
        table.setMemoryLimit(table.bytesInUse() + room);
        int steps = 0;
        while (!table.limitReached() && steps < 100000) {
            g.growStep();
            ++steps;
        }
        ASSERT_TRUE(table.limitReached()) << room;
        EXPECT_EQ(g.rootNode()->count + 0, table.nodeCount() - 1) << room;
        // The leaf the refused step tried, reached by the same descent since nothing changed:
        // refused again, the position, its Node and the table stay as they were.
        while (g.topNode()->candidateCount != 0) {
            const int i = g.selectChild();
            ASSERT_GE(i, 0);
            g.pushMove(g.childCells[i], g.childNodes[i]);
        }
        const Node before = *g.topNode();
        const uint64_t nodes = table.nodeCount();
        const Logger log = set.tables.log;
        EXPECT_FALSE(g.expand());
        EXPECT_EQ(table.nodeCount(), nodes);
        EXPECT_EQ(g.topNode()->count + 0, before.count + 0);
        EXPECT_EQ(g.topNode()->rating + 0, before.rating + 0);
        EXPECT_EQ(g.topNode()->candidateCount, 0);
        EXPECT_EQ(set.tables.log.hits + set.tables.log.bucketMisses + set.tables.log.chainMisses,
                  log.hits + log.bucketMisses + log.chainMisses)
            << "not even a lookup";
        EXPECT_TRUE(positionConsistent(g));
        // The room kept for play lets it through.
        table.openReserve(true);
        EXPECT_TRUE(g.expand());
        table.openReserve(false);
        EXPECT_EQ(g.rootNode()->count + 0, table.nodeCount() - 1) << room;
    }
}
