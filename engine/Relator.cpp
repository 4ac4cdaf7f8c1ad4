#include "Relator.h"

#include <cstdlib>

namespace {

// The 24 cells at distance three from the centre, in increasing order.
struct Ring {
    CellIndex cells[24];
    Ring() {
        int n = 0;
        for (int c = 0; c < CellCount; ++c) {
            if (Relator::isOnRingThree(static_cast<CellIndex>(c))) {
                cells[n++] = static_cast<CellIndex>(c);
            }
        }
    }
};
const Ring ringThree;

// Rating jumps are counted at Nodes this well explored, and apart again at large subtrees.
constexpr uint32_t WellExplored = 200;
constexpr uint32_t LargeSubtree = 10000;

inline int magnitude(int16_t r) {
    return std::abs(static_cast<int>(r));
}

} // namespace

bool Relator::isOnRingThree(CellIndex cell) {
    const int dr = std::abs(rowOffset(cell));
    const int dc = std::abs(columnOffset(cell));
    return (dr > dc ? dr : dc) == 3;
}

void Relator::childKeys(const Node* node, const CellIndex* cells, int n, ChildKeys& keys) {
    keys.hashcodeToMove = node->hashcodeMoved;
    keys.age = static_cast<uint8_t>(node->age + 1);
    for (int i = 0; i < n; ++i) {
        const uint32_t moved = childKey(*node, keyTable->primeFor(cells[i])).hashcodeMoved;
        keys.hashcodeMoved[i] = moved;
        keys.probes[i] = nodeTable->locate(keys.hashcodeToMove, moved);
    }
    for (int i = 0; i < n; ++i) {
        nodeTable->resolve(keys.probes[i]);
    }
}

void Relator::listChildren() {
    CellIndex cells[CellCount];
    int n = 0;
    for (int c = 0; c < CellCount; ++c) {
        if (isEligible(static_cast<CellIndex>(c))) {
            cells[n++] = static_cast<CellIndex>(c);
        }
    }
    ChildKeys keys;
    childKeys(topNode(), cells, n, keys);
    childCount = 0;
    for (int i = 0; i < n; ++i) {
        Node* child =
            nodeTable->find(keys.probes[i], keys.hashcodeToMove, keys.hashcodeMoved[i], keys.age);
        if (child != nullptr) {
            childCells[childCount] = cells[i];
            childNodes[childCount] = child;
            ++childCount;
        }
    }
}

void Relator::listExpandCells() {
    expandCount = 0;
    for (int c = 0; c < CellCount; ++c) {
        const CellIndex cell = static_cast<CellIndex>(c);
        if (isEligible(cell) && isRepresentative(cell)) {
            expandCells[expandCount++] = cell;
        }
    }
}

namespace {

// The inverse of an odd number modulo 2^32, by Newton's iteration (each step doubles the bits).
inline uint32_t inverseOf(uint32_t p) {
    uint32_t x = p; // right to 3 bits, as p * p = 1 mod 8 for odd p
    for (int i = 0; i < 4; ++i) {
        x *= 2u - p * x;
    }
    return x;
}

} // namespace

// The parent's hashcodeToMove is the x with x * p = h (mod 2^32). For an odd prime it is
// unique: h times the inverse of p, the same number that dividing the product out and
// correcting for its wraps gives. For p = 2 it is h / 2 or h / 2 + 2^31, tried in that order,
// and there is none when h is odd.
Relator::ParentKeys Relator::parentKeys(uint32_t hashcodeMoved, uint32_t p) {
    if (p != 2) {
        return {1, {hashcodeMoved * inverseOf(p), 0}};
    }
    if ((hashcodeMoved & 1u) != 0) {
        return {0, {0, 0}};
    }
    return {2, {hashcodeMoved / 2, hashcodeMoved / 2 + 0x80000000u}};
}

Node* Relator::findParent(const Node* node, CellIndex cell) {
    const uint32_t p = keyTable->knownPrimeFor(cell);
    if (p == 0) {
        note("unknown prime");
        return nullptr;
    }
    const ParentKeys keys = parentKeys(node->hashcodeMoved, p);
    const uint8_t age = static_cast<uint8_t>(node->age - 1);
    for (int k = 0; k < keys.count; ++k) {
        Node* parent = nodeTable->find(keys.hashcodeToMove[k], node->hashcodeToMove, age);
        if (parent != nullptr) {
            return parent;
        }
    }
    return nullptr;
}

