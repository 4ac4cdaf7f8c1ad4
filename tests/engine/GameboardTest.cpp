#include "EngineWorld.h"

#include <random>
#include <vector>

namespace {

// The window's mapping from a displayed cell to an engine cell.
int toEngineCell(const EngineRig& g, int w) {
    return engineCellOf(w, g.orientationBits());
}

int toWindowCell(const EngineRig& g, int engineCell) {
    for (int w = 0; w < CellCount; ++w) {
        if (toEngineCell(g, w) == engineCell) {
            return w;
        }
    }
    return -1;
}

} // namespace

TEST(Gameboard, ConstructionPlacesTheCentreAndExpandsIt) {
    EngineRig g;
    EXPECT_EQ(g->plyCount, 1);
    EXPECT_EQ(g->board[112], Cross);
    Node* root = g->rootNode();
    EXPECT_EQ(root->hashcodeToMove + 0, 1u);
    EXPECT_EQ(root->hashcodeMoved + 0, 1u);
    EXPECT_EQ(root->age, 0);
    EXPECT_EQ(root->candidateCount, 2);
    EXPECT_EQ(g->openingRule, 0u);
    EXPECT_EQ(EngineRig(1)->openingRule, 1u);
}

TEST(Gameboard, FirstClicksFoldIntoTheWedge) {
    {
        EngineRig g;
        EXPECT_FALSE(g->playClicked(0)) << "folded to 224, which the tree does not hold";
        EXPECT_EQ(g.orientationBits(), 0) << "a refused click turns nothing";
        EXPECT_EQ(g->plyCount, 1);
    }
    {
        EngineRig g;
        EXPECT_TRUE(g->playClicked(97));
        EXPECT_EQ(g->topPly().move, 113);
        EXPECT_EQ(g.flag(FlipColumns), 0);
        EXPECT_EQ(g.flag(FlipRows), 1);
        EXPECT_EQ(g.flag(Transposed), 1);
        EXPECT_EQ(toEngineCell(g, 97), 113) << "the stone still shows where it was clicked";
    }
}

TEST(Gameboard, ClicksOutsideTheTreeAreRefused) {
    EngineRig g;
    EXPECT_FALSE(g->playClicked(112)) << "occupied";
    EXPECT_FALSE(g->playClicked(5)) << "far from every stone";
    EXPECT_FALSE(g->playClicked(255));
    EXPECT_EQ(g->plyCount, 1);
}

TEST(Gameboard, FoldedClicksKeepTheDisplayAsPlayed) {
    // Random games through symmetric positions: after every move the window mapping must show
    // each stone on the cell where it was played.
    std::mt19937 rng(7);
    for (int game = 0; game < 60; ++game) {
        EngineRig g(static_cast<uint32_t>(game % 2));
        int shown[CellCount] = {};
        shown[112] = Cross;
        for (int move = 0; move < 10; ++move) {
            if (rng() % 4 == 0) {
                const int cell = g->computerMove() == -32600 ? -1 : g->topPly().move;
                if (cell >= 0) {
                    shown[toWindowCell(g, cell)] = g->board[cell];
                }
            } else {
                std::vector<int> options;
                for (int w = 0; w < CellCount; ++w) {
                    if (g->board[toEngineCell(g, w)] == Candidate ||
                        (g->plyCount == 2 && g->board[toEngineCell(g, w)] == Empty)) {
                        options.push_back(w);
                    }
                }
                const int w = options[rng() % options.size()];
                const CellIndex asClicked = static_cast<CellIndex>(toEngineCell(g, w));
                if (g->playClicked(asClicked)) {
                    shown[w] = g->board[g->topPly().move];
                    ASSERT_EQ(toEngineCell(g, w), g->topPly().move);
                }
                g->growStep();
                g->growStep();
            }
            for (int w = 0; w < CellCount; ++w) {
                const int content = g->board[toEngineCell(g, w)];
                ASSERT_EQ(content > Candidate ? content : 0, shown[w])
                    << "game " << game << " move " << move << " window cell " << w;
            }
        }
    }
}

