#include "EngineWorld.h"

// A short growth run from a fresh engine: any change in the engine's arithmetic, its order of
// lookups or its prime hand-out shows here as different numbers, in every build.
TEST(Signature, GrowthRunFromAFreshEngine) {
    struct Expected {
        uint32_t rule, rootCount;
        int rootRating, maxPly;
        int64_t hits, ageCollisions, chainMisses, bucketMisses;
    };
    const Expected cases[] = {
        {0, 50449, 2587, 7, 175099, 0, 79233, 60641},
        {1, 54936, 1573, 7, 191403, 0, 83413, 63451},
    };
    for (const Expected& k : cases) {
        EngineRig g(k.rule);
        for (int i = 0; i < 2000; ++i) {
            g->growStep();
        }
        EXPECT_EQ(g->rootNode()->count + 0, k.rootCount) << "rule " << k.rule;
        EXPECT_EQ(g->rootNode()->rating + 0, k.rootRating) << "rule " << k.rule;
        EXPECT_EQ(g->maxPlyReached, k.maxPly) << "rule " << k.rule;
        EXPECT_EQ(g.tables.log.hits, k.hits) << "rule " << k.rule;
        EXPECT_EQ(g.tables.log.ageCollisions, k.ageCollisions) << "rule " << k.rule;
        EXPECT_EQ(g.tables.log.chainMisses, k.chainMisses) << "rule " << k.rule;
        EXPECT_EQ(g.tables.log.bucketMisses, k.bucketMisses) << "rule " << k.rule;
        EXPECT_EQ(g.tables.log.message, nullptr) << "rule " << k.rule;
    }
}

// Long enough to span several chunks of Nodes and rounds of index growth: the table's storage
// must not show in any number, and the root still counts every Node but itself.
TEST(Signature, LongGrowthRun) {
    EngineRig g(0);
    for (int i = 0; i < 15000; ++i) {
        g->growStep();
    }
    const uint64_t nodes = g.tables.table.nodeCount();
    EXPECT_EQ(nodes, 433865u);
    EXPECT_EQ(g->rootNode()->count + 0, nodes - 1);
    EXPECT_EQ(g->rootNode()->rating + 0, 3792);
    EXPECT_EQ(g->maxPlyReached, 11);
    EXPECT_EQ(g.tables.log.hits, 2125162);
    EXPECT_EQ(g.tables.log.ageCollisions, 0);
    EXPECT_EQ(g.tables.log.chainMisses, 849188);
    EXPECT_EQ(g.tables.log.bucketMisses, 451874);
}
