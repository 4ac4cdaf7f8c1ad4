#include "Evaluator.h"

#include <cstdlib>
#include <cstring>

namespace patterns {

// clang-format off
const char Text[PatternCount * PatternSlots + 1] =
    "XXXXX\0\0\0\0"
    "88888\0\0\0\0"
    "_XXXX_\0\0\0" "x_XXX_x\0\0" "xx_XX_xx\0" "xxx_X_xxx"
    "_8888_\0\0\0" "Xooo__\0\0\0" "__oooX\0\0\0" "To_ooT\0\0\0" "Too_oT\0\0\0"
    "oToToTo\0\0" "oTTooTo\0\0" "oTooTTo\0\0" "oooTTTooo" "*_ooo_*\0\0"
    "XXXX_\0\0\0\0" "_XXXX\0\0\0\0" "XXX_X\0\0\0\0" "X_XXX\0\0\0\0" "XX_XX\0\0\0\0"
    "_XXX__\0\0\0" "__XXX_\0\0\0" "_XX_X_\0\0\0" "_X_XX_\0\0\0" "X_X_X_X\0\0"
    "X_XX__X\0\0" "X__XX_X\0\0" "XX_X__XX\0" "XX__X_XX\0"
    "TTooo\0\0\0\0" "oooTT\0\0\0\0" "?oToo?\0\0\0" "?ooTo?\0\0\0" "oToTo\0\0\0\0"
    "oTToo\0\0\0\0" "ooTTo\0\0\0\0" "_TooT_\0\0\0" "TTToo_+\0\0" "+_ooTTT\0\0"
    "ToToT_\0\0\0" "_ToToT\0\0\0" "_oTTo_\0\0\0"
    "_TxTT_\0\0\0" "_TTxT_\0\0\0" "_X__X_\0\0\0" "XXX__\0\0\0\0" "__XXX\0\0\0\0"
    "_XXX_\0\0\0\0" "X_XX_\0\0\0\0" "_XX_X\0\0\0\0" "XX_X_\0\0\0\0" "_X_XX\0\0\0\0"
    "ToT\0\0\0\0\0\0";
// clang-format on

namespace {

constexpr uint8_t maskOf(char symbol) {
    switch (symbol) {
    case 'X':
        return MaskAnchor | MaskCross;
    case 'x':
        return MaskCross;
    case '8':
        return MaskAnchor | MaskNought;
    case 'o':
        return MaskNought;
    case 'T':
        return MaskAnchor | MaskEmpty;
    case '_':
        return MaskEmpty;
    case '?':
        return MaskAnchor | MaskOffBoard | MaskCross | MaskEmpty;
    case '*':
        return MaskAnchor | MaskOffBoard | MaskCross;
    case '+':
        return MaskOffBoard | MaskCross;
    default:
        return 0;
    }
}

constexpr uint8_t exchangeSides(uint8_t mask) {
    const bool cross = (mask & MaskCross) != 0;
    const bool nought = (mask & MaskNought) != 0;
    if (cross == nought) {
        return mask;
    }
    return static_cast<uint8_t>((mask & ~(MaskCross | MaskNought)) |
                                (cross ? MaskNought : MaskCross));
}

PatternTable translate(bool nought) {
    PatternTable t{};
    for (int p = 0; p < PatternCount; ++p) {
        for (int s = 0; s < PatternSlots; ++s) {
            uint8_t m = maskOf(Text[p * PatternSlots + s]);
            t[static_cast<std::size_t>(p)][static_cast<std::size_t>(s)] =
                nought ? exchangeSides(m) : m;
        }
    }
    return t;
}

} // namespace

// Built on first use; C++ guarantees a function-local static is initialised exactly once.
const PatternTable& crossTable() {
    static const PatternTable table = translate(false);
    return table;
}
const PatternTable& noughtTable() {
    static const PatternTable table = translate(true);
    return table;
}

} // namespace patterns