TEST(Gameboard, MendedFoldsPlayTheClickedImage) {
    struct Case {
        std::vector<int> moves; // played in order after the centre
        int click;
    };
    // Symmetric under both diagonals and the half turn only; under the half turn only; under
    // the anti-diagonal only.
    const Case cases[] = {
        {{98}, 96},
        {{128, 144, 96, 80}, 126},
        {{128, 144, 96, 80}, 98},
        {{114, 64, 110, 160}, 100},
        {{114, 64, 110, 160}, 84},
    };
    for (const Case& k : cases) {
        EngineRig g;
        int shown[CellCount] = {};
        for (int c : k.moves) {
            forceMove(*g, g.tables, static_cast<CellIndex>(c));
        }
        g->expand();
        for (int i = 0; i < g->plyCount; ++i) {
            shown[g->plyAt(i).move] = g->board[g->plyAt(i).move];
        }
        const int w = k.click;
        ASSERT_TRUE(g->playClicked(static_cast<CellIndex>(toEngineCell(g, w)))) << w;
        shown[w] = g->board[g->topPly().move];
        for (int v = 0; v < CellCount; ++v) {
            const int content = g->board[toEngineCell(g, v)];
            ASSERT_EQ(content > Candidate ? content : 0, shown[v])
                << "click " << w << " cell " << v;
        }
    }
}

TEST(Gameboard, ClickTheFoldSendsAwayIsPlayedAsClicked) {
    // Column-symmetric, but the candidate marks are not: the fold sends 109 to 115, which is
    // no move, while 109 is one.
    EngineRig g;
    const int clicks[] = {113, 127, 111};
    for (int c : clicks) {
        for (int i = 0; i < 2000; ++i) {
            g->growStep();
        }
        ASSERT_TRUE(g->playClicked(static_cast<CellIndex>(c))) << c;
    }
    for (int i = 0; i < 3000; ++i) {
        g->growStep();
    }
    ASSERT_EQ(g->topPly().asymmetry[MirrorColumns], 0);
    ASSERT_EQ(g->board[109], Candidate);
    ASSERT_EQ(g->board[115], Empty);
    const uint8_t before = g.orientationBits();
    const uint64_t nodes = g.tables.table.nodeCount();
    ASSERT_TRUE(g->playClicked(109));
    EXPECT_EQ(g->topPly().move, 109);
    EXPECT_EQ(g.orientationBits(), before) << "played as clicked: the display is not turned";
    EXPECT_EQ(g.tables.table.nodeCount(), nodes + 1) << "its Node was created for it";
    EXPECT_EQ(g->rootNode()->count + 0, g.tables.table.nodeCount() - 1);
    EXPECT_TRUE(positionConsistent(*g));
}

TEST(Gameboard, EligibleClicksArePlayedUnlessTheTreeLacksThem) {
    // Random games through symmetric positions, wherever the position has been expanded. A
    // click on an eligible cell is played and shows where it was clicked; the only clicks
    // refused are representatives whose Node an expansion through another move order (with
    // other candidate marks) never made, and a refused click turns nothing.
    std::mt19937 rng(99);
    int playedAsClicked = 0;
    for (int game = 0; game < 24; ++game) {
        EngineRig g(static_cast<uint32_t>(game % 2));
        for (int move = 0; move < 8; ++move) {
            for (int i = 0; i < 40; ++i) {
                g->growStep();
            }
            ASSERT_NE(g->topNode()->candidateCount, 0);
            const uint8_t shown = g.orientationBits();
            std::vector<int> eligible;
            for (int w = 0; w < CellCount; ++w) {
                if (g->isEligible(static_cast<CellIndex>(engineCellOf(w, shown)))) {
                    eligible.push_back(w);
                }
            }
            ASSERT_FALSE(eligible.empty());
            for (int w : eligible) {
                const CellIndex c = static_cast<CellIndex>(engineCellOf(w, shown));
                const bool represented = g->isRepresentative(c);
                const uint64_t nodes = g.tables.table.nodeCount();
                if (!g->playClicked(c)) {
                    ASSERT_TRUE(represented) << "game " << game << " move " << move << " w " << w;
                    ASSERT_EQ(g->findChild(g->topNode(), c), nullptr);
                    ASSERT_EQ(g.orientationBits(), shown);
                    continue;
                }
                ASSERT_EQ(engineCellOf(w, g.orientationBits()), g->topPly().move);
                playedAsClicked += g.tables.table.nodeCount() > nodes ? 1 : 0;
                g->undoMove();
                g.ownOrientation.store(shown);
            }
            const int w = eligible[rng() % eligible.size()];
            if (!g->playClicked(static_cast<CellIndex>(engineCellOf(w, shown))) ||
                g->topNode()->rating >= 32600) {
                break;
            }
        }
        ASSERT_TRUE(positionConsistent(*g));
        EXPECT_EQ(g->rootNode()->count + 0, g.tables.table.nodeCount() - 1);
    }
    EXPECT_GT(playedAsClicked, 0) << "the games met clicks that the fold alone would refuse";
}

