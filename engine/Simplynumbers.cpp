#include "Simplynumbers.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <utility>

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

// The head array and Node storage are mapped by themselves: the kernel hands out zeroed pages,
// and pages never touched cost nothing. Anything of a huge page or more is aligned to huge
// pages and asks for them: lookups land anywhere in hundreds of megabytes, and small pages
// would make nearly every one of them miss the TLB as well as the cache.
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

// Packed entries are read with unaligned loads whose first byte holds an entry's lowest bits.
static_assert(std::endian::native == std::endian::little);

// Widening by one bit puts a zero bit after every From bits of a group. Word K of the widened
// group takes the old bits from base on, in runs that move up by one bit more after each zero
// bit inserted: the positions of run I are segmentMask<From, K, I>. All of it is known when
// compiling, so a word costs a few shifts, ands and ors.
template <uint32_t From, uint32_t K, uint32_t I> constexpr uint64_t segmentMask() {
    constexpr uint32_t To = From + 1;
    uint64_t mask = 0;
    for (uint32_t b = 0; b < 64; ++b) {
        const uint32_t at = 64 * K + b;
        if (at % To != From && at / To - 64 * K / To == I) {
            mask |= uint64_t{1} << b;
        }
    }
    return mask;
}

template <uint32_t From, uint32_t K, std::size_t... I>
[[gnu::always_inline]] inline uint64_t spread(uint64_t bits, std::index_sequence<I...>) {
    return ((bits << I & segmentMask<From, K, static_cast<uint32_t>(I)>()) | ...);
}

template <uint32_t From, uint32_t K>
[[gnu::always_inline]] inline void widenWord(const uint64_t* in, uint64_t* out) {
    constexpr uint32_t To = From + 1;
    constexpr uint32_t base = 64 * K - 64 * K / To;
    uint64_t bits = in[base / 64] >> (base % 64);
    if constexpr (base % 64 != 0 && base / 64 + 1 < From) {
        bits |= in[base / 64 + 1] << (64 - base % 64);
    }
    // 64 bits hold at most 64 / To + 1 zero bits of the widened group.
    out[K] = spread<From, K>(bits, std::make_index_sequence<64 / To + 2>());
}

template <uint32_t From, std::size_t... K>
void widenGroup(const uint64_t* in, uint64_t* out, std::index_sequence<K...>) {
    (widenWord<From, static_cast<uint32_t>(K)>(in, out), ...);
}

bool groupEmpty(const uint64_t* empty, uint64_t g, uint64_t groups) {
    return g >= groups || ((empty[g / 64] >> (g % 64)) & 1u) != 0;
}

// Re-encodes packed entries in place from From to From + 1 bits each, from the last group
// of 64 entries down to the first: a group's new words start at or above its old ones, so
// every word it overwrites has been read already. An empty group is written only where its new
// words held entries of groups above, so that pages never touched stay untouched. empty must
// come cleared; it ends with a bit set for every empty group.
template <uint32_t From> void widenByOne(uint64_t* words, uint64_t groups, uint64_t* empty) {
    constexpr uint32_t To = From + 1;
    for (uint64_t g = groups; g-- > 0;) {
        uint64_t in[From];
        uint64_t any = 0;
        for (uint32_t q = 0; q < From; ++q) {
            in[q] = words[g * From + q];
            any |= in[q];
        }
        uint64_t* out = words + g * To;
        if (any != 0) {
            widenGroup<From>(in, out, std::make_index_sequence<To>());
            continue;
        }
        empty[g / 64] |= uint64_t{1} << (g % 64);
        // The old groups whose words the new ones cover, all read already.
        bool clean = true;
        for (uint64_t k = g * To / From; k <= (g * To + To - 1) / From; ++k) {
            clean = clean && groupEmpty(empty, k, groups);
        }
        if (!clean) {
            std::fill(out, out + To, 0);
        }
    }
}

using Widener = void (*)(uint64_t*, uint64_t, uint64_t*);

template <std::size_t... F>
constexpr std::array<Widener, sizeof...(F)> makeWideners(std::index_sequence<F...>) {
    return {widenByOne<PackedRefs::MinWidth + static_cast<uint32_t>(F)>...};
}
// One for every width from the narrowest up to 31.
constexpr std::array<Widener, 32 - PackedRefs::MinWidth> wideners =
    makeWideners(std::make_index_sequence<32 - PackedRefs::MinWidth>());

} // namespace

PackedRefs::PackedRefs(uint64_t entries)
    : groups((entries + 63) / 64), emptyGroups((groups + 63) / 64) {
    data = static_cast<unsigned char*>(mapZeroed(mappedAt(bits)));
    if (data == nullptr) {
        throw std::bad_alloc();
    }
}

