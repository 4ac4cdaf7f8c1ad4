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
    uint32_t hashcodeToMove; ///< product of the primes of the side to move; 0 marks a free slot
    uint32_t hashcodeMoved;  ///< product of the primes of the side that has just moved
    Node* next;
};
#pragma pack(pop)
static_assert(sizeof(Node) == 31, "Node must stay packed");

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
class NodeTable {
public:
    static constexpr uint32_t BucketRows = 1009;
    static constexpr uint32_t BucketColumns = 53;
    static constexpr uint32_t BucketCount = BucketRows * BucketColumns;
    static constexpr uint32_t BlockSize = 331;

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

    /// Starts loading the slot of a key, so that a batch of lookups overlaps its cache misses.
    void prefetch(uint32_t hashcodeToMove, uint32_t hashcodeMoved) const {
        const char* slot = reinterpret_cast<const char*>(
            blockArena +
            static_cast<std::size_t>(bucketOf(hashcodeToMove, hashcodeMoved)) * BlockSize +
            slotOf(hashcodeMoved));
        __builtin_prefetch(slot);
        __builtin_prefetch(slot + sizeof(Node) - 1);
    }

    /// Nodes in use, for statistics and tests (not part of the search).
    uint64_t nodeCount() const { return nodesInUse; }
    Node* block(uint32_t bucket) const { return buckets[bucket]; }

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
    Node* newOverflowNode();
    void countMiss(bool ageCollision, bool otherKey);
    Node* allocateNodes(std::size_t n);
    void addChunk();

    Node** buckets;
    Node* blockArena = nullptr; ///< room for every bucket's block, reserved but untouched
    std::size_t blockArenaBytes = 0;
    std::vector<Node*> chunks; ///< overflow arenas, freed with the table
    Node* chunkNext = nullptr;
    Node* chunkEnd = nullptr;
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
