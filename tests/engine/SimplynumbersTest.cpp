#include <vector>

#include "EngineWorld.h"

TEST(CellPrimes, HandsOutPrimesInFirstAskedOrder) {
    CellPrimes primes;
    EXPECT_EQ(primes.primeFor(40), 2u);
    EXPECT_EQ(primes.primeFor(7), 3u);
    EXPECT_EQ(primes.primeFor(40), 2u);
    EXPECT_EQ(primes.primeFor(200), 5u);
    EXPECT_EQ(primes.knownPrimeFor(7), 3u);
    EXPECT_EQ(primes.knownPrimeFor(8), 0u) << "a cell never asked for has no prime";
}

TEST(CellPrimes, TheLastOfAllCellsGets1427) {
    CellPrimes primes;
    uint32_t last = 0;
    for (int c = CellCount - 1; c >= 0; --c) {
        last = primes.primeFor(static_cast<CellIndex>(c));
    }
    EXPECT_EQ(last, 1427u);
    EXPECT_EQ(primes.lastIndex, 224);
    EXPECT_EQ(primes.primes[224], 1427u);
    EXPECT_EQ(primes.primeFor(0), 1427u) << "asking again hands out nothing";
}

TEST(NodeTable, SlotsAreAddressedAsWritten) {
    EXPECT_EQ(NodeTable::bucketOf(1, 1), 0u);
    EXPECT_EQ(NodeTable::slotOf(1), 0u);
    // k - 1 wraps for k = 0.
    EXPECT_EQ(NodeTable::bucketOf(0, 0), (4294967295u / 331 % 53) * 1009 + 4294967295u % 1009);
    EXPECT_EQ(NodeTable::slotOf(0), 4294967295u % 331);
    EXPECT_EQ(NodeTable::bucketOf(1010, 332), 1u * 1009 + 0u);
    EXPECT_EQ(NodeTable::slotOf(332), 0u);
}

TEST(NodeTable, RootLandsInBucketZeroSlotZero) {
    World w;
    NodeTable::Found f = w.table.findOrCreate(1, 1, 0);
    ASSERT_TRUE(f.created);
    EXPECT_EQ(f.node, w.table.head(0, 0));
    EXPECT_EQ(f.node->count + 0, 0u);
    EXPECT_EQ(f.node->rating + 0, 0);
    EXPECT_EQ(w.table.nextInChain(f.node), nullptr);
}

TEST(NodeTable, FindOrCreateTwiceCreatesOnceAndCountsAHit) {
    World w;
    NodeTable::Found a = w.table.findOrCreate(3, 5, 2);
    EXPECT_TRUE(a.created);
    EXPECT_EQ(w.log.bucketMisses, 1);
    NodeTable::Found b = w.table.findOrCreate(3, 5, 2);
    EXPECT_FALSE(b.created);
    EXPECT_EQ(a.node, b.node);
    EXPECT_EQ(w.log.hits, 1);
    EXPECT_EQ(w.table.find(3, 5, 2), a.node);
    EXPECT_EQ(w.log.hits, 2);
    EXPECT_EQ(w.log.message, nullptr);
}

TEST(NodeTable, SameHashcodesOtherAgeGetTheirOwnNode) {
    World w;
    Node* young = w.table.findOrCreate(7, 11, 3).node;
    NodeTable::Found old = w.table.findOrCreate(7, 11, 5);
    ASSERT_TRUE(old.created);
    EXPECT_NE(old.node, young);
    EXPECT_EQ(w.table.nextInChain(young), old.node) << "appended to the slot's chain";
    EXPECT_EQ(w.log.ageCollisions, 1);
    EXPECT_STREQ(w.log.message, "age collision");
    EXPECT_EQ(w.table.find(7, 11, 5), old.node);
    EXPECT_EQ(w.table.find(7, 11, 3), young);
    // A lookup that meets only other ages counts an age collision but sets no message.
    w.log.setMessage(nullptr);
    EXPECT_EQ(w.table.find(7, 11, 4), nullptr);
    EXPECT_EQ(w.log.ageCollisions, 2);
    EXPECT_EQ(w.log.message, nullptr);
}

TEST(NodeTable, KeysSharingASlotAreChainedAndFoundAgain) {
    World w;
    // Same hashcodeMoved and hashcodeToMove equal modulo 1009: one bucket, one slot.
    const uint32_t keys[] = {5, 5 + 1009, 5 + 2 * 1009, 5 + 3 * 1009};
    Node* nodes[4];
    for (int i = 0; i < 4; ++i) {
        NodeTable::Found f = w.table.findOrCreate(keys[i], 77, 4);
        ASSERT_TRUE(f.created);
        nodes[i] = f.node;
    }
    EXPECT_EQ(w.log.bucketMisses, 1);
    EXPECT_EQ(w.log.chainMisses, 3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w.table.find(keys[i], 77, 4), nodes[i]);
    }
    EXPECT_EQ(w.table.nextInChain(nodes[0]), nodes[1]);
    EXPECT_EQ(w.table.nextInChain(nodes[2]), nodes[3]);
    EXPECT_EQ(w.table.find(5 + 4 * 1009, 77, 4), nullptr);
    EXPECT_EQ(w.log.chainMisses, 4);
    EXPECT_EQ(w.table.nodeCount(), 4u);
}