bool Relator::recomputeFromChildren(Node* parent, uint32_t added, bool changed) {
    bool result = false;
    if (changed || added == 0) {
        int best = rating::NoMove;
        CellIndex cells[CellCount];
        int n = 0;
        if (openingRule == CentreBarred && parent->age == 1) {
            for (CellIndex cell : ringThree.cells) {
                cells[n++] = cell;
            }
        } else {
            // Stones included: the board is a descendant's, so it covers the parent's children.
            for (int c = 0; c < CellCount; ++c) {
                if (board[c] != Empty) {
                    cells[n++] = static_cast<CellIndex>(c);
                }
            }
        }
        ChildKeys keys;
        childKeys(parent, cells, n, keys);
        for (int i = 0; i < n; ++i) {
            const Node* child = nodeTable->find(keys.probes[i], keys.hashcodeToMove,
                                                keys.hashcodeMoved[i], keys.age);
            if (child != nullptr && child->rating > best) {
                best = child->rating;
            }
        }
        if (parent->rating != -best) {
            const int16_t old = parent->rating;
            parent->rating = static_cast<int16_t>(-best);
            const uint32_t count = parent->count;
            if (count >= WellExplored && logger != nullptr) {
                const int before = magnitude(old);
                const int after = magnitude(parent->rating);
                if (before < rating::Clear && after >= rating::Clear) {
                    ++logger->reached10000;
                    if (count >= LargeSubtree) {
                        ++logger->reached10000Large;
                    }
                } else if (before < rating::NearlyDecided && after >= rating::NearlyDecided) {
                    ++logger->reached20000;
                    if (count >= LargeSubtree) {
                        ++logger->reached20000Large;
                    }
                }
            }
            result = true;
        }
    }
    parent->count += added; // wraps modulo 2^32
    return result;
}

void Relator::propagateUp(uint32_t added) {
    if (plyCount < 1) {
        return;
    }
    propagateFrom(topNode(), plyCount - 1, added, true, true);
}

// Depth-first over every ancestor whose missing stones, latest first, alternate between the
// sides; the depth is at most the ply count.
void Relator::propagateFrom(Node* node, int fromPly, uint32_t added, bool changed, bool mainLine) {
    // Every parent's head entry, then its chain's first Node, starts loading before the walk
    // goes down the first parent; each lookup then uses its probe. Lookups and notes keep the
    // order of findParent for each stone in turn.
    constexpr int MostParents = CellCount / 2;
    ParentKeys keys[MostParents];
    NodeTable::Probe probes[MostParents][2];
    int n = 0;
    for (int i = fromPly; i > 0; i -= 2, ++n) {
        const uint32_t p = keyTable->knownPrimeFor(plies[i].move);
        keys[n] = p != 0 ? parentKeys(node->hashcodeMoved, p) : ParentKeys{0, {0, 0}};
        for (int k = 0; k < keys[n].count; ++k) {
            probes[n][k] = nodeTable->locate(keys[n].hashcodeToMove[k], node->hashcodeToMove);
        }
    }
    for (int m = 0; m < n; ++m) {
        for (int k = 0; k < keys[m].count; ++k) {
            nodeTable->resolve(probes[m][k]);
        }
    }
    const uint8_t age = static_cast<uint8_t>(node->age - 1);
    n = 0;
    for (int i = fromPly; i > 0; i -= 2, ++n) {
        if (keyTable->knownPrimeFor(plies[i].move) == 0) {
            note("unknown prime");
        }
        Node* parent = nullptr;
        for (int k = 0; k < keys[n].count && parent == nullptr; ++k) {
            parent =
                nodeTable->find(probes[n][k], keys[n].hashcodeToMove[k], node->hashcodeToMove, age);
        }
        if (parent != nullptr) {
            const bool parentChanged = recomputeFromChildren(parent, added, changed);
            propagateFrom(parent, i - 1, added, parentChanged, mainLine && i == fromPly);
        } else if (i == fromPly && mainLine) {
            note("no parent found");
        }
    }
}