namespace {

// A line through the move cell is held as one 64-bit word: for each of the 16 cells within
// eight steps either side, one bit in the group of its kind (empty, cross, nought, off the
// board). A pattern laid with one anchor on the move cell becomes the word of kinds it forbids
// at each cell, so it matches exactly when the two words have no bit in common.
constexpr int LineReach = PatternSlots - 1;
constexpr uint8_t KindBit[4] = {MaskEmpty, MaskCross, MaskNought, MaskOffBoard};

constexpr int positionOf(int offset) {
    return offset < 0 ? offset + LineReach : offset + LineReach - 1;
}

struct CompiledTables {
    // Placements of every pattern, in table order and, within a pattern, anchor order.
    uint64_t forbidden[PatternCount * PatternSlots];
    int classStart[ClassCount + 1];
    // Fewest crosses and noughts any placement of the class needs on its line: a line with
    // fewer cannot match, which rules most lines out at a glance.
    int needCrosses[ClassCount];
    int needNoughts[ClassCount];
};

constexpr uint64_t GroupMask = 0xFFFF;

// Cells of the placement where only one kind is allowed.
int required(uint64_t forbid, int kind) {
    uint64_t onlyThis = GroupMask;
    for (int k = 0; k < 4; ++k) {
        if (k != kind) {
            onlyThis &= (forbid >> (16 * k)) & GroupMask;
        }
    }
    return __builtin_popcountll(onlyThis);
}

CompiledTables compile(const PatternTable& table) {
    CompiledTables c{};
    int n = 0;
    int cls = 0;
    for (int p = 0; p < PatternCount; ++p) {
        while (cls <= ClassCount && patterns::ClassStart[static_cast<std::size_t>(cls)] == p) {
            c.classStart[cls++] = n;
        }
        const auto& slots = table[static_cast<std::size_t>(p)];
        for (int a = 0; a < PatternSlots; ++a) {
            if ((slots[static_cast<std::size_t>(a)] & MaskAnchor) == 0) {
                continue;
            }
            uint64_t forbid = 0;
            for (int s = 0; s < PatternSlots; ++s) {
                const uint8_t m = slots[static_cast<std::size_t>(s)];
                if (s == a || m == 0) {
                    continue;
                }
                for (int k = 0; k < 4; ++k) {
                    if ((m & KindBit[k]) == 0) {
                        forbid |= uint64_t{1} << (16 * k + positionOf(s - a));
                    }
                }
            }
            c.forbidden[n++] = forbid;
        }
    }
    while (cls <= ClassCount) {
        c.classStart[cls++] = n;
    }
    for (int k = 0; k < ClassCount; ++k) {
        c.needCrosses[k] = PatternSlots;
        c.needNoughts[k] = PatternSlots;
        for (int i = c.classStart[k]; i < c.classStart[k + 1]; ++i) {
            const int crosses = required(c.forbidden[i], 1);
            const int noughts = required(c.forbidden[i], 2);
            c.needCrosses[k] = crosses < c.needCrosses[k] ? crosses : c.needCrosses[k];
            c.needNoughts[k] = noughts < c.needNoughts[k] ? noughts : c.needNoughts[k];
        }
    }
    return c;
}

const CompiledTables& compiledCross() {
    static const CompiledTables tables = compile(patterns::crossTable());
    return tables;
}
const CompiledTables& compiledNought() {
    static const CompiledTables tables = compile(patterns::noughtTable());
    return tables;
}

constexpr int DirColumnStep[4] = {1, 1, 1, 0};
constexpr int DirRowStep[4] = {1, -1, 0, 1};

struct Lines {
    uint64_t word[4];
    int crosses[4];
    int noughts[4];
};

// The cells of each line through each cell, nearest first on either side; CellCount marks a
// place off the board.
struct LineCells {
    uint8_t cell[CellCount][4][2 * LineReach];
    LineCells() {
        for (int c = 0; c < CellCount; ++c) {
            for (int d = 0; d < 4; ++d) {
                for (int i = -LineReach; i <= LineReach; ++i) {
                    if (i == 0) {
                        continue;
                    }
                    const int x = c % BoardSide + i * DirColumnStep[d];
                    const int y = c / BoardSide + i * DirRowStep[d];
                    const bool off = x < 0 || x >= BoardSide || y < 0 || y >= BoardSide;
                    cell[c][d][positionOf(i)] =
                        static_cast<uint8_t>(off ? CellCount : y * BoardSide + x);
                }
            }
        }
    }
};
const LineCells lineCells;

// Group of each content value: Empty and Candidate are empty; stones by their bit.
constexpr uint8_t KindOfContent[9] = {0, 0, 0, 0, 1, 0, 0, 0, 2};

void readLines(const uint8_t* board, CellIndex move, Lines& lines) {
    for (int d = 0; d < 4; ++d) {
        const uint8_t* cells = lineCells.cell[move][d];
        uint64_t word = 0;
        int crosses = 0;
        int noughts = 0;
        for (int i = 0; i < 2 * LineReach; ++i) {
            const int c = cells[i];
            const int kind = c == CellCount ? 3 : KindOfContent[board[c]];
            word |= uint64_t{1} << (16 * kind + i);
            crosses += kind == 1 ? 1 : 0;
            noughts += kind == 2 ? 1 : 0;
        }
        lines.word[d] = word;
        lines.crosses[d] = crosses;
        lines.noughts[d] = noughts;
    }
}

// Tries the class against the free directions in order; returns the direction matched, or -1.
int matchIn(const Lines& lines, const CompiledTables& tables, int patternClass,
            int& freeDirections) {
    const int first = tables.classStart[patternClass];
    const int end = tables.classStart[patternClass + 1];
    const int needCrosses = tables.needCrosses[patternClass];
    const int needNoughts = tables.needNoughts[patternClass];
    for (int d = 0; d < 4; ++d) {
        if ((freeDirections & (1 << d)) == 0 || lines.crosses[d] < needCrosses ||
            lines.noughts[d] < needNoughts) {
            continue;
        }
        const uint64_t line = lines.word[d];
        for (int i = first; i < end; ++i) {
            if ((line & tables.forbidden[i]) == 0) {
                freeDirections &= ~(1 << d);
                return d;
            }
        }
    }
    return -1;
}

inline uint8_t addWrapped(uint8_t counter, int amount) {
    return static_cast<uint8_t>(counter + amount); // tallies wrap modulo 256
}

// Raw content of a neighbour of the move cell; a cell off the board gets a value of its own.
inline int neighbourContent(const uint8_t* board, int column, int row) {
    if (column < 0 || column >= BoardSide || row < 0 || row >= BoardSide) {
        return 0x100;
    }
    return board[row * BoardSide + column];
}

} // namespace

