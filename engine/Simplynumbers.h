#pragma once

#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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

    Found findOrCreate(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
        return findOrCreate(unresolved(hashcodeToMove, hashcodeMoved), hashcodeToMove,
                            hashcodeMoved, age);
    }
    Node* find(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
        return find(unresolved(hashcodeToMove, hashcodeMoved), hashcodeToMove, hashcodeMoved, age);
    }

    static uint32_t bucketOf(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return ((hashcodeMoved - 1u) / BlockSize % BucketColumns) * BucketRows +
               (hashcodeToMove - 1u) % BucketRows;
    }
    static uint32_t slotOf(uint32_t hashcodeMoved) { return (hashcodeMoved - 1u) % BlockSize; }

    /// A key's place in the index, found ahead of its lookup. A lookup costs two dependent
    /// loads, the slot's index group and then the chain's first Node, so a batch of lookups
    /// overlaps its cache misses: locate every key (which starts loading its group), then
    /// resolve every probe (which reads the group and starts loading the head it names), then
    /// look each key up with its probe. A probe's head holds until a head is added or the index
    /// grows; a lookup checks that and otherwise searches the index afresh.
    struct Probe {
        const void* group;
        uint32_t key;
        NodeRef head;
        uint32_t generation;
        bool resolved;
    };
    // Both forced inline: GCC judges a function whose only effect is a prefetch to be pure and
    // drops every call to it.
    [[gnu::always_inline]] Probe locate(uint32_t hashcodeToMove, uint32_t hashcodeMoved) const {
        const uint32_t key = slotKey(hashcodeToMove, hashcodeMoved);
        const Shard& s = shards[shardOf(key)];
        const Group* g = s.groups + homeOf(key, s.groupCount);
        __builtin_prefetch(g);
        return {g, key, 0, 0, false};
    }
    /// Reads the home group without a branch on what it holds: a branch on memory still in
    /// flight would make each probe wait for the one before. A key absent from a full home
    /// group stays unresolved (rare); the prefetch of Node 0 then costs nothing but itself.
    [[gnu::always_inline]] void resolve(Probe& p) const {
        bool ends;
        p.head = scan(*static_cast<const Group*>(p.group), p.key, ends);
        p.resolved = ends;
        p.generation = headGeneration;
        const char* n = reinterpret_cast<const char*>(nodeAt(p.head));
        __builtin_prefetch(n);
        __builtin_prefetch(n + sizeof(Node) - 1);
    }
    /// findOrCreate and find for the key that the probe was made for.
    Found findOrCreate(const Probe& p, uint32_t hashcodeToMove, uint32_t hashcodeMoved,
                       uint8_t age);
    Node* find(const Probe& p, uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age);

    /// Nodes in use, for statistics and tests (not part of the search).
    uint64_t nodeCount() const { return nodesInUse; }
    /// The first Node of a slot's chain, or none; for tests and inspection.
    Node* head(uint32_t bucket, uint32_t slot) const {
        const NodeRef r = headRef((bucket / BucketRows * BlockSize + slot) * BucketRows +
                                  bucket % BucketRows + 1);
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
    void setPlayReserve(uint64_t bytes) { playReserveBytes = bytes; }
    uint64_t playReserve() const { return playReserveBytes; }
    /// Lets makeRoom use the reserve while open.
    void openReserve(bool open) { reserveOpen = open; }
    bool reserveIsOpen() const { return reserveOpen; }
    /// Whether growth has been refused for want of room since the table was made.
    bool limitReached() const { return limitWasReached; }

    Logger& logger;

private:
    /// The index is probed a cache line at a time: a slot (as slotKey numbers it, 0 for a free
    /// entry) goes with its chain's head into the first group from its home that has a free
    /// entry, so a probe ends at the first group with one.
    static constexpr uint32_t GroupEntries = 8;
    struct alignas(64) Group {
        uint32_t slotKeys[GroupEntries];
        NodeRef heads[GroupEntries];
    };
    /// The head of key's chain if the group holds it, else 0; ends tells whether the probe ends
    /// here (the key found or a free entry met). Without a branch on the entries: where a key
    /// sits in its group is unpredictable.
    [[gnu::always_inline]] static NodeRef scan(const Group& g, uint32_t key, bool& ends) {
#if defined(__SSE2__)
        const __m128i k = _mm_set1_epi32(static_cast<int>(key));
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(g.slotKeys));
        const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(g.slotKeys + 4));
        const __m128i matchLow = _mm_cmpeq_epi32(low, k);
        const __m128i matchHigh = _mm_cmpeq_epi32(high, k);
        const __m128i free = _mm_or_si128(_mm_cmpeq_epi32(low, zero), _mm_cmpeq_epi32(high, zero));
        const unsigned match = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(matchLow))) |
                               static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(matchHigh)))
                                   << 4;
        ends = (match | static_cast<unsigned>(_mm_movemask_epi8(free))) != 0;
        const NodeRef found =
            g.heads[static_cast<unsigned>(__builtin_ctz(match | 0x100u)) & (GroupEntries - 1)];
        return match != 0 ? found : 0;
#else
        NodeRef head = 0;
        bool stop = false;
        for (uint32_t i = 0; i < GroupEntries; ++i) {
            head = g.slotKeys[i] == key ? g.heads[i] : head;
            stop = stop || g.slotKeys[i] == key || g.slotKeys[i] == 0;
        }
        ends = stop;
        return head;
#endif
    }
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

    /// Every slot of the table numbered from 1, so that 0 can mark an empty index entry. The
    /// bucket's column and the slot are together hashcodeMoved - 1 modulo 331 * 53, and its row
    /// is hashcodeToMove - 1 modulo 1009: two remainders name the slot.
    static constexpr uint32_t ColumnSlots = BucketColumns * BlockSize;
    static uint32_t slotKey(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return (hashcodeMoved - 1u) % ColumnSlots * BucketRows +
               (hashcodeToMove - 1u) % BucketRows + 1;
    }
    static uint32_t bucketOfKey(uint32_t key) {
        return (key - 1) / BucketRows / BlockSize * BucketRows + (key - 1) % BucketRows;
    }
    static uint64_t mix(uint32_t key) {
        return key * uint64_t{0x9E3779B97F4A7C15};
    }
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

    static Probe unresolved(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return {nullptr, slotKey(hashcodeToMove, hashcodeMoved), 0, 0, false};
    }
    NodeRef headOf(const Probe& p) const {
        return p.resolved && p.generation == headGeneration ? p.head : headRef(p.key);
    }
    Node* nodeAt(NodeRef r) const {
        return chunks[r >> ChunkBits] + (r & (ChunkNodes - 1));
    }
    NodeRef headRef(uint32_t key) const;
    void addHead(uint32_t key, NodeRef head);
    NodeRef newNode();
    void countMiss(bool ageCollision, bool otherKey);
    bool bucketUsed(uint32_t bucket) const {
        return (usedBuckets[bucket / 64] >> (bucket % 64)) & 1u;
    }

    static uint64_t shardBytes(uint32_t groupCount) {
        return uint64_t{groupCount} * sizeof(Group);
    }
    static uint32_t grownGroupCount(uint32_t groupCount);
    static void place(Group* groups, uint32_t groupCount, uint32_t key, NodeRef head);
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
    uint32_t headGeneration = 0; ///< changes whenever a head is added or the index moves
    int preparedCreations = 0;   ///< creations left that makeRoom has allocated for
    uint64_t nodesInUse = 0;
    uint64_t allocatedBytes = 0;
    uint64_t memoryLimitBytes = NoLimit;
    uint64_t playReserveBytes = PlayReserve;
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
