#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Logger.h"

using CellIndex = uint8_t;
constexpr CellIndex NoCell = 255;
constexpr int BoardSide = 15;
constexpr int CellCount = BoardSide * BoardSide;
constexpr CellIndex CentreCell = 112;

/// A Node's place in its table: its number in creation order, 0 for none. Four bytes instead of
/// a pointer's eight keep every Node and every chain head small.
using NodeRef = uint32_t;

// One searched position, stored once whatever the move order that reached it. Packed: the table
// holds tens of millions of them.
#pragma pack(push, 1)
struct Node {
    uint32_t count;         ///< positions below, each shared Node counted once per path
    int16_t rating;         ///< value for the side that has just moved into this position
    uint8_t ratingFixed;    ///< expansion keeps the evaluation's rating
    uint8_t candidateCount; ///< moves generated at the last expansion; 0 = never expanded
    uint8_t toMovePotential;
    uint8_t toMoveThrees;
    uint8_t toMoveFours;
    uint8_t movedPotential;
    uint8_t movedThrees;
    uint8_t movedFours;
    uint8_t age;             ///< moves made since the centre stone alone
    uint32_t hashcodeToMove; ///< product of the primes of the side to move
    uint32_t hashcodeMoved;  ///< product of the primes of the side that has just moved
    NodeRef next;            ///< next Node of the same slot's chain, 0 at its end
};
#pragma pack(pop)
static_assert(sizeof(Node) == 27, "Node must stay packed");

/// Per-cell primes, handed out in the order in which cells are first asked for.
class CellPrimes {
public:
    uint32_t primeFor(CellIndex cell) {
        uint32_t p = cellPrime[cell];
        return p != 0 ? p : assignPrime(cell);
    }
    /// The prime of a cell that must have one; 0 when it has none (the caller treats it as "none").
    uint32_t knownPrimeFor(CellIndex cell) const { return cellPrime[cell]; }

    uint32_t primes[CellCount] = {};
    uint32_t cellPrime[CellCount] = {};
    int32_t lastIndex = 0;

private:
    uint32_t assignPrime(CellIndex cell);
};

/// The single table of Nodes. Owns every Node and frees them only when it is destroyed.
///
/// Logically every key has a bucket and a slot within it, and each slot holds a chain of Nodes
/// in creation order. Only slots that hold a chain take memory: an open-addressing index, split
/// into shards that grow one at a time, maps a slot to its chain's first Node, and one bit per
/// bucket tells whether the bucket has ever had a Node. Nodes are numbered in creation order and
/// live in chunks that never move, so a Node pointer stays valid for the table's life.
class NodeTable {
public:
    static constexpr uint32_t BucketRows = 1009;
    static constexpr uint32_t BucketColumns = 53;
    static constexpr uint32_t BucketCount = BucketRows * BucketColumns;
    static constexpr uint32_t BlockSize = 331; ///< slots per bucket

    explicit NodeTable(Logger& log);
    ~NodeTable();
    NodeTable(const NodeTable&) = delete;
    NodeTable& operator=(const NodeTable&) = delete;

    struct Found {
        Node* node;
        bool created;
    };

    Found findOrCreate(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age);
    Node* find(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age);

    static uint32_t bucketOf(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return ((hashcodeMoved - 1u) / BlockSize % BucketColumns) * BucketRows +
               (hashcodeToMove - 1u) % BucketRows;
    }
    static uint32_t slotOf(uint32_t hashcodeMoved) { return (hashcodeMoved - 1u) % BlockSize; }

    /// Where a key's chain head is looked for: its slot and its home group in the index.
    struct Probe {
        const void* group;
        uint32_t key;
    };
    /// A lookup costs two dependent loads, the slot's index entry and then its first Node. A
    /// batch of lookups overlaps their misses by calling locate for every key (which starts
    /// loading the index), then prefetchHead for every probe, then looking them up. Both are
    /// forced inline: GCC judges a function whose only effect is a prefetch to be pure and drops
    /// every call to it.
    [[gnu::always_inline]] Probe locate(uint32_t hashcodeToMove, uint32_t hashcodeMoved) const {
        const uint32_t key = slotKey(hashcodeToMove, hashcodeMoved);
        const Shard& s = shards[shardOf(key)];
        const Group* g = s.groups + homeOf(key, s.groupCount);
        __builtin_prefetch(g);
        return {g, key};
    }
    /// Loads the Node that the probe's group names without a branch on what the group holds: a
    /// branch on memory still in flight would make each prefetch wait for the one before. A
    /// head outside its home group, rare, only costs a useless prefetch. The probe must be used
    /// before the next creation, which may move the index.
    [[gnu::always_inline]] void prefetchHead(Probe p) const {
        const Group& g = *static_cast<const Group*>(p.group);
        NodeRef head = 0;
        for (const Entry& e : g.entries) {
            head = e.slot == p.key ? e.head : head;
        }
        const char* n = reinterpret_cast<const char*>(nodeAt(head));
        __builtin_prefetch(n);
        __builtin_prefetch(n + sizeof(Node) - 1);
    }

    /// Nodes in use, for statistics and tests (not part of the search).
    uint64_t nodeCount() const { return nodesInUse; }
    /// The first Node of a slot's chain, or none; for tests and inspection.
    Node* head(uint32_t bucket, uint32_t slot) const {
        const NodeRef r = headRef(bucket * BlockSize + slot + 1);
        return r != 0 ? nodeAt(r) : nullptr;
    }
    /// The Node after n in its slot's chain, or none.
    Node* nextInChain(const Node* n) const { return n->next != 0 ? nodeAt(n->next) : nullptr; }

