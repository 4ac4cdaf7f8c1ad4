#include "Simplynumbers.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

uint32_t CellPrimes::assignPrime(CellIndex cell) {
    uint32_t candidate;
    if (primes[0] == 0) {
        candidate = 2;
    } else {
        candidate = primes[lastIndex];
        ++lastIndex;
        bool divisible = true;
        while (divisible) {
            ++candidate;
            divisible = false;
            for (int32_t i = 0; i < lastIndex; ++i) {
                if (candidate % primes[i] == 0) {
                    divisible = true;
                    break;
                }
            }
        }
    }
    primes[lastIndex] = candidate;
    cellPrime[cell] = candidate;
    return candidate;
}

namespace {
// Overflow Nodes come from zeroed chunks so that a chain append costs no allocator call.
constexpr std::size_t ChunkNodes = 16384;
} // namespace

Node* NodeTable::allocateNodes(std::size_t n) {
    // calloc hands out zeroed memory; fresh pages cost nothing until they are written.
    void* p = std::calloc(n, sizeof(Node));
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<Node*>(p);
}

NodeTable::NodeTable(Logger& log) : logger(log) {
    void* p = std::calloc(BucketCount, sizeof(Node*));
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    buckets = static_cast<Node**>(p);
    allocatedBytes = BucketCount * sizeof(Node*);
    // Every block has its place in one anonymous mapping: the kernel hands out zeroed pages
    // only when a block is first written, so no block is ever cleared by hand. Huge pages
    // keep the page faults few once the table fills.
    blockArenaBytes = static_cast<std::size_t>(BucketCount) * BlockSize * sizeof(Node);
    void* a = mmap(nullptr, blockArenaBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (a == MAP_FAILED) {
        std::free(buckets);
        throw std::bad_alloc();
    }
    madvise(a, blockArenaBytes, MADV_HUGEPAGE);
    blockArena = static_cast<Node*>(a);
}

NodeTable::~NodeTable() {
    munmap(blockArena, blockArenaBytes);
    std::free(buckets);
    for (Node* c : chunks) {
        std::free(c);
    }
}

void NodeTable::addChunk() {
    chunks.reserve(chunks.size() + 1);
    Node* c = allocateNodes(ChunkNodes);
    chunks.push_back(c);
    chunkNext = c;
    chunkEnd = c + ChunkNodes;
    allocatedBytes += ChunkNodes * sizeof(Node);
}

Node* NodeTable::newOverflowNode() {
    if (chunkNext == chunkEnd) {
        addChunk();
    }
    return chunkNext++;
}

bool NodeTable::makeRoom(int n) {
    // At worst every Node opens a block of its own, and the chains need a fresh chunk.
    const uint64_t chunkBytes = ChunkNodes * sizeof(Node);
    const uint64_t worst = static_cast<uint64_t>(n) * BlockSize * sizeof(Node) + chunkBytes;
    const uint64_t cap = memoryLimitBytes + (reserveOpen ? playReserveBytes : 0);
    if (allocatedBytes + worst > cap) {
        limitWasReached = true;
        return false;
    }
    if (chunkEnd - chunkNext < n) {
        try {
            addChunk();
        } catch (const std::bad_alloc&) {
            limitWasReached = true;
            return false;
        }
    }
    return true;
}

// Exactly one Logger event per lookup that finds nothing: what it met decides which.
void NodeTable::countMiss(bool ageCollision, bool otherKey) {
    if (ageCollision) {
        logger.countAgeCollision();
    } else if (otherKey) {
        logger.countChainMiss();
    } else {
        logger.countBucketMiss();
    }
}

NodeTable::Found NodeTable::findOrCreate(uint32_t hashcodeToMove, uint32_t hashcodeMoved,
                                         uint8_t age) {
    const uint32_t bucket = bucketOf(hashcodeToMove, hashcodeMoved);
    Node* blk = buckets[bucket];
    if (blk == nullptr) {
        allocatedBytes += BlockSize * sizeof(Node);
        blk = blockArena + static_cast<std::size_t>(bucket) * BlockSize;
        buckets[bucket] = blk;
    }
    Node* cur = blk + slotOf(hashcodeMoved);
    bool ageCollision = false;
    bool otherKey = false;
    while (cur->hashcodeToMove != 0) {
        if (cur->hashcodeToMove == hashcodeToMove && cur->hashcodeMoved == hashcodeMoved) {
            if (cur->age == age) {
                logger.countHit();
                return {cur, false};
            }
            ageCollision = true;
            logger.setMessage("age collision");
        } else {
            otherKey = true;
        }
        if (cur->next == nullptr) {
            Node* fresh = newOverflowNode();
            cur->next = fresh;
            cur = fresh;
            break;
        }
        cur = cur->next;
    }
    cur->hashcodeToMove = hashcodeToMove;
    cur->hashcodeMoved = hashcodeMoved;
    cur->age = age;
    ++nodesInUse;
    countMiss(ageCollision, otherKey);
    return {cur, true};
}

Node* NodeTable::find(uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
    if (hashcodeToMove == 0 || hashcodeMoved == 0) {
        logger.setMessage("zero hashcode");
    }
    bool ageCollision = false;
    bool otherKey = false;
    Node* blk = buckets[bucketOf(hashcodeToMove, hashcodeMoved)];
    if (blk != nullptr) {
        Node* cur = blk + slotOf(hashcodeMoved);
        // A free head slot holds no key and so counts as another key.
        if (cur->hashcodeToMove == 0) {
            otherKey = true;
        } else {
            for (; cur != nullptr; cur = cur->next) {
                if (cur->hashcodeToMove == hashcodeToMove && cur->hashcodeMoved == hashcodeMoved) {
                    if (cur->age == age) {
                        logger.countHit();
                        return cur;
                    }
                    ageCollision = true;
                } else {
                    otherKey = true;
                }
            }
        }
    }
    countMiss(ageCollision, otherKey);
    return nullptr;
}
