#pragma once

#include <atomic>
#include <cstdint>

#include "Builder.h"

/// Bits of the display orientation: how the window's board is mirrored or transposed relative
/// to the engine's. The window owns the word; the engine turns it when it folds a click.
enum OrientationFlag : uint8_t {
    FlipColumns = 1,
    FlipRows = 2,
    Transposed = 4,
    SpareOrientationFlag = 8,
};
/// All the flags in one word, so that a fold turns them in one store and a reader never sees
/// half of it.
using Orientation = std::atomic<uint8_t>;

/// The engine cell shown on a displayed cell (row * 15 + column) under an orientation.
constexpr int engineCellOf(int windowCell, uint8_t orientation) {
    int column = windowCell % BoardSide;
    int row = windowCell / BoardSide;
    if ((orientation & FlipColumns) != 0) {
        column = BoardSide - 1 - column;
    }
    if ((orientation & FlipRows) != 0) {
        row = BoardSide - 1 - row;
    }
    return (orientation & Transposed) != 0 ? column * BoardSide + row : row * BoardSide + column;
}

/// The displayed cell that shows an engine cell under an orientation.
constexpr int windowCellOf(int engineCell, uint8_t orientation) {
    int row = engineCell / BoardSide;
    int column = engineCell % BoardSide;
    if ((orientation & Transposed) != 0) {
        const int t = row;
        row = column;
        column = t;
    }
    if ((orientation & FlipColumns) != 0) {
        column = BoardSide - 1 - column;
    }
    if ((orientation & FlipRows) != 0) {
        row = BoardSide - 1 - row;
    }
    return row * BoardSide + column;
}

/// The engine as the rest of the program drives it: a ready position with the centre stone,
/// a player's move folded onto the tree's representative, and the computer's move.
class Gameboard : public Builder {
public:
    Gameboard(CellPrimes* primes, NodeTable* table, uint32_t rule, Orientation* orientation);

    bool playClicked(CellIndex cell);
    int32_t computerMove();
    /// Plays a move that the tree lacks, unfolded: its Node is made and rated as an expansion
    /// would. False, with nothing changed, when the table has no room for it.
    bool playAsClicked(CellIndex cell);

    Orientation* orientation; ///< the window's display orientation; not owned
};

/// The tables an engine lives on, built in the one order that works: the Logger, the cell
/// primes, then the table, which reports to the Logger.
struct EngineTables {
    explicit EngineTables(uint64_t memoryLimit = NodeTable::NoLimit) {
        table.setMemoryLimit(memoryLimit);
    }
    Logger log;
    CellPrimes primes;
    NodeTable table{log};
};

/// A ready engine on tables of its own, wired as the game wires it: the tables, the engine
/// (which places the centre stone and expands it), then the engine's logger. Without a
/// window's orientation word it turns one of its own.
struct EngineSet {
    explicit EngineSet(uint32_t rule, Orientation* shown = nullptr,
                       uint64_t memoryLimit = NodeTable::NoLimit)
        : tables(memoryLimit),
          engine(&tables.primes, &tables.table, rule, shown != nullptr ? shown : &ownOrientation) {
        engine.logger = &tables.log;
    }
    EngineSet(const EngineSet&) = delete;
    EngineSet& operator=(const EngineSet&) = delete;

    uint8_t orientationBits() const { return engine.orientation->load(); }

    EngineTables tables;
    Orientation ownOrientation{0};
    Gameboard engine;
};