PackedRefs::~PackedRefs() {
    munmap(data, mappedAt(bits));
}

uint32_t PackedRefs::widthFor(uint64_t r) {
    const uint32_t width = static_cast<uint32_t>(std::bit_width(r));
    return width > MinWidth ? width : MinWidth;
}

// 8 spare bytes: the last entries are read with loads that reach past them.
std::size_t PackedRefs::mappedAt(uint32_t width) const {
    return (groups * 8 * width + 8 + PageBytes - 1) / PageBytes * PageBytes;
}

std::size_t PackedRefs::bytesAt(uint32_t width) const {
    return mappedAt(width) + emptyGroups.size() * sizeof(uint64_t);
}

// The mapping grows by being moved onto a fresh huge-page-aligned range: the kernel moves its
// page tables, not its bytes, and huge pages stay whole.
bool PackedRefs::widen(uint32_t width) {
    const std::size_t length = mappedAt(width);
    void* target = mapZeroed(length);
    if (target == nullptr) {
        return false;
    }
    void* moved = mremap(data, mappedAt(bits), length, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        munmap(target, length);
        return false;
    }
    madvise(moved, length, MADV_HUGEPAGE);
    data = static_cast<unsigned char*>(moved);
    for (; bits < width; ++bits) {
        std::fill(emptyGroups.begin(), emptyGroups.end(), 0);
        wideners[bits - MinWidth](reinterpret_cast<uint64_t*>(data), groups, emptyGroups.data());
    }
    mask = (uint64_t{1} << bits) - 1;
    return true;
}

NodeTable::NodeTable(Logger& log) : logger(log) {
    allocatedBytes = sizeof(NodeTable) + heads.bytes();
    try {
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
    for (const Mapping& m : nodeMaps) {
        munmap(m.start, m.bytes);
    }
    nodeMaps.clear();
    chunks.clear();
}

bool NodeTable::widenHeads(uint32_t width) {
    const std::size_t before = heads.bytes();
    if (!heads.widen(width)) {
        return false;
    }
    allocatedBytes += heads.bytes() - before;
    return true;
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

// A creation that no makeRoom prepared widens the heads and cuts a chunk itself.
NodeRef NodeTable::newNode() {
    if (nextRef == 0) {
        throw std::bad_alloc(); // every Node number is taken
    }
    if ((uint64_t{nextRef} >> heads.width()) != 0 && !widenHeads(heads.width() + 1)) {
        throw std::bad_alloc();
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
    // Node numbers are 32 bits wide, 0 meaning none: past them there is no room either.
    const bool numbered = nextRef != 0 && uint64_t{nextRef} + want <= uint64_t{UINT32_MAX} + 1;
    // The head array as wide as the last of the n numbers needs.
    const uint32_t width =
        numbered && want > 0 ? PackedRefs::widthFor(uint64_t{nextRef} + want - 1) : heads.width();
    if (width > heads.width()) {
        more += heads.bytesAt(width) - heads.bytes();
    }
    const uint64_t cap = memoryLimitBytes + (reserveOpen ? playReserveBytes : 0);
    if (allocatedBytes + more > cap || !numbered) {
        limitWasReached = true;
        return false;
    }
    try {
        if (width > heads.width() && !widenHeads(width)) {
            throw std::bad_alloc();
        }
        while (chunks.size() < chunksNeeded) {
            addChunk();
        }
    } catch (const std::bad_alloc&) {
        limitWasReached = true;
        return false;
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

NodeTable::Found NodeTable::findOrCreate(Probe p, uint32_t hashcodeToMove, uint32_t hashcodeMoved,
                                         uint8_t age) {
    bool ageCollision = false;
    bool otherKey = false;
    Node* last = nullptr;
    for (NodeRef r = headRef(p.key); r != 0;) {
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
        const uint32_t bucket = bucketOfKey(p.key);
        usedBuckets[bucket / 64] |= uint64_t{1} << (bucket % 64);
        heads.set(p.key - 1, fresh);
    }
    Node* cur = nodeAt(fresh);
    cur->hashcodeToMove = hashcodeToMove;
    cur->hashcodeMoved = hashcodeMoved;
    cur->age = age;
    ++nodesInUse;
    countMiss(ageCollision, otherKey);
    return {cur, true};
}

Node* NodeTable::find(Probe p, uint32_t hashcodeToMove, uint32_t hashcodeMoved, uint8_t age) {
    if (hashcodeToMove == 0 || hashcodeMoved == 0) {
        logger.setMessage("zero hashcode");
    }
    bool ageCollision = false;
    const NodeRef head = headRef(p.key);
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
