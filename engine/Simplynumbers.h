#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Logger.h"

using CellIndex = uint8_t;
constexpr CellIndex NoCell = 255;
constexpr int BoardSide = 15;
constexpr int CellCount = BoardSide * BoardSide;
/// The middle row and column, and the last: rows and columns run from 0 to LastLine.
constexpr int CentreLine = 7;
constexpr int LastLine = BoardSide - 1;
constexpr CellIndex CentreCell = CentreLine * BoardSide + CentreLine;

/// A cell's column and row offsets from the centre, -7 to 7, and the cell at given offsets.
constexpr int columnOffset(int cell) {
    return cell % BoardSide - CentreLine;
}
constexpr int rowOffset(int cell) {
    return cell / BoardSide - CentreLine;
}
constexpr int cellAtOffsets(int dc, int dr) {
    return (dr + CentreLine) * BoardSide + dc + CentreLine;
}

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

/// A position's key: the two products of primes and the number of moves made.
struct NodeKey {
    uint32_t hashcodeToMove;
    uint32_t hashcodeMoved;
    uint8_t age;
};
/// The key of the position one stone on from a Node's, for the prime of the stone's cell: the
/// sides change places and the stone's prime joins the mover's product, wrapping modulo 2^32.
inline NodeKey childKey(const Node& n, uint32_t prime) {
    return {n.hashcodeMoved, n.hashcodeToMove * prime, static_cast<uint8_t>(n.age + 1)};
}

/// Ratings with a meaning of their own, always from the side that has just moved.
namespace rating {
/// The move made five: the game is won.
constexpr int Five = 32600;
/// Where every search for a best child starts, and the worth of a position without a move.
constexpr int NoMove = -32600;
/// Beyond this either way the game is decided and the position is not expanded. Heuristic
/// ratings are held within it; -Decided is also "the opponent has a four: five next".
constexpr int Decided = 32200;
/// Growth enters only children rated strictly within this either way.
constexpr int Enterable = 32300;
/// The move left the opponent an open three and the mover has no four to answer it.
constexpr int OpenThreeLeft = -30000;
/// The second player's first three stones stand in one row or one column.
constexpr int ThreeInLine = -6026;
/// Clearly better or worse, and nearly decided: the thinking loop's and the statistics' marks.
constexpr int Clear = 10000;
constexpr int NearlyDecided = 20000;
} // namespace rating

constexpr bool isFive(int r) {
    return r >= rating::Five;
}
constexpr bool isDecided(int r) {
    return r > rating::Decided || r < -rating::Decided;
}
constexpr bool isEnterable(int r) {
    return r > -rating::Enterable && r < rating::Enterable;
}
constexpr bool isNearlyDecided(int r) {
    return r > rating::NearlyDecided || r < -rating::NearlyDecided;
}

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

/// Node numbers, one per entry, each stored in exactly width() bits: the fewest that hold every
/// number stored so far, MinWidth at least. Reading an entry is one unaligned 8-byte load, a
/// shift and a mask; widening re-encodes every entry in place. All entries start at 0, and the
/// memory is mapped, so pages never touched cost nothing.
class PackedRefs {
public:
    static constexpr uint32_t MinWidth = 16;

    /// Throws std::bad_alloc when the memory cannot be had.
    explicit PackedRefs(uint64_t entries);
    ~PackedRefs();
    PackedRefs(const PackedRefs&) = delete;
    PackedRefs& operator=(const PackedRefs&) = delete;

    /// An entry of at most 32 bits starting anywhere in a byte lies within the 8 bytes from that
    /// byte, and the mapping ends with 8 spare bytes for the last entries.
    NodeRef get(uint64_t i) const {
        const uint64_t bit = i * bits;
        uint64_t word;
        std::memcpy(&word, data + bit / 8, sizeof word);
        return static_cast<NodeRef>(word >> (bit % 8) & mask);
    }
    /// r must fit in width() bits.
    void set(uint64_t i, NodeRef r) {
        const uint64_t bit = i * bits;
        uint64_t word;
        std::memcpy(&word, data + bit / 8, sizeof word);
        word = (word & ~(mask << (bit % 8))) | uint64_t{r} << (bit % 8);
        std::memcpy(data + bit / 8, &word, sizeof word);
    }
    /// Forced inline: GCC judges a function whose only effect is a prefetch to be pure and drops
    /// every call to it.
    [[gnu::always_inline]] void prefetch(uint64_t i) const {
        __builtin_prefetch(data + i * bits / 8);
    }

