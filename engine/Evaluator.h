#pragma once

#include <array>
#include <cstdint>

#include "Logger.h"
#include "Simplynumbers.h"

/// Cell contents of the engine's board. Stones are told apart by bit tests.
enum CellContent : uint8_t { Empty = 0, Candidate = 1, Cross = 4, Nought = 8 };

/// Symmetries of the board, in the order of the asymmetry counters.
enum Symmetry : int {
    MirrorColumns = 0,
    MirrorRows = 1,
    HalfTurn = 2,
    MirrorMainDiagonal = 3,
    MirrorAntiDiagonal = 4,
    SymmetryCount = 5
};

/// The image of a cell under a symmetry of the board.
constexpr int imageOf(Symmetry symmetry, int cell) {
    const int row = cell / BoardSide;
    const int column = cell % BoardSide;
    switch (symmetry) {
    case MirrorColumns:
        return row * BoardSide + (LastLine - column);
    case MirrorRows:
        return (LastLine - row) * BoardSide + column;
    case HalfTurn:
        return (LastLine - row) * BoardSide + (LastLine - column);
    case MirrorMainDiagonal:
        return column * BoardSide + row;
    default:
        return (LastLine - column) * BoardSide + (LastLine - row);
    }
}

/// The opening rules: free, or the first player's second stone kept out of the central square.
enum OpeningRule : uint32_t { FreeOpening = 0, CentreBarred = 1 };

/// The central 5 by 5 square, where the centre-barred rule forbids the second cross.
constexpr bool inCentralSquare(int cell) {
    const int dc = columnOffset(cell);
    const int dr = rowOffset(cell);
    return dc >= -2 && dc <= 2 && dr >= -2 && dr <= 2;
}

/// Pattern classes in the order in which a move is tried against them.
enum PatternClass : int {
    Five = 0,
    BlockFive,
    OpenFour,
    BlockOpenThree,
    Four,
    OpenThree,
    BlockPotential,
    BuildPotential,
    Contact,
    ClassCount
};

struct PlyState {
    uint8_t marked[32]; ///< cells this ply turned from Empty into Candidate, in marking order
    uint8_t move;       ///< the cell of the stone placed at this ply
    int32_t markedCount;
    int32_t asymmetry[SymmetryCount]; ///< 0 exactly when the position is symmetric that way
    Node* node;
    int32_t previousContent; ///< Empty or Candidate: what the move cell held before the stone
};

/// What a pattern slot allows at its cell, bit by bit; the mover's stones are Cross in the
/// table as written, and exchanged for a Nought mover.
enum PatternMask : uint8_t {
    MaskEmpty = 0x02,
    MaskCross = 0x04,
    MaskNought = 0x08,
    MaskOffBoard = 0x10,
    MaskAnchor = 0x20, ///< the move cell may stand here
};

constexpr int PatternCount = 54;
constexpr int PatternSlots = 9;
using PatternTable = std::array<std::array<uint8_t, PatternSlots>, PatternCount>;

namespace patterns {
/// The 54 line patterns, 9 slots each, zero-filled.
extern const char Text[PatternCount * PatternSlots + 1];
/// First table position of each class; the last entry is the end of the table.
constexpr std::array<int, ClassCount + 1> ClassStart = {0, 1, 2, 6, 16, 21, 30, 43, 53, 54};
/// The table translated for a Cross mover, and its copy for a Nought mover.
const PatternTable& crossTable();
const PatternTable& noughtTable();
} // namespace patterns

/// Carry factor of the parent's rating, by the child's age.
double carryFactor(int age);
/// Contact value added per contact line, by the child's age and the mover (negative for Nought).
int contactValue(int age, bool crossMover);

/// Base layer of the engine: the position with its ply stack, move rules, symmetry filter and
/// threat evaluation.
class Evaluator {
public:
    Evaluator(CellPrimes* primes, NodeTable* table);

    PlyState& plyAt(int i) { return plies[i]; }
    const PlyState& plyAt(int i) const { return plies[i]; }
    Node* rootNode() const { return plies[0].node; }
    PlyState& topPly() { return plies[plyCount - 1]; }
    const PlyState& topPly() const { return plies[plyCount - 1]; }
    Node* topNode() const { return plyCount > 0 ? plies[plyCount - 1].node : nullptr; }

    bool pushMove(CellIndex cell, Node* node);
    bool playCell(CellIndex cell);
    bool undoMove();
    void rewindToRoot();
    void markCandidates(PlyState& ply, int column, int radius, int row);
    bool isRepresentative(CellIndex cell) const;
    bool openingRuleAllows(CellIndex cell) const;

    void evaluateChild(const Node* parent, Node* child, CellIndex move);
    /// Finds one line of the class through the move cell among the free directions and clears
    /// that direction's bit.
    bool matchClass(int patternClass, int& freeDirections, CellIndex move);

    uint32_t openingRule = 0;
    int32_t plyCount = 0;
    Logger* logger = nullptr;
    NodeTable* nodeTable;
    PlyState plies[CellCount];
    CellPrimes* keyTable;
    uint8_t board[CellCount];

protected:
    void note(const char* text) {
        if (logger != nullptr) {
            logger->setMessage(text);
        }
    }
};
