#pragma once

#include "Relator.h"

/// Node expansion: creates and evaluates the representative children of the position on the
/// board, blends its rating with the best child's and backs the change up.
class Expander : public Relator {
public:
    Expander(CellPrimes* primes, NodeTable* table) : Relator(primes, table) {}

    /// Expands the position on the board. All or nothing: false, with nothing changed, when
    /// the table has no room for its children.
    bool expand();
    /// 0.4 x old - 0.6 x best in 80-bit arithmetic, truncated toward zero.
    static int16_t blend(int16_t old, int best);

    int32_t maxPlyReached = 0;
};