    uint32_t width() const { return bits; }
    /// The fewest bits, MinWidth at least, that hold r.
    static uint32_t widthFor(uint64_t r);
    /// Bytes held now, and at another width.
    std::size_t bytes() const { return bytesAt(bits); }
    std::size_t bytesAt(uint32_t width) const;
    /// Re-encodes every entry in width bits, more than now and at most 32. False, with nothing
    /// changed, when the memory cannot be had.
    bool widen(uint32_t width);

private:
    std::size_t mappedAt(uint32_t width) const;

    uint64_t groups; ///< entries come in groups of 64, which fill whole words at any width
    unsigned char* data = nullptr;
    uint32_t bits = MinWidth;
    uint64_t mask = (uint64_t{1} << MinWidth) - 1;
    std::vector<uint64_t> emptyGroups; ///< a widening's note of the groups it found empty
};

/// The single table of Nodes. Owns every Node and frees them only when it is destroyed.
///
/// Logically every key has a bucket and a slot within it, and each slot holds a chain of Nodes
/// in creation order. Nodes are numbered in creation order and live in chunks that never move,
/// so a Node pointer stays valid for the table's life. A head array gives every slot the number
/// of its chain's first Node, packed in as few bits as the numbers handed out so far need, so
/// that finding a chain is arithmetic and one load; one bit per bucket tells whether the bucket
/// has ever had a Node. The array takes 35 MB at 16 bits an entry and 71 MB at 32, all of it
/// counted as held: lookups land everywhere in it and soon bring every page in.
class NodeTable {
public:
    static constexpr uint32_t BucketRows = 1009;
    static constexpr uint32_t BucketColumns = 53;
    static constexpr uint32_t BucketCount = BucketRows * BucketColumns;
    static constexpr uint32_t BlockSize = 331; ///< slots per bucket
    static constexpr uint32_t SlotCount = BucketCount * BlockSize;

    explicit NodeTable(Logger& log);
    ~NodeTable();
    NodeTable(const NodeTable&) = delete;
    NodeTable& operator=(const NodeTable&) = delete;

    struct Found {
        Node* node;
        bool created;
    };

    Found findOrCreate(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
        return findOrCreate(Probe{slotKey(hashcodeToMove, hashcodeMoved)}, hashcodeToMove,
                            hashcodeMoved, age);
    }
    Node* find(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
        return find(Probe{slotKey(hashcodeToMove, hashcodeMoved)}, hashcodeToMove, hashcodeMoved,
                    age);
    }

    static uint32_t bucketOf(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return ((hashcodeMoved - 1u) / BlockSize % BucketColumns) * BucketRows +
               (hashcodeToMove - 1u) % BucketRows;
    }
    static uint32_t slotOf(uint32_t hashcodeMoved) { return (hashcodeMoved - 1u) % BlockSize; }

    /// A key's slot, found ahead of its lookup. A lookup costs two dependent loads, the slot's
    /// head entry and then the chain's first Node, so a batch of lookups overlaps its cache
    /// misses: locate every key (which starts loading its entry), then resolve every probe
    /// (which reads the entry and starts loading the Node it names), then look each key up with
    /// its probe. The lookup reads the entry again, from the cache: a creation earlier in the
    /// batch may have given the slot its head.
    struct Probe {
        uint32_t key;
    };
    // Both forced inline: GCC judges a function whose only effect is a prefetch to be pure and
    // drops every call to it.
    [[gnu::always_inline]] Probe locate(uint32_t hashcodeToMove, uint32_t hashcodeMoved) const {
        const uint32_t key = slotKey(hashcodeToMove, hashcodeMoved);
        heads.prefetch(key - 1);
        return {key};
    }
    /// Prefetches Node 0 for a slot without a chain: reading the entry without a branch on it
    /// keeps each probe from waiting for the one before.
    [[gnu::always_inline]] void resolve(const Probe& p) const {
        const char* n = reinterpret_cast<const char*>(nodeAt(headRef(p.key)));
        __builtin_prefetch(n);
        __builtin_prefetch(n + sizeof(Node) - 1);
    }
    /// findOrCreate and find for the key that the probe was made for.
    Found findOrCreate(Probe p, uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age);
    Node* find(Probe p, uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age);

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
    /// Bits per head entry: the fewest that hold every Node number handed out, 16 at least.
    uint32_t headWidth() const { return heads.width(); }

