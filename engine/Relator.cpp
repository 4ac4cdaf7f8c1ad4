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

inline int magnitude(int16_t r) {
    return std::abs(static_cast<int>(r));
}

} // namespace

bool Relator::isOnRingThree(CellIndex cell) {
    const int dr = std::abs(cell / BoardSide - 7);
    const int dc = std::abs(cell % BoardSide - 7);
    return (dr > dc ? dr : dc) == 3;
}

void Relator::listChildren() {
    childCount = 0;
    const Node* current = topNode();
    for (int c = 0; c < CellCount; ++c) {
        const CellIndex cell = static_cast<CellIndex>(c);
        if (!isEligible(cell)) {
            continue;
        }
        Node* child = findChild(current, cell);
        if (child != nullptr) {
            childCells[childCount] = cell;
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

Node* Relator::findParent(const Node* node, CellIndex cell) {
    const uint32_t p = keyTable->knownPrimeFor(cell);
    if (p == 0) {
        note("unknown prime");
        return nullptr;
    }
    const uint32_t h = node->hashcodeMoved;
    const uint32_t q = h / p;
    const uint32_t r = h % p;
    const uint8_t age = static_cast<uint8_t>(node->age - 1);
    if (r == 0) {
        Node* parent = nodeTable->find(q, node->hashcodeToMove, age);
        if (parent != nullptr || p != 2) {
            return parent;
        }
    }
    // The product wrapped: x = q + d * M + (r + R * d) / p solves x * p = h (mod 2^32).
    const uint32_t m = 0xFFFFFFFFu / p;
    const uint32_t rr = 0xFFFFFFFFu % p + 1u;
    for (uint32_t d = 1; d <= p; ++d) {
        if ((r + rr * d) % p == 0) {
            return nodeTable->find(q + d * m + (r + rr * d) / p, node->hashcodeToMove, age);
        }
    }
    return nullptr; // p = 2 with h odd: no position has this parent
}

bool Relator::recomputeFromChildren(Node* parent, uint32_t added, bool changed) {
    bool result = false;
    if (changed || added == 0) {
        int best = -32600;
        if (openingRule == 1 && parent->age == 1) {
            for (CellIndex cell : ringThree.cells) {
                const Node* child = findChild(parent, cell);
                if (child != nullptr && child->rating > best) {
                    best = child->rating;
                }
            }
        } else {
            // Stones included: the board is a descendant's, so it covers the parent's children.
            for (int c = 0; c < CellCount; ++c) {
                if (board[c] == Empty) {
                    continue;
                }
                const Node* child = findChild(parent, static_cast<CellIndex>(c));
                if (child != nullptr && child->rating > best) {
                    best = child->rating;
                }
            }
        }
        if (parent->rating != -best) {
            const int16_t old = parent->rating;
            parent->rating = static_cast<int16_t>(-best);
            const uint32_t count = parent->count;
            if (count >= 200 && logger != nullptr) {
                const int before = magnitude(old);
                const int after = magnitude(parent->rating);
                if (before < 10000 && after >= 10000) {
                    ++logger->reached10000;
                    if (count >= 10000) {
                        ++logger->reached10000Large;
                    }
                } else if (before < 20000 && after >= 20000) {
                    ++logger->reached20000;
                    if (count >= 10000) {
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
    for (int i = fromPly; i > 0; i -= 2) {
        Node* parent = findParent(node, plies[i].move);
        if (parent != nullptr) {
            const bool parentChanged = recomputeFromChildren(parent, added, changed);
            propagateFrom(parent, i - 1, added, parentChanged, mainLine && i == fromPly);
        } else if (i == fromPly && mainLine) {
            note("no parent found");
        }
    }
}