double carryFactor(int age) {
    if (age <= 2) {
        return 1.0;
    }
    if (age <= 4) {
        return 0.9;
    }
    if (age <= 7) {
        return 0.7;
    }
    if (age <= 10) {
        return 0.4;
    }
    if (age <= 12) {
        return 0.2;
    }
    return 0.1;
}

int contactValue(int age, bool crossMover) {
    // Truncations of 220 and 110 times the contact factor, formed in extended precision.
    static constexpr int CrossValues[] = {220, 198, 176, 153, 110, 65, 22};
    static constexpr int NoughtValues[] = {110, 99, 88, 76, 55, 32, 11};
    int band;
    if (age <= 4) {
        band = 0;
    } else if (age <= 6) {
        band = 1;
    } else if (age <= 8) {
        band = 2;
    } else if (age <= 10) {
        band = 3;
    } else if (age <= 12) {
        band = 4;
    } else if (age <= 14) {
        band = 5;
    } else {
        band = 6;
    }
    return crossMover ? CrossValues[band] : -NoughtValues[band];
}

Evaluator::Evaluator(CellPrimes* primes, NodeTable* table) : nodeTable(table), keyTable(primes) {
    std::memset(plies, 0, sizeof(plies));
    std::memset(board, Empty, sizeof(board));
    // Translate both tables now, on the constructing thread, before any search runs.
    compiledCross();
    compiledNought();
}

bool Evaluator::matchClass(int patternClass, int& freeDirections, CellIndex move) {
    Lines lines;
    readLines(board, move, lines);
    const CompiledTables& tables = (plyCount % 2 == 0) ? compiledCross() : compiledNought();
    return matchIn(lines, tables, patternClass, freeDirections) >= 0;
}