    /// Room kept beyond the limit for what play needs (the position the computer must answer
    /// in, the position the player clicks in): thousands of expansions.
    static constexpr uint64_t PlayReserve = uint64_t{32} << 20;
    static constexpr uint64_t NoLimit = UINT64_MAX / 2;

    /// Bytes the table holds: its index, its Nodes and their chains.
    uint64_t bytesInUse() const { return allocatedBytes; }
    /// The most the table may hold for the search's growth.
    void setMemoryLimit(uint64_t bytes) { memoryLimitBytes = bytes; }
    uint64_t memoryLimit() const { return memoryLimitBytes; }
    /// Makes sure the next n findOrCreate calls can create their Nodes within the limit (or,
    /// while the reserve is open, within the limit and the reserve), allocating now whatever
    /// they may need. False, with nothing changed, when there is no such room.
    bool makeRoom(int n);
    /// Lets makeRoom use the reserve while open.
    void openReserve(bool open) { reserveOpen = open; }
    bool reserveIsOpen() const { return reserveOpen; }
    /// Whether growth has been refused for want of room since the table was made.
    bool limitReached() const { return limitWasReached; }

    Logger& logger;

private:
    /// One index entry: a slot (as slotKey numbers it, 0 for an empty entry) and its chain's head.
    struct Entry {
        uint32_t slot;
        NodeRef head;
    };
    /// The index is probed a cache line at a time: a key goes into the first group from its
    /// home that has a free entry, so a lookup stops at the first group with one.
    static constexpr uint32_t GroupEntries = 8;
    struct alignas(64) Group {
        Entry entries[GroupEntries];
    };
    /// A part of the index with its own capacity, so that growing it rehashes and briefly
    /// doubles only a small share of the index.
    struct Shard {
        Group* groups = nullptr;
        uint32_t groupCount = 0;
        uint32_t used = 0; ///< entries in use
        bool growthDue = false;
    };
    static constexpr uint32_t ShardBits = 4;
    static constexpr uint32_t ShardCount = 1u << ShardBits;
    static constexpr uint32_t ChunkBits = 16;
    static constexpr uint32_t ChunkNodes = 1u << ChunkBits;
    static constexpr uint32_t SlabChunks = 32; ///< 27 huge pages of Nodes
    struct Mapping {
        void* start;
        std::size_t bytes;
    };

    /// Every slot of the table numbered from 1, so that 0 can mark an empty index entry.
    static uint32_t slotKey(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return bucketOf(hashcodeToMove, hashcodeMoved) * BlockSize + slotOf(hashcodeMoved) + 1;
    }
    static uint64_t mix(uint32_t key) { return key * uint64_t{0x9E3779B97F4A7C15}; }
    static uint32_t shardOf(uint32_t key) {
        return static_cast<uint32_t>(mix(key) >> (64 - ShardBits));
    }
    /// The group where a key's probe starts: the mixed bits below the shard's, scaled.
    static uint32_t homeOf(uint32_t key, uint32_t groupCount) {
        const uint64_t bits = (mix(key) >> (32 - ShardBits)) & 0xFFFFFFFFu;
        return static_cast<uint32_t>((bits * groupCount) >> 32);
    }
    /// Grown when more than three quarters full: a probe then rarely leaves its home group,
    /// and the quarter left free takes any batch of creations that makeRoom prepared for.
    static uint32_t growthThreshold(uint32_t groupCount) {
        return groupCount * GroupEntries / 4 * 3;
    }

    Node* nodeAt(NodeRef r) const { return chunks[r >> ChunkBits] + (r & (ChunkNodes - 1)); }
    NodeRef headRef(uint32_t key) const;
    void addHead(uint32_t key, NodeRef head);
    NodeRef newNode();
    void countMiss(bool ageCollision, bool otherKey);
    bool bucketUsed(uint32_t bucket) const {
        return (usedBuckets[bucket / 64] >> (bucket % 64)) & 1u;
    }

    static uint64_t shardBytes(uint32_t groupCount) { return uint64_t{groupCount} * sizeof(Group); }
    static uint32_t grownGroupCount(uint32_t groupCount);
    static void place(Group* groups, uint32_t groupCount, Entry e);
    void resizeShard(Shard& s, uint32_t groupCount);
    void addChunk();
    void release();

    Shard shards[ShardCount];
    uint64_t usedBuckets[(BucketCount + 63) / 64] = {};
    std::vector<Mapping> nodeMaps;
    Node* slabNext = nullptr;
    uint32_t slabChunksLeft = 0;
    std::vector<Node*> chunks; ///< Node storage; chunk i holds the Nodes numbered i << ChunkBits on
    NodeRef nextRef = 1;       ///< the number the next Node gets; 0 means none
    uint32_t dueShards[ShardCount] = {};
    uint32_t dueCount = 0;
    int preparedCreations = 0; ///< creations left that makeRoom has allocated for
    uint64_t nodesInUse = 0;
    uint64_t allocatedBytes = 0;
    uint64_t memoryLimitBytes = NoLimit;
    bool reserveOpen = false;
    bool limitWasReached = false;
};

/// Positive weight of a rating for the child score of the tree growth; never falls as r rises.
inline uint32_t ratingWeight(int16_t r) {
    int v = r;
    if (v < -20000) {
        return 1;
    }
    if (v < -10000) {
        return static_cast<uint32_t>((v + 20000) / 1000 + 2);
    }
    if (v < -4500) {
        return static_cast<uint32_t>((v + 10000) / 200 + 13);
    }
    if (v < -2000) {
        return static_cast<uint32_t>((v + 4500) / 10 + 41);
    }
    if (v < 20000) {
        return static_cast<uint32_t>(v + 2292);
    }
    return 22292;
}
