#include "EngineWorld.h"

#include <vector>

namespace {

std::vector<int> childCells(const Gameboard& g) {
    return std::vector<int>(g.childCells, g.childCells + g.childCount);
}

} // namespace

TEST(Relator, RingThreeHasTheTwentyFourBorderCellsOfTheCentralSquare) {
    int n = 0;
    for (int c = 0; c < CellCount; ++c) {
        n += Relator::isOnRingThree(static_cast<CellIndex>(c)) ? 1 : 0;
    }
    EXPECT_EQ(n, 24);
    EXPECT_TRUE(Relator::isOnRingThree(64));
    EXPECT_TRUE(Relator::isOnRingThree(67));
    EXPECT_FALSE(Relator::isOnRingThree(52));
    EXPECT_FALSE(Relator::isOnRingThree(112));
}

TEST(Relator, ListsFollowTheOpeningRuleRing) {
    EngineRig g(1);
    ASSERT_TRUE(g->playClicked(113));
    ASSERT_EQ(g->plyCount, 2);
    g->listExpandCells();
    const std::vector<int> expand(g->expandCells, g->expandCells + g->expandCount);
    for (int c : expand) {
        EXPECT_TRUE(Relator::isOnRingThree(static_cast<CellIndex>(c))) << c;
        EXPECT_LE(g->board[c], Candidate);
    }
    EXPECT_NE(std::find(expand.begin(), expand.end(), 157), expand.end()) << "an Empty ring cell";
    EXPECT_EQ(std::find(expand.begin(), expand.end(), 67), expand.end()) << "mirror image of 157";
    EXPECT_TRUE(std::is_sorted(expand.begin(), expand.end()));
    g->computerMove();
    g->undoMove();
    g->listChildren();
    const std::vector<int> children = childCells(*g);
    ASSERT_FALSE(children.empty());
    for (int c : children) {
        EXPECT_TRUE(Relator::isOnRingThree(static_cast<CellIndex>(c))) << c;
    }
    EXPECT_TRUE(std::is_sorted(children.begin(), children.end()));
}

TEST(Relator, ListsAreCandidatesInIncreasingOrder) {
    EngineRig g;
    g->listChildren();
    EXPECT_EQ(childCells(*g), (std::vector<int>{113, 128}));
    g->listExpandCells();
    EXPECT_EQ(std::vector<int>(g->expandCells, g->expandCells + g->expandCount),
              (std::vector<int>{113, 128}));
}

TEST(Relator, ParentThroughAWrappedProduct) {
    World w;
    Relator r(&w.primes, &w.table);
    r.logger = &w.log;
    ASSERT_EQ(w.primes.primeFor(10), 2u);
    ASSERT_EQ(w.primes.primeFor(20), 3u);
    Node child{};
    child.hashcodeToMove = 77;
    child.hashcodeMoved = 1;
    child.age = 4;
    EXPECT_EQ(r.findParent(&child, 20), nullptr);
    Node* parent = w.table.findOrCreate(2863311531u, 77, 3).node; // 3 x 2863311531 = 2^33 + 1
    EXPECT_EQ(r.findParent(&child, 20), parent);
}

TEST(Relator, ParentForThePrimeTwoTriesBothRoots) {
    World w;
    Relator r(&w.primes, &w.table);
    r.logger = &w.log;
    ASSERT_EQ(w.primes.primeFor(10), 2u);
    Node child{};
    child.hashcodeToMove = 9;
    child.hashcodeMoved = 10;
    child.age = 6;
    Node* high = w.table.findOrCreate(2147483653u, 9, 5).node;
    const int lookups = w.log.hits + w.log.chainMisses + w.log.bucketMisses;
    EXPECT_EQ(r.findParent(&child, 10), high);
    EXPECT_EQ(w.log.hits + w.log.chainMisses + w.log.bucketMisses, lookups + 2)
        << "5, then 2^31 + 5";
    Node* low = w.table.findOrCreate(5, 9, 5).node;
    EXPECT_EQ(r.findParent(&child, 10), low);
    child.hashcodeMoved = 11;
    EXPECT_EQ(r.findParent(&child, 10), nullptr) << "an odd product has no half";
    EXPECT_EQ(r.findParent(&child, 99), nullptr) << "a cell without a prime";
    EXPECT_STREQ(w.log.message, "unknown prime");
}