void Evaluator::evaluateChild(const Node* parent, Node* child, CellIndex move) {
    Node& c = *child;
    const Node& n = *parent;
    c.movedPotential = n.toMovePotential;
    c.movedThrees = n.toMoveThrees;
    c.movedFours = n.toMoveFours;
    c.toMovePotential =
        n.movedPotential > 1 ? static_cast<uint8_t>(n.movedPotential - 1) : n.movedPotential;
    c.toMoveThrees = n.movedThrees;
    c.toMoveFours = n.movedFours;

    const bool crossMover = (plyCount % 2 == 0);
    const CompiledTables& tables = crossMover ? compiledCross() : compiledNought();
    Lines lines;
    readLines(board, move, lines);
    int free = 15;

    // Any five wins, whatever the tallies say: a four can go unrecorded.
    if (matchIn(lines, tables, Five, free) >= 0) {
        c.rating = rating::Five;
        return;
    }

    int local = 0;
    if (c.toMoveFours != 0 && matchIn(lines, tables, BlockFive, free) >= 0) {
        c.toMoveFours = static_cast<uint8_t>(c.toMoveFours - 1);
    }
    if (c.movedThrees != 0 && matchIn(lines, tables, OpenFour, free) >= 0) {
        c.movedFours = addWrapped(c.movedFours, 2);
        c.movedThrees = static_cast<uint8_t>(c.movedThrees - 1);
    }
    const int column = move % BoardSide;
    const int row = move / BoardSide;
    while (c.toMoveThrees != 0) {
        const int k = matchIn(lines, tables, BlockOpenThree, free);
        if (k < 0) {
            break;
        }
        c.toMoveThrees = static_cast<uint8_t>(c.toMoveThrees - 1);
        const int before = neighbourContent(board, column - DirColumnStep[k], row - DirRowStep[k]);
        const int after = neighbourContent(board, column + DirColumnStep[k], row + DirRowStep[k]);
        if (before != after) {
            c.toMovePotential = addWrapped(c.toMovePotential, 12);
        }
        local = -600;
    }
    while (matchIn(lines, tables, Four, free) >= 0) {
        c.movedFours = addWrapped(c.movedFours, 1);
        c.movedPotential = static_cast<uint8_t>(c.movedPotential -
                                                (c.movedPotential < 12 ? c.movedPotential : 12));
    }
    while (matchIn(lines, tables, OpenThree, free) >= 0) {
        c.movedThrees = addWrapped(c.movedThrees, 1);
        c.movedPotential = static_cast<uint8_t>(c.movedPotential -
                                                (c.movedPotential < 10 ? c.movedPotential : 10));
    }
    while (c.toMovePotential != 0 && matchIn(lines, tables, BlockPotential, free) >= 0) {
        const int p = c.toMovePotential;
        c.toMovePotential = static_cast<uint8_t>(p - (p >= 9 ? 8 : (p + 1) / 2));
    }
    while (matchIn(lines, tables, BuildPotential, free) >= 0) {
        c.movedPotential = addWrapped(c.movedPotential, 10);
    }
    if (free != 0) {
        while (matchIn(lines, tables, Contact, free) >= 0) {
            local += contactValue(c.age, crossMover);
        }
    }

    // 80-bit product of the double factor, truncated toward zero.
    const long double carried =
        static_cast<long double>(local) -
        static_cast<long double>(n.rating) * static_cast<long double>(carryFactor(c.age));
    int base = static_cast<int>(carried);

    if (c.age == 5) {
        const int a = plies[1].move;
        const int b = plies[3].move;
        const bool sameRow = a / BoardSide == row && b / BoardSide == row;
        const bool sameColumn = a % BoardSide == column && b % BoardSide == column;
        if (sameRow || sameColumn) {
            base = rating::ThreeInLine;
            c.ratingFixed = 1;
        }
    }
    if (c.ratingFixed == 0) {
        if (c.toMoveFours != 0) {
            base = -rating::Decided; // the opponent makes five next
        } else if (c.toMoveThrees != 0 && c.movedFours == 0) {
            base = rating::OpenThreeLeft;
        } else {
            base += 4200 * c.movedFours + 3840 * c.movedThrees + 84 * c.movedPotential -
                    6000 * c.toMoveThrees - 150 * c.toMovePotential;
        }
    }
    // Long games inflate the tallies; a heuristic rating must never read as decided.
    if (base > rating::Decided) {
        base = rating::Decided;
    } else if (base < -rating::Decided) {
        base = -rating::Decided;
    }
    c.rating = static_cast<int16_t>(base);
}