TEST(NodeTable, MissesAreCountedByWhatTheLookupMet) {
    World w;
    EXPECT_EQ(w.table.find(2, 3, 1), nullptr);
    EXPECT_EQ(w.log.bucketMisses, 1) << "no block: nothing examined";
    w.table.findOrCreate(2, 3, 1);
    EXPECT_EQ(w.log.bucketMisses, 2);
    // Same bucket, other slot: the free head counts as another key.
    EXPECT_EQ(w.table.find(2, 4, 1), nullptr);
    EXPECT_EQ(w.log.chainMisses, 1);
    // ...whereas creating into a free head is a bucket miss.
    EXPECT_TRUE(w.table.findOrCreate(2, 4, 1).created);
    EXPECT_EQ(w.log.bucketMisses, 3);
    EXPECT_EQ(w.log.hits + w.log.ageCollisions + w.log.chainMisses + w.log.bucketMisses, 4);
}

TEST(NodeTable, ZeroHashcodeIsReportedAndFindsNothing) {
    World w;
    EXPECT_EQ(w.table.find(0, 5, 1), nullptr);
    EXPECT_STREQ(w.log.message, "zero hashcode");
    EXPECT_EQ(w.log.bucketMisses, 1);
}

TEST(NodeTable, NewNodesAreZeroExceptTheirKey) {
    World w;
    Node* n = w.table.findOrCreate(0x12345678u, 0x9abcdef0u, 200).node;
    EXPECT_EQ(n->hashcodeToMove + 0, 0x12345678u);
    EXPECT_EQ(n->hashcodeMoved + 0, 0x9abcdef0u);
    EXPECT_EQ(n->age, 200);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(n);
    for (std::size_t i = 0; i < offsetof(Node, age); ++i) {
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
}

namespace {
// Distinct keys spread over the buckets: hashcodeToMove tells them apart.
uint32_t spreadMoved(uint32_t i) {
    return (i * 2654435761u) | 1u;
}
} // namespace

TEST(NodeTable, NodesStayWhereTheyWereWhileTheTableGrows) {
    // Enough Nodes for several chunks of Nodes and several rounds of index growth.
    World w;
    constexpr uint32_t n = 300000;
    std::vector<Node*> nodes(n);
    for (uint32_t i = 0; i < n; ++i) {
        const NodeTable::Found f = w.table.findOrCreate(i + 1, spreadMoved(i), 9);
        ASSERT_TRUE(f.created) << i;
        f.node->count = i; // a mark that must survive every later creation
        nodes[i] = f.node;
    }
    EXPECT_EQ(w.table.nodeCount(), n);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(w.table.find(i + 1, spreadMoved(i), 9), nodes[i]) << i;
        ASSERT_EQ(nodes[i]->count + 0, i);
        ASSERT_EQ(nodes[i]->hashcodeToMove + 0, i + 1);
    }
    EXPECT_EQ(w.log.hits, int64_t{n});
}

TEST(NodeTable, PreparedCreationsAllocateNothingMore) {
    // Batches of every size the engine asks for, across chunk ends and index growth: what
    // makeRoom allocated is all that the batch's creations use.
    World w;
    uint32_t next = 1;
    for (int batch = 0; batch < 3000; ++batch) {
        const int n = 1 + batch % 224;
        ASSERT_TRUE(w.table.makeRoom(n));
        const uint64_t bytes = w.table.bytesInUse();
        for (int i = 0; i < n; ++i, ++next) {
            ASSERT_TRUE(w.table.findOrCreate(next, spreadMoved(next), 3).created);
        }
        ASSERT_EQ(w.table.bytesInUse(), bytes) << "batch " << batch;
    }
    EXPECT_FALSE(w.table.limitReached());
}

TEST(NodeTable, MakeRoomRefusesAtTheLimitAndTheReserveLetsPlayOn) {
    World w;
    NodeTable& t = w.table;
    t.setMemoryLimit(t.bytesInUse());
    // Use up what is already allocated, then the next batch needs more than the limit allows.
    uint32_t next = 1;
    int batches = 0;
    while (t.makeRoom(200)) {
        ASSERT_FALSE(t.limitReached());
        for (int i = 0; i < 200; ++i, ++next) {
            t.findOrCreate(next, spreadMoved(next), 5);
        }
        ASSERT_LT(++batches, 100000);
    }
    EXPECT_GT(batches, 0) << "the table starts with room";
    EXPECT_TRUE(t.limitReached());
    const uint64_t bytes = t.bytesInUse();
    const uint64_t nodes = t.nodeCount();
    EXPECT_FALSE(t.makeRoom(200));
    EXPECT_EQ(t.bytesInUse(), bytes) << "a refusal allocates nothing";
    EXPECT_EQ(t.nodeCount(), nodes);
    EXPECT_LE(bytes, t.memoryLimit());

    t.openReserve(true);
    ASSERT_TRUE(t.makeRoom(200));
    EXPECT_GT(t.bytesInUse(), t.memoryLimit());
    EXPECT_LE(t.bytesInUse(), t.memoryLimit() + NodeTable::PlayReserve);
    for (int i = 0; i < 200; ++i, ++next) {
        EXPECT_TRUE(t.findOrCreate(next, spreadMoved(next), 5).created);
    }
    t.openReserve(false);
    EXPECT_EQ(t.nodeCount(), nodes + 200);
    EXPECT_EQ(t.find(next - 1, spreadMoved(next - 1), 5)->hashcodeToMove + 0, next - 1);
}