TEST(Gameboard, WindowAndEngineCellsMapBothWays) {
    for (uint8_t bits = 0; bits < 8; ++bits) {
        for (int w = 0; w < CellCount; ++w) {
            ASSERT_EQ(windowCellOf(engineCellOf(w, bits), bits), w) << int(bits) << " " << w;
        }
    }
    EXPECT_EQ(engineCellOf(7 * 15, FlipColumns), 119);
    EXPECT_EQ(engineCellOf(1, Transposed), 15);
    EXPECT_EQ(engineCellOf(0, Transposed | FlipRows), 14);
}

TEST(Gameboard, ComputerPlaysTheBestChildLowestCellFirst) {
    EngineRig g;
    g->listChildren();
    g->childNodes[0]->rating = 500;
    g->childNodes[1]->rating = 500;
    g->rootNode()->rating = 3;
    EXPECT_EQ(g->computerMove(), 500);
    EXPECT_EQ(g->topPly().move, 113);
    EXPECT_EQ(g->rootNode()->rating + 0, -500) << "brought in line with its children first";
    g->undoMove();
    g->childNodes[1]->rating = 501;
    EXPECT_EQ(g->computerMove(), 501);
    EXPECT_EQ(g->topPly().move, 128);
}

TEST(Gameboard, ComputerMovesEvenWhenEveryMoveLoses) {
    EngineRig g;
    g->listChildren();
    g->childNodes[0]->rating = -32600;
    g->childNodes[1]->rating = -32600;
    EXPECT_EQ(g->computerMove(), -32600);
    EXPECT_EQ(g->plyCount, 2);
    EXPECT_EQ(g->topPly().move, 113);
}

TEST(Gameboard, ComputerWithoutAnyChildPlaysNothing) {
    EngineRig g;
    Node* top = forceMove(*g, g.tables, 113);
    top->rating = 32600; // decided: expansion only counts the visit
    EXPECT_EQ(g->computerMove(), -32600);
    EXPECT_EQ(g->plyCount, 2);
}

TEST(Gameboard, OpeningRuleRingForTheSecondCross) {
    EngineRig g(1);
    ASSERT_TRUE(g->playClicked(113));
    g->computerMove();
    const int cell = g->topPly().move;
    EXPECT_TRUE(Relator::isOnRingThree(static_cast<CellIndex>(cell))) << cell;
    g->undoMove();
    EXPECT_FALSE(g->playClicked(114)) << "inside the central square";
    EXPECT_EQ(g->plyCount, 2);
}

TEST(Gameboard, RandomPlayKeepsThePositionConsistent) {
    std::mt19937 rng(2026);
    for (int run = 0; run < 8; ++run) {
        EngineRig g(static_cast<uint32_t>(run % 2));
        for (int op = 0; op < 400; ++op) {
            const unsigned pick = rng() % 20;
            if (pick < 12) {
                const std::vector<uint8_t> board(g->board, g->board + CellCount);
                const int plies = g->plyCount;
                const int rating = g->topNode()->rating;
                if (rating > -32300 && rating < 32300) {
                    g->growStep();
                }
                ASSERT_EQ(g->plyCount, plies);
                ASSERT_EQ(std::vector<uint8_t>(g->board, g->board + CellCount), board);
            } else if (pick < 15) {
                g->playClicked(static_cast<CellIndex>(rng() % CellCount));
            } else if (pick < 17) {
                g->computerMove();
            } else if (pick < 19) {
                if (g->plyCount > 1) {
                    g->undoMove();
                }
            } else {
                g->rewindToRoot();
            }
            ASSERT_TRUE(positionConsistent(*g)) << "run " << run << " op " << op;
            for (int i = 0; i < g->plyCount; ++i) {
                ASSERT_NE(g->plyAt(i).node, nullptr);
            }
        }
        EXPECT_EQ(g->rootNode()->count + 0, g.tables.table.nodeCount() - 1)
            << "every created Node reaches the root exactly once";
    }
}