// ---------------------------------------------------------------------------------------------
// Position and move rules

bool Evaluator::pushMove(CellIndex cell, Node* node) {
    const int column = cell % BoardSide;
    const int row = cell / BoardSide;
    const uint8_t old = board[cell];
    board[cell] = (plyCount % 2 == 0) ? Cross : Nought;
    ++plyCount;
    PlyState& p = plies[plyCount - 1];
    // The first ply starts its counters from zero.
    static constexpr int32_t NoAsymmetry[SymmetryCount] = {};
    const int32_t* previous = plyCount > 1 ? plies[plyCount - 2].asymmetry : NoAsymmetry;
    p.node = node;
    p.move = cell;
    p.previousContent = old;
    for (int k = 0; k < SymmetryCount; ++k) {
        const int image = imageOf(static_cast<Symmetry>(k), cell);
        int delta;
        if (image == cell) {
            delta = 0;
        } else if (board[image] == board[cell]) {
            delta = -1;
        } else {
            delta = 1;
        }
        p.asymmetry[k] = previous[k] + delta;
    }
    p.markedCount = 0;
    markCandidates(p, column, plyCount <= 3 ? 1 : 2, row);
    return p.node != nullptr;
}

void Evaluator::markCandidates(PlyState& ply, int column, int radius, int row) {
    for (int d = 1; d <= radius; ++d) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) {
                    continue;
                }
                const int x = column + d * dx;
                const int y = row + d * dy;
                if (x < 0 || x >= BoardSide || y < 0 || y >= BoardSide) {
                    continue;
                }
                const int cell = y * BoardSide + x;
                if (board[cell] != Empty) {
                    continue;
                }
                if (ply.markedCount < 32) {
                    board[cell] = Candidate;
                    ply.marked[ply.markedCount++] = static_cast<uint8_t>(cell);
                }
            }
        }
    }
}

bool Evaluator::playCell(CellIndex cell) {
    const Node* top = topNode();
    if (top == nullptr) {
        return false;
    }
    const NodeKey k = childKey(*top, keyTable->primeFor(cell));
    Node* child = nodeTable->find(k.hashcodeToMove, k.hashcodeMoved, k.age);
    if (child == nullptr) {
        return false;
    }
    return pushMove(cell, child);
}

bool Evaluator::undoMove() {
    if (plyCount == 0) {
        return false;
    }
    const PlyState& p = topPly();
    board[p.move] = static_cast<uint8_t>(p.previousContent);
    for (int i = 0; i < p.markedCount; ++i) {
        board[p.marked[i]] = Empty;
    }
    --plyCount;
    return plyCount > 0 && topNode() != nullptr;
}

void Evaluator::rewindToRoot() {
    while (plyCount > 1) {
        undoMove();
    }
}

bool Evaluator::isRepresentative(CellIndex cell) const {
    if (plyCount == 0) {
        return false;
    }
    const int32_t* a = topPly().asymmetry;
    const int dc = columnOffset(cell);
    const int dr = rowOffset(cell);
    if (a[MirrorColumns] == 0 && dc < 0) {
        return false;
    }
    // The half turn alone folds rows; with both diagonals symmetric the diagonal tests below
    // already keep one cell of every image set, and folding rows too would leave none.
    const bool foldRows =
        a[MirrorRows] == 0 ||
        (a[HalfTurn] == 0 && (a[MirrorMainDiagonal] != 0 || a[MirrorAntiDiagonal] != 0));
    if (foldRows && dr < 0) {
        return false;
    }
    if (a[MirrorMainDiagonal] == 0 && dc < dr) {
        return false;
    }
    if (a[MirrorAntiDiagonal] == 0 && dc < -dr) {
        return false;
    }
    return openingRuleAllows(cell);
}

bool Evaluator::openingRuleAllows(CellIndex cell) const {
    const Node* top = topNode();
    if (openingRule != CentreBarred || top == nullptr || top->age != 1) {
        return true;
    }
    return !inCentralSquare(cell);
}
