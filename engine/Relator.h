#pragma once

#include "Evaluator.h"

/// Tree relations: children and parents found by key arithmetic, the child and expansion lists,
/// and negamax back-up of ratings through every parent the keys reach.
class Relator : public Evaluator {
public:
    Relator(CellPrimes* primes, NodeTable* table) : Evaluator(primes, table) {}

    bool isOpenCandidate(CellIndex cell) const { return board[cell] == Candidate; }
    static bool isOnRingThree(CellIndex cell);
    /// Eligible at the position on the board: a candidate, or a free ring cell for the
    /// first player's second stone under the opening rule.
    bool isEligible(CellIndex cell) const {
        if (openingRule == CentreBarred && plyCount == 2) {
            return board[cell] <= Candidate && isOnRingThree(cell);
        }
        return isOpenCandidate(cell);
    }

    Node* findChild(const Node* node, CellIndex cell) {
        const NodeKey k = childKey(*node, keyTable->primeFor(cell));
        return nodeTable->find(k.hashcodeToMove, k.hashcodeMoved, k.age);
    }
    void listChildren();
    void listExpandCells();
    Node* findParent(const Node* node, CellIndex cell);
    bool recomputeFromChildren(Node* parent, uint32_t added, bool changed);
    void propagateUp(uint32_t added);

    int32_t childCount = 0;
    Node* childNodes[CellCount - 1];
    uint8_t childCells[CellCount - 1];
    int32_t expandCount = 0;
    uint8_t expandCells[CellCount];

protected:
    /// Child keys of a Node for a list of cells, computed (and their slots prefetched) in cell
    /// order before any lookup, so the misses of one batch overlap. Prime hand-out order and
    /// lookup order stay those of looking each child up in turn.
    struct ChildKeys {
        uint32_t hashcodeToMove;
        uint8_t age;
        uint32_t hashcodeMoved[CellCount];
        NodeTable::Probe probes[CellCount];
    };
    void childKeys(const Node* node, const CellIndex* cells, int n, ChildKeys& keys);

    /// The hashcodeToMove values that a parent of a position may have when the stone taken away
    /// has prime p, in the order to try them: none, one, or two for p = 2.
    struct ParentKeys {
        int count;
        uint32_t hashcodeToMove[2];
    };
    static ParentKeys parentKeys(uint32_t hashcodeMoved, uint32_t p);

    void propagateFrom(Node* node, int fromPly, uint32_t added, bool changed, bool mainLine);
};
