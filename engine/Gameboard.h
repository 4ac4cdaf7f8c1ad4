#pragma once

#include <atomic>
#include <cstdint>

#include "Builder.h"

/// One-byte display-orientation flag owned by the window, turned by the engine.
using OrientationFlag = std::atomic<uint8_t>;

/// The engine as the rest of the program drives it: a ready position with the centre stone,
/// a player's move folded onto the tree's representative, and the computer's move.
class Gameboard : public Builder {
public:
    Gameboard(CellPrimes* primes, NodeTable* table, uint32_t rule, OrientationFlag* spare,
              OrientationFlag* transposed, OrientationFlag* flipRows, OrientationFlag* flipColumns);

    bool playClicked(CellIndex cell);
    int32_t computerMove();

    OrientationFlag* FlipColumns;
    OrientationFlag* FlipRows;
    OrientationFlag* Transposed;
    OrientationFlag* SpareOrientationFlag;

private:
    static void toggle(OrientationFlag* flag) { flag->store(flag->load() == 0 ? 1 : 0); }
};
