#include <map>
#include <utility>
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

TEST(PackedRefs, WidthIsTheFewestBitsFromSixteenOn) {
    const struct {
        uint64_t ref;
        uint32_t width;
    } cases[] = {{0, 16},           {1, 16},           {65535, 16},          {65536, 17},
                 {131071, 17},      {131072, 18},      {(1u << 24) - 1, 24}, {1u << 24, 25},
                 {0x7FFFFFFFu, 31}, {0x80000000u, 32}, {0xFFFFFFFFu, 32}};
    for (const auto& c : cases) {
        EXPECT_EQ(PackedRefs::widthFor(c.ref), c.width) << c.ref;
    }
}

TEST(PackedRefs, EveryEntryKeepsItsNumberThroughEveryWidening) {
    // Groups of 64 entries, the last one partial and full. Every third group is empty, and so
    // are runs of groups whose widened words fall on the old words of full ones, the last group
    // among them: a widening must clear those words and keep every full group as it was.
    constexpr uint64_t Entries = 64 * 41 + 13;
    const auto empty = [](uint64_t i) {
        const uint64_t group = i / 64;
        return group % 3 == 1 || (group >= 20 && group < 26) || (group >= 37 && group < 41);
    };
    PackedRefs refs(Entries);
    std::vector<NodeRef> expected(Entries);
    uint64_t random = 12345;
    const auto fill = [&](uint32_t width, uint64_t from) {
        for (uint64_t i = from; i < Entries; i += 3) {
            random = random * 6364136223846793005u + 1442695040888963407u;
            // The widest numbers of the width, and any below them.
            const uint64_t top = uint64_t{1} << (width - 1);
            const NodeRef r =
                empty(i) ? 0
                         : static_cast<NodeRef>(i % 2 ? (random >> 32) % (2 * top) : 2 * top - 1);
            refs.set(i, r);
            expected[i] = r;
        }
    };
    const auto same = [&](uint32_t width) {
        for (uint64_t i = 0; i < Entries; ++i) {
            if (refs.get(i) != expected[i]) {
                return ::testing::AssertionFailure()
                       << "entry " << i << " at width " << width << ": " << refs.get(i)
                       << " instead of " << expected[i];
            }
        }
        return ::testing::AssertionSuccess();
    };
    for (uint64_t k = 0; k < 3; ++k) {
        fill(16, k);
    }
    ASSERT_TRUE(same(16));
    EXPECT_GT(refs.bytesAt(32), refs.bytes()) << "in whole pages, twice the bits";
    for (uint32_t width = 17; width <= 32; ++width) {
        ASSERT_TRUE(refs.widen(width));
        EXPECT_EQ(refs.width(), width);
        EXPECT_EQ(refs.bytes(), refs.bytesAt(width));
        ASSERT_TRUE(same(width));
        fill(width, width % 3); // a third of the entries rewritten at the new width
        ASSERT_TRUE(same(width));
    }

    // Several bits at once re-encode as well.
    PackedRefs jump(Entries);
    for (uint64_t i = 0; i < Entries; ++i) {
        jump.set(i, expected[i] & 0xFFFFu);
    }
    ASSERT_TRUE(jump.widen(29));
    EXPECT_EQ(jump.bytes(), jump.bytesAt(29));
    for (uint64_t i = 0; i < Entries; ++i) {
        ASSERT_EQ(jump.get(i), expected[i] & 0xFFFFu) << i;
    }
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
    EXPECT_EQ(w.table.headWidth(), 19u) << "300000 Node numbers need 19 bits";
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(w.table.find(i + 1, spreadMoved(i), 9), nodes[i]) << i;
        ASSERT_EQ(nodes[i]->count + 0, i);
        ASSERT_EQ(nodes[i]->hashcodeToMove + 0, i + 1);
    }
    EXPECT_EQ(w.log.hits, int64_t{n});
}

TEST(NodeTable, EveryChainIsFoundAgainAfterTheHeadsWiden) {
    // Chains of one to four Nodes, started before the head array widens from 16 to 18 bits and
    // ended after it: 300 slots spread from the array's first slot on, and the array's last 300
    // slots, neighbours whose entries share words, given the highest 16-bit Node numbers.
    World w;
    NodeTable& t = w.table;
    constexpr uint32_t Rows = NodeTable::BucketRows;
    constexpr uint32_t ColumnSlots = NodeTable::BucketColumns * NodeTable::BlockSize;
    struct Key {
        uint32_t toMove;
        uint32_t moved;
        uint8_t age;
    };
    // Every Node made, by its slot, in creation order: what each chain must hold.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<Node*>> slots;
    std::vector<std::pair<Key, Node*>> made;
    const auto create = [&](Key k) {
        const NodeTable::Found f = t.findOrCreate(k.toMove, k.moved, k.age);
        ASSERT_TRUE(f.created);
        slots[{NodeTable::bucketOf(k.toMove, k.moved), NodeTable::slotOf(k.moved)}].push_back(
            f.node);
        made.push_back({k, f.node});
    };
    // Depth d of chain i: the same slot, another hashcodeToMove.
    const auto chainKey = [](uint32_t i, uint32_t d) {
        const uint32_t row = i < 300 ? i * 7 % Rows : Rows - 1 - (i - 300);
        const uint32_t columnSlot = i < 300 ? i * 58 : ColumnSlots - 1;
        return Key{row + 1 + d * Rows, columnSlot + 1, 7};
    };
    const auto chainsAtDepth = [&](uint32_t d, uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i) {
            if (d < 1 + i % 4) {
                create(chainKey(i, d));
            }
        }
    };
    uint32_t filler = 0;
    const auto fillTo = [&](uint64_t nodes) {
        for (; t.nodeCount() < nodes; ++filler) {
            create({filler + 1, spreadMoved(filler), 200});
        }
    };
    chainsAtDepth(0, 0, 300);
    chainsAtDepth(1, 0, 300);
    fillTo(65535 - 300);
    chainsAtDepth(0, 300, 600);
    EXPECT_EQ(t.headWidth(), 16u);
    chainsAtDepth(1, 300, 600);
    fillTo(140000);
    EXPECT_EQ(t.headWidth(), 18u);
    for (uint32_t d = 2; d < 4; ++d) {
        chainsAtDepth(d, 0, 600);
    }
    for (const auto& [slot, chain] : slots) {
        Node* n = t.head(slot.first, slot.second);
        for (Node* expected : chain) {
            ASSERT_EQ(n, expected) << "bucket " << slot.first << " slot " << slot.second;
            n = t.nextInChain(n);
        }
        ASSERT_EQ(n, nullptr) << "bucket " << slot.first << " slot " << slot.second;
    }
    EXPECT_EQ(t.head(0, 0), slots.at({0, 0}).front()) << "the first slot";
    EXPECT_EQ(t.head(NodeTable::BucketCount - 1, NodeTable::BlockSize - 1),
              slots.at({NodeTable::BucketCount - 1, NodeTable::BlockSize - 1}).front())
        << "the last slot";
    for (const auto& [k, node] : made) {
        ASSERT_EQ(t.find(k.toMove, k.moved, k.age), node);
    }
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
