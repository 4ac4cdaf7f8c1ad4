#include "Gameboard.h"

Gameboard::Gameboard(CellPrimes* primes, NodeTable* table, uint32_t rule, OrientationFlag* spare,
                     OrientationFlag* transposed, OrientationFlag* flipRows,
                     OrientationFlag* flipColumns)
    : Builder(primes, table, rule), FlipColumns(flipColumns), FlipRows(flipRows),
      Transposed(transposed), SpareOrientationFlag(spare) {
    Node* root = nodeTable->findOrCreate(1, 1, 0).node;
    pushMove(CentreCell, root);
    expand();
}

// Folds the click by a symmetry of the position onto the cell the tree holds, and turns the
// display flags by the same symmetry so the window still shows every stone where it was.
bool Gameboard::playClicked(CellIndex cell) {
    if (cell >= CellCount || plyCount < 1) {
        return false;
    }
    const int32_t* a = topPly().asymmetry;
    int dc = cell % BoardSide - 7;
    int dr = cell / BoardSide - 7;
    const bool transposed = Transposed->load() != 0;
    if (a[MirrorColumns] == 0 && dc < 0) {
        dc = -dc;
        toggle(transposed ? FlipRows : FlipColumns);
    }
    if (a[MirrorRows] == 0 && dr < 0) {
        dr = -dr;
        toggle(transposed ? FlipColumns : FlipRows);
    } else if (a[HalfTurn] == 0 && dr < 0) {
        dr = -dr;
        dc = -dc;
        toggle(FlipColumns);
        toggle(FlipRows);
    }
    if (a[MirrorMainDiagonal] == 0 && dc < dr) {
        const int t = dc;
        dc = dr;
        dr = t;
        toggle(Transposed);
    }
    if (a[MirrorAntiDiagonal] == 0 && dc < -dr) {
        const int t = dc;
        dc = -dr;
        dr = -t;
        toggle(Transposed);
        toggle(FlipColumns);
        toggle(FlipRows);
    }
    return playCell(static_cast<CellIndex>((dr + 7) * BoardSide + dc + 7));
}

int32_t Gameboard::computerMove() {
    Node* node = topNode();
    if (node->candidateCount == 0) {
        expand();
    }
    // The first eligible child is kept whatever its rating: a position whose moves all lose
    // still gets a move.
    Node* kept = nullptr;
    CellIndex keptCell = NoCell;
    for (int c = 0; c < CellCount; ++c) {
        const CellIndex cell = static_cast<CellIndex>(c);
        if (!isEligible(cell)) {
            continue;
        }
        Node* child = findChild(node, cell);
        if (child != nullptr && (kept == nullptr || child->rating > kept->rating)) {
            kept = child;
            keptCell = cell;
        }
    }
    if (kept == nullptr) {
        return -32600;
    }
    if (node->rating != -kept->rating) {
        recomputeFromChildren(node, 0, true);
        propagateUp(0);
    }
    pushMove(keptCell, kept);
    return kept->rating;
}
