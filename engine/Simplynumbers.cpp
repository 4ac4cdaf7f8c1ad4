#include "Simplynumbers.h"

#include <sys/mman.h>

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

constexpr std::size_t PageBytes = 4096;
constexpr std::size_t HugePageBytes = std::size_t{2} << 20;

// Index shards and Node storage are mapped by themselves: the kernel hands out zeroed pages,
// and unmapping a shard's old groups gives them back at once. Anything of a huge page or more
// is aligned to huge pages and asks for them: lookups land anywhere in hundreds of megabytes,
// and small pages would make nearly every one of them miss the TLB as well as the cache.
void* mapZeroed(std::size_t bytes) {
    if (bytes < HugePageBytes) {
        // Small: filled at once, in one call instead of a fault a page.
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    const std::size_t length = (bytes + PageBytes - 1) / PageBytes * PageBytes;
    void* p = mmap(nullptr, length + HugePageBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + HugePageBytes - 1) & ~(uintptr_t{HugePageBytes} - 1);
    if (aligned > start) {
        munmap(p, aligned - start);
    }
    const uintptr_t end = start + length + HugePageBytes;
    if (end > aligned + length) {
        munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    }
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

constexpr uint32_t MinShardGroups = 128;

} // namespace

// A quarter more, in whole pages.
uint32_t NodeTable::grownGroupCount(uint32_t groupCount) {
    constexpr uint32_t perPage = PageBytes / sizeof(Group);
    const uint32_t wanted = groupCount + groupCount / 4;
    return (wanted + perPage - 1) / perPage * perPage;
}

NodeTable::NodeTable(Logger& log) : logger(log) {
    allocatedBytes = sizeof(NodeTable);
    try {
        for (Shard& s : shards) {
            resizeShard(s, MinShardGroups);
        }
        addChunk();
    } catch (...) {
        release();
        throw;
    }
}

NodeTable::~NodeTable() {
    release();
}

void NodeTable::release() {
    for (Shard& s : shards) {
        if (s.groups != nullptr) {
            munmap(s.groups, shardBytes(s.groupCount));
            s.groups = nullptr;
        }
    }
    for (const Mapping& m : nodeMaps) {
        munmap(m.start, m.bytes);
    }
    nodeMaps.clear();
    chunks.clear();
}

void NodeTable::place(Group* groups, uint32_t groupCount, uint32_t key, NodeRef head) {
    for (uint32_t g = homeOf(key, groupCount);; g = g + 1 == groupCount ? 0 : g + 1) {
        for (uint32_t i = 0; i < GroupEntries; ++i) {
            if (groups[g].slotKeys[i] == 0) {
                groups[g].slotKeys[i] = key;
                groups[g].heads[i] = head;
                return;
            }
        }
    }
}

// Rehashes a shard into fresh groups. Throws std::bad_alloc, leaving the shard as it was, when
// the memory cannot be had.
void NodeTable::resizeShard(Shard& s, uint32_t groupCount) {
    Group* fresh = static_cast<Group*>(mapZeroed(shardBytes(groupCount)));
    if (fresh == nullptr) {
        throw std::bad_alloc();
    }
    for (uint32_t g = 0; g < s.groupCount; ++g) {
        for (uint32_t i = 0; i < GroupEntries; ++i) {
            if (s.groups[g].slotKeys[i] != 0) {
                place(fresh, groupCount, s.groups[g].slotKeys[i], s.groups[g].heads[i]);
            }
        }
    }
    if (s.groups != nullptr) {
        munmap(s.groups, shardBytes(s.groupCount));
        allocatedBytes -= shardBytes(s.groupCount);
    }
    s.groups = fresh;
    s.groupCount = groupCount;
    ++headGeneration;
    allocatedBytes += shardBytes(groupCount);
}

// Chunks are cut from slabs of SlabChunks, whose size is a whole number of huge pages; the
// slab's pages come into memory only as its Nodes are handed out, so a chunk counts as held
// from the moment it is cut. Where a slab cannot be mapped, a chunk is mapped alone.
void NodeTable::addChunk() {
    constexpr std::size_t chunkBytes = ChunkNodes * sizeof(Node);
    const std::size_t oldBytes =
        chunks.capacity() * sizeof(Node*) + nodeMaps.capacity() * sizeof(Mapping);
    chunks.reserve(chunks.size() + 1);
    nodeMaps.reserve(nodeMaps.size() + 1);
    allocatedBytes +=
        chunks.capacity() * sizeof(Node*) + nodeMaps.capacity() * sizeof(Mapping) - oldBytes;
    if (slabChunksLeft == 0) {
        void* slab = mapZeroed(SlabChunks * chunkBytes);
        if (slab != nullptr) {
            nodeMaps.push_back({slab, SlabChunks * chunkBytes});
            slabNext = static_cast<Node*>(slab);
            slabChunksLeft = SlabChunks;
        } else {
            void* alone = mapZeroed(chunkBytes);
            if (alone == nullptr) {
                throw std::bad_alloc();
            }
            nodeMaps.push_back({alone, chunkBytes});
            slabNext = static_cast<Node*>(alone);
            slabChunksLeft = 1;
        }
    }
    chunks.push_back(slabNext);
    slabNext += ChunkNodes;
    --slabChunksLeft;
    allocatedBytes += chunkBytes;
}

NodeRef NodeTable::headRef(uint32_t key) const {
    const Shard& s = shards[shardOf(key)];
    for (uint32_t g = homeOf(key, s.groupCount);; g = g + 1 == s.groupCount ? 0 : g + 1) {
        bool ends;
        const NodeRef head = scan(s.groups[g], key, ends);
        if (ends) {
            return head;
        }
    }
}

// A shard past three quarters full is grown by the next makeRoom, whose batch the free quarter
// takes meanwhile; a creation that no makeRoom prepared grows it at once.
void NodeTable::addHead(uint32_t key, NodeRef head) {
    const uint32_t index = shardOf(key);
    Shard& s = shards[index];
    place(s.groups, s.groupCount, key, head);
    ++s.used;
    ++headGeneration;
    if (s.used > growthThreshold(s.groupCount)) {
        if (preparedCreations == 0) {
            resizeShard(s, grownGroupCount(s.groupCount));
        } else if (!s.growthDue) {
            s.growthDue = true;
            dueShards[dueCount++] = index;
        }
    }
}

NodeRef NodeTable::newNode() {
    if (nextRef == 0) {
        throw std::bad_alloc(); // every Node number is taken
    }
    if ((nextRef >> ChunkBits) >= chunks.size()) {
        addChunk();
    }
    return nextRef++;
}

bool NodeTable::makeRoom(int n) {
    const uint32_t want = n > 0 ? static_cast<uint32_t>(n) : 0;
    // Node chunks for n more Nodes.
    const uint64_t chunkBytes = ChunkNodes * sizeof(Node);
    const uint64_t chunksNeeded = (uint64_t{nextRef} + want + ChunkNodes - 1) >> ChunkBits;
    uint64_t more = chunksNeeded > chunks.size() ? (chunksNeeded - chunks.size()) * chunkBytes : 0;
    // Every shard past three quarters full grows; and each must have room for n new heads,
    // which the free quarter gives any batch smaller than a quarter of the smallest shard.
    struct Growth {
        uint32_t shard;
        uint32_t groupCount;
    };
    Growth plan[ShardCount];
    uint32_t planned = 0;
    const bool checkAll = want >= MinShardGroups * GroupEntries / 4;
    for (uint32_t k = 0; k < (checkAll ? ShardCount : dueCount); ++k) {
        const uint32_t i = checkAll ? k : dueShards[k];
        const Shard& s = shards[i];
        uint32_t groupCount = s.groupCount;
        while (s.used > growthThreshold(groupCount) || s.used + want >= groupCount * GroupEntries) {
            groupCount = grownGroupCount(groupCount);
        }
        if (groupCount != s.groupCount) {
            plan[planned++] = {i, groupCount};
            more += shardBytes(groupCount) - shardBytes(s.groupCount);
        }
    }
    const uint64_t cap = memoryLimitBytes + (reserveOpen ? playReserveBytes : 0);
    // Node numbers are 32 bits wide, 0 meaning none: past them there is no room either.
    const bool numbered = nextRef != 0 && uint64_t{nextRef} + want <= uint64_t{UINT32_MAX} + 1;
    if (allocatedBytes + more > cap || !numbered) {
        limitWasReached = true;
        preparedCreations = 0;
        return false;
    }
    try {
        for (uint32_t k = 0; k < planned; ++k) {
            resizeShard(shards[plan[k].shard], plan[k].groupCount);
        }
        while (chunks.size() < chunksNeeded) {
            addChunk();
        }
    } catch (const std::bad_alloc&) {
        limitWasReached = true;
        preparedCreations = 0;
        return false;
    }
    for (uint32_t k = 0; k < dueCount; ++k) {
        shards[dueShards[k]].growthDue = false;
    }
    dueCount = 0;
    preparedCreations = n;
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

NodeTable::Found NodeTable::findOrCreate(const Probe& p, uint32_t hashcodeToMove,
                                         uint32_t hashcodeMoved, uint8_t age) {
    const uint32_t key = p.key;
    const NodeRef head = headOf(p);
    bool ageCollision = false;
    bool otherKey = false;
    Node* last = nullptr;
    for (NodeRef r = head; r != 0;) {
        Node* cur = nodeAt(r);
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
        last = cur;
        r = cur->next;
    }
    const NodeRef fresh = newNode();
    if (last != nullptr) {
        last->next = fresh;
    } else {
        const uint32_t bucket = bucketOfKey(key);
        usedBuckets[bucket / 64] |= uint64_t{1} << (bucket % 64);
        addHead(key, fresh);
    }
    if (preparedCreations > 0) {
        --preparedCreations;
    }
    Node* cur = nodeAt(fresh);
    cur->hashcodeToMove = hashcodeToMove;
    cur->hashcodeMoved = hashcodeMoved;
    cur->age = age;
    ++nodesInUse;
    countMiss(ageCollision, otherKey);
    return {cur, true};
}

Node* NodeTable::find(const Probe& p, uint32_t hashcodeToMove, uint32_t hashcodeMoved,
                      uint8_t age) {
    if (hashcodeToMove == 0 || hashcodeMoved == 0) {
        logger.setMessage("zero hashcode");
    }
    bool ageCollision = false;
    const NodeRef head = headOf(p);
    // Without a head: a free slot counts as another key in a bucket that has Nodes, and in a
    // bucket that never had one nothing is examined.
    bool otherKey = head == 0 && bucketUsed(bucketOfKey(p.key));
    for (NodeRef r = head; r != 0;) {
        Node* cur = nodeAt(r);
        if (cur->hashcodeToMove == hashcodeToMove && cur->hashcodeMoved == hashcodeMoved) {
            if (cur->age == age) {
                logger.countHit();
                return cur;
            }
            ageCollision = true;
        } else {
            otherKey = true;
        }
        r = cur->next;
    }
    countMiss(ageCollision, otherKey);
    return nullptr;
}