TEST(Relator, RecomputeOnlyAddsWhenNothingChangedBelow) {
    EngineRig g;
    Node* root = g->rootNode();
    const uint32_t count = root->count;
    root->rating = 4321;
    EXPECT_FALSE(g->recomputeFromChildren(root, 5, false));
    EXPECT_EQ(root->rating + 0, 4321);
    EXPECT_EQ(root->count + 0, count + 5);
    EXPECT_TRUE(g->recomputeFromChildren(root, 0, false)) << "added 0 always recomputes";
    g->listChildren();
    int best = -32600;
    for (int i = 0; i < g->childCount; ++i) {
        best = std::max<int>(best, g->childNodes[i]->rating);
    }
    EXPECT_EQ(root->rating + 0, -best);
    EXPECT_FALSE(g->recomputeFromChildren(root, 0, true)) << "already agrees";
}

TEST(Relator, RatingJumpStatistics) {
    struct Case {
        uint32_t count;
        int old, now;
        int r10k, r20k, r10kL, r20kL;
    };
    const Case cases[] = {
        {199, 500, 15000, 0, 0, 0, 0},     {200, 500, 15000, 1, 0, 0, 0},
        {10000, 500, 15000, 1, 0, 1, 0},   {200, 15000, 25000, 0, 1, 0, 0},
        {10000, 15000, 25000, 0, 1, 0, 1}, {200, 5000, 25000, 1, 0, 0, 0},
        {200, -500, -15000, 1, 0, 0, 0},   {200, -12000, 25000, 0, 1, 0, 0},
        {200, 9000, -25000, 1, 0, 0, 0},   {200, 25000, 5000, 0, 0, 0, 0},
    };
    for (const Case& k : cases) {
        EngineRig g;
        Node* root = g->rootNode();
        g->listChildren();
        for (int i = 0; i < g->childCount; ++i) {
            g->childNodes[i]->rating = static_cast<int16_t>(-k.now);
        }
        root->rating = static_cast<int16_t>(k.old);
        root->count = k.count;
        EXPECT_TRUE(g->recomputeFromChildren(root, 7, true));
        EXPECT_EQ(root->rating + 0, k.now);
        EXPECT_EQ(root->count + 0, k.count + 7);
        EXPECT_EQ(g.tables.log.reached10000, k.r10k) << k.count << " " << k.old << "->" << k.now;
        EXPECT_EQ(g.tables.log.reached20000, k.r20k) << k.count << " " << k.old << "->" << k.now;
        EXPECT_EQ(g.tables.log.reached10000Large, k.r10kL)
            << k.count << " " << k.old << "->" << k.now;
        EXPECT_EQ(g.tables.log.reached20000Large, k.r20kL)
            << k.count << " " << k.old << "->" << k.now;
    }
}

TEST(Relator, PropagationReachesTransposedParents) {
    EngineRig g;
    // Noughts 113 and 128 in both orders around the cross on 114: one Node, two parents.
    ASSERT_TRUE(g->playClicked(128));
    g->expand();
    ASSERT_TRUE(g->playClicked(114));
    Node* viaB = g->topNode();
    g->expand();
    g->rewindToRoot();
    ASSERT_TRUE(g->playClicked(113));
    g->expand();
    ASSERT_TRUE(g->playClicked(114));
    Node* viaA = g->topNode();
    g->expand();
    ASSERT_TRUE(g->playClicked(128));
    Node* joint = g->topNode();
    EXPECT_EQ(g->findParent(joint, 113), viaB);
    EXPECT_EQ(g->findParent(joint, 128), viaA);

    viaA->rating = 1111;
    viaB->rating = 2222;
    const uint32_t countA = viaA->count, countB = viaB->count, rootCount = g->rootNode()->count;
    g->expand();
    const uint32_t created = joint->count;
    ASSERT_GT(created, 0u);
    EXPECT_EQ(viaA->count + 0, countA + created);
    EXPECT_EQ(viaB->count + 0, countB + created) << "the transposed parent gets the count too";
    EXPECT_EQ(g->rootNode()->count + 0, rootCount + created) << "and the root only once";
    EXPECT_NE(viaA->rating + 0, 1111);
    EXPECT_NE(viaB->rating + 0, 2222) << "recomputed although it is off the game's line";
    EXPECT_EQ(g.tables.log.message, nullptr);
}

TEST(Relator, PropagationFromTheRootVisitsNothing) {
    EngineRig g;
    const Logger before = g.tables.log;
    g->propagateUp(3);
    EXPECT_EQ(g.tables.log.hits, before.hits);
    EXPECT_EQ(g.tables.log.chainMisses + g.tables.log.bucketMisses,
              before.chainMisses + before.bucketMisses);
}

TEST(Relator, MissingParentOnTheGameLineIsReported) {
    EngineRig g;
    forceMove(*g, g.tables, 113);
    forceMove(*g, g.tables, 144);
    // Hide the middle position from the table by moving its key.
    g->plyAt(1).node->hashcodeToMove = 999983;
    g->propagateUp(1);
    EXPECT_STREQ(g.tables.log.message, "no parent found");
}
