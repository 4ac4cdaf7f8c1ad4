#pragma once

#include "Expander.h"

/// Best-first growth: one leaf per step, entered by the child score, expanded, then back.
class Builder : public Expander {
public:
    Builder(CellPrimes* primes, NodeTable* table, uint32_t rule) : Expander(primes, table) {
        openingRule = rule;
    }

    void growStep();
    int selectChild();
    /// weight or weight^2 over count + 50, formed in 80 bits and rounded once to float.
    static float childScore(int16_t rating, uint32_t count);
};