    /// Room kept beyond the limit for what play needs (the position the computer must answer
    /// in, the position the player clicks in): thousands of expansions.
    static constexpr uint64_t PlayReserve = uint64_t{32} << 20;
    static constexpr uint64_t NoLimit = UINT64_MAX / 2;

    /// Bytes the table holds: its head array, its Nodes and their chains.
    uint64_t bytesInUse() const { return allocatedBytes; }
    /// The most the table may hold for the search's growth.
    void setMemoryLimit(uint64_t bytes) { memoryLimitBytes = bytes; }
    uint64_t memoryLimit() const { return memoryLimitBytes; }
    /// Makes sure the next n findOrCreate calls can create their Nodes within the limit (or,
    /// while the reserve is open, within the limit and the reserve), allocating and widening
    /// now whatever they may need. False, with nothing changed, when there is no such room.
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
    static constexpr uint32_t ChunkBits = 16;
    static constexpr uint32_t ChunkNodes = 1u << ChunkBits;
    static constexpr uint32_t SlabChunks = 32; ///< 27 huge pages of Nodes
    struct Mapping {
        void* start;
        std::size_t bytes;
    };

    /// Every slot of the table numbered from 1. The bucket's column and the slot are together
    /// hashcodeMoved - 1 modulo 331 * 53, and its row is hashcodeToMove - 1 modulo 1009: two
    /// remainders name the slot.
    static constexpr uint32_t ColumnSlots = BucketColumns * BlockSize;
    static uint32_t slotKey(uint32_t hashcodeToMove, uint32_t hashcodeMoved) {
        return (hashcodeMoved - 1u) % ColumnSlots * BucketRows +
               (hashcodeToMove - 1u) % BucketRows + 1;
    }
    static uint32_t bucketOfKey(uint32_t key) {
        return (key - 1) / BucketRows / BlockSize * BucketRows + (key - 1) % BucketRows;
    }

    NodeRef headRef(uint32_t key) const { return heads.get(key - 1); }
    bool widenHeads(uint32_t width);

    Node* nodeAt(NodeRef r) const { return chunks[r >> ChunkBits] + (r & (ChunkNodes - 1)); }
    NodeRef newNode();
    void countMiss(bool ageCollision, bool otherKey);
    bool bucketUsed(uint32_t bucket) const {
        return (usedBuckets[bucket / 64] >> (bucket % 64)) & 1u;
    }
    void addChunk();
    void release();

    PackedRefs heads{SlotCount}; ///< the first Node of every slot's chain, by slotKey - 1
    uint64_t usedBuckets[(BucketCount + 63) / 64] = {};
    std::vector<Mapping> nodeMaps;
    Node* slabNext = nullptr;
    uint32_t slabChunksLeft = 0;
    std::vector<Node*> chunks; ///< Node storage; chunk i holds the Nodes numbered i << ChunkBits on
    NodeRef nextRef = 1;       ///< the number the next Node gets; 0 means none
    uint64_t nodesInUse = 0;
    uint64_t allocatedBytes = 0;
    uint64_t memoryLimitBytes = NoLimit;
    uint64_t playReserveBytes = PlayReserve;
    bool reserveOpen = false;
    bool limitWasReached = false;
};

/// Opens a table's reserve for as long as it lives: play may use the room kept beyond the
/// limit (the computer's move, the position the player clicks in); growth never does.
class ReserveForPlay {
public:
    explicit ReserveForPlay(NodeTable& t) : table(t) { table.openReserve(true); }
    ~ReserveForPlay() { table.openReserve(false); }
    ReserveForPlay(const ReserveForPlay&) = delete;
    ReserveForPlay& operator=(const ReserveForPlay&) = delete;

private:
    NodeTable& table;
};

/// Positive weight of a rating for the child score of the tree growth; never falls as r rises.
inline uint32_t ratingWeight(int16_t r) {
    int v = r;
    if (v < -rating::NearlyDecided) {
        return 1;
    }
    if (v < -rating::Clear) {
        return static_cast<uint32_t>((v + 20000) / 1000 + 2);
    }
    if (v < -4500) {
        return static_cast<uint32_t>((v + 10000) / 200 + 13);
    }
    if (v < -2000) {
        return static_cast<uint32_t>((v + 4500) / 10 + 41);
    }
    if (v < rating::NearlyDecided) {
        return static_cast<uint32_t>(v + 2292);
    }
    return 22292;
}
