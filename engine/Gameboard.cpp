#include "Gameboard.h"

#include <new>

Gameboard::Gameboard(CellPrimes* primes, NodeTable* table, uint32_t rule, Orientation* shown)
    : Builder(primes, table, rule), orientation(shown) {
    // Without room for the first position and its two children there is no game to play.
    if (!nodeTable->makeRoom(1)) {
        throw std::bad_alloc();
    }
    Node* root = nodeTable->findOrCreate(1, 1, 0).node;
    pushMove(CentreCell, root);
    if (!expand()) {
        throw std::bad_alloc();
    }
}

// Folds the click by a symmetry of the position onto the cell the tree holds, and turns the
// display by the same symmetry so the window still shows every stone where it was. The turn
// is stored only once the folded move is played: a refused click changes nothing.
bool Gameboard::playClicked(CellIndex cell) {
    if (cell >= CellCount || plyCount < 1) {
        return false;
    }
    const int32_t* a = topPly().asymmetry;
    int dc = columnOffset(cell);
    int dr = rowOffset(cell);
    const uint8_t before = orientation->load();
    uint8_t turned = before;
    const bool transposed = (before & Transposed) != 0;
    if (a[MirrorColumns] == 0 && dc < 0) {
        dc = -dc;
        turned ^= transposed ? FlipRows : FlipColumns;
    }
    if (a[MirrorRows] == 0 && dr < 0) {
        dr = -dr;
        turned ^= transposed ? FlipColumns : FlipRows;
    } else if (a[HalfTurn] == 0 && dr < 0) {
        dr = -dr;
        dc = -dc;
        turned ^= FlipColumns | FlipRows;
    }
    if (a[MirrorMainDiagonal] == 0 && dc < dr) {
        const int t = dc;
        dc = dr;
        dr = t;
        turned ^= Transposed;
    }
    if (a[MirrorAntiDiagonal] == 0 && dc < -dr) {
        const int t = dc;
        dc = -dr;
        dr = -t;
        turned ^= Transposed | FlipColumns | FlipRows;
    }
    const CellIndex folded = static_cast<CellIndex>(cellAtOffsets(dc, dr));
    if (playCell(folded)) {
        orientation->store(turned);
        return true;
    }
    // The candidate marks of a symmetric position need not be symmetric, so the fold may land
    // on a cell that is no move while the clicked one is: play that one as clicked.
    if (folded == cell || topNode()->candidateCount == 0 || !isEligible(cell)) {
        return false;
    }
    return playAsClicked(cell);
}

// The clicked cell's child, created and rated as an expansion would if the tree lacks it.
bool Gameboard::playAsClicked(CellIndex cell) {
    if (!nodeTable->makeRoom(1)) {
        return false;
    }
    Node* top = topNode();
    const NodeKey k = childKey(*top, keyTable->primeFor(cell));
    const NodeTable::Found f = nodeTable->findOrCreate(k.hashcodeToMove, k.hashcodeMoved, k.age);
    if (f.created) {
        evaluateChild(top, f.node, cell);
        top->count += 1;
        propagateUp(1);
    }
    return pushMove(cell, f.node);
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
        return rating::NoMove;
    }
    if (node->rating != -kept->rating) {
        recomputeFromChildren(node, 0, true);
        propagateUp(0);
    }
    pushMove(keptCell, kept);
    return kept->rating;
}
