#include "ThinkingLoop.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../engine/EngineWorld.h"

namespace {

struct FakeWindow : WindowPort {
    Mode mode() override {
        ++modeReads;
        return static_cast<Mode>(modeIndex.load());
    }
    void setMode(Mode m) override { modeIndex.store(static_cast<int>(m)); }
    int spinValue() override { return spin.load(); }
    bool growChecked() override { return grow.load(); }
    void invalidate() override { ++invalidations; }
    void showPriorityError() override { ++priorityErrors; }

    std::atomic<int> modeIndex{1};
    std::atomic<int> spin{175};
    std::atomic<bool> grow{true};
    std::atomic<int> invalidations{0};
    std::atomic<int> priorityErrors{0};
    std::atomic<int> modeReads{0};
};

// An engine wired to the handshake's orientation flags, and a loop that records its sleeps.
class Loop : public ::testing::Test {
protected:
    void SetUp() override { build(0); }

    void build(uint32_t rule) {
        h.Engine.store(nullptr);
        set.reset();
        set = std::make_unique<EngineSet>(rule, &h.orientation);
        h.Engine.store(&set->engine);
        loop = std::make_unique<ThinkingLoop>(
            h, window,
            [this](int ms) {
                sleeps.push_back(ms);
                clockMs += ms;
            },
            [this] { return clockMs; });
    }

    Gameboard& g() { return set->engine; }
    // Takes every notice not yet announced, oldest first.
    std::vector<Notice> notices() {
        std::vector<Notice> taken;
        Notice n;
        while (h.MoveNotice.pop(n)) {
            taken.push_back(n);
        }
        return taken;
    }
    World& tables() { return set->tables; }

    // Runs passes until the predicate holds; fails after the limit.
    template <class Pred> bool passUntil(Pred done, int limit = 20000) {
        for (int i = 0; i < limit; ++i) {
            if (done()) {
                return true;
            }
            loop->pass();
        }
        return done();
    }

    Handshake h;
    FakeWindow window;
    std::vector<int> sleeps;
    int64_t clockMs = 0; ///< the loop's clock: it moves only while the loop sleeps
    // A fresh loop for every engine: its state (countdown, the position without a move, the
    // reserve spent) belongs to one game.
    std::unique_ptr<ThinkingLoop> loop;
    std::unique_ptr<EngineSet> set;
};

} // namespace

TEST_F(Loop, WithoutAnEngineItOnlySleeps) {
    h.Engine.store(nullptr);
    h.ClickedCell.store(113);
    loop->pass();
    EXPECT_EQ(sleeps, std::vector<int>{100});
    EXPECT_EQ(h.ClickedCell.load(), 113);
    EXPECT_FALSE(h.snapshot().engineReady);
    EXPECT_EQ(window.invalidations.load(), 0);
}

TEST_F(Loop, ClickIsPlayedAndAnsweredAtTheBudget) {
    window.spin.store(1);
    window.grow.store(false);
    h.ClickedCell.store(113);
    loop->pass();
    window.grow.store(true);
    EXPECT_EQ(g().plyCount, 2);
    EXPECT_EQ(h.ClickedCell.load(), NoCell);
    const std::vector<Notice> played = notices();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].rating, g().topNode()->rating + 0);
    EXPECT_EQ(played[0].ply, 2);
    EXPECT_EQ(h.MoveRequest.load(), 1);
    uint32_t countBeforeMove = 0;
    ASSERT_TRUE(passUntil([&] {
        if (g().plyCount == 2) {
            countBeforeMove = g().topNode()->count;
        }
        return g().plyCount == 3;
    }));
    EXPECT_GE(countBeforeMove, 1000u);
    EXPECT_LT(countBeforeMove, 1300u) << "answered as soon as the budget was reached";
    EXPECT_EQ(h.MoveRequest.load(), 0);
    const std::vector<Notice> answer = notices();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].ply, 3);
    EXPECT_LE(loop->LastMoveCount, g().topNode()->count + 0) << "the same pass grew on";
}

TEST_F(Loop, RefusedClickIsDropped) {
    h.ClickedCell.store(0);
    loop->pass();
    EXPECT_EQ(h.ClickedCell.load(), NoCell);
    EXPECT_TRUE(h.MoveNotice.empty());
    EXPECT_EQ(h.MoveRequest.load(), 0);
    EXPECT_EQ(g().plyCount, 1);
    h.ClickedCell.store(-7); // garbage never reaches the engine
    loop->pass();
    EXPECT_EQ(h.ClickedCell.load(), NoCell);
    EXPECT_EQ(g().plyCount, 1);
}

TEST_F(Loop, ClickOnAPositionTheGameHasLeftIsDropped) {
    // A double click: the second arrives tagged with the ply the player saw before the first
    // was played, and must not become the other side's move.
    window.modeIndex.store(0);
    h.ClickedCell.store(Handshake::tagClick(126, 1));
    loop->pass();
    ASSERT_EQ(g().plyCount, 2);
    ASSERT_EQ(g().topPly().move, 128) << "folded";
    h.ClickedCell.store(Handshake::tagClick(126, 1));
    loop->pass();
    EXPECT_EQ(g().plyCount, 2);
    EXPECT_EQ(h.ClickedCell.load(), NoCell);
    h.ClickedCell.store(Handshake::tagClick(engineCellOf(6 * 15 + 6, h.orientation.load()), 2));
    loop->pass();
    EXPECT_EQ(g().plyCount, 3) << "a click on the position shown is played";
}

TEST_F(Loop, ComputerWaitsForTheBudgetUnlessTheGameIsNearlyDecided) {
    struct Case {
        int rating;
        bool movesAtOnce;
    };
    for (const Case& k :
         {Case{20000, false}, Case{-20000, false}, Case{20001, true}, Case{-20001, true}}) {
        build(0);
        g().rootNode()->rating = static_cast<int16_t>(k.rating);
        h.MoveRequest.store(1);
        loop->pass();
        EXPECT_EQ(g().plyCount, k.movesAtOnce ? 2 : 1) << k.rating;
        h.MoveRequest.store(0);
    }
}

TEST_F(Loop, SingleMoveIsPlayedAtOnce) {
    ASSERT_EQ(g().rootNode()->count + 0, 2u);
    g().rootNode()->candidateCount = 1;
    h.MoveRequest.store(1);
    loop->pass();
    EXPECT_EQ(g().plyCount, 2);
}

TEST_F(Loop, MoveThresholdRisesOnlyInTheComputerModes) {
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 1000, 175000), 225000u);
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 1000, 349999), 399999u);
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 1000, 350000), 175000u);
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 1000, 174999), 175000u);
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 0, 175000), 175000u) << "modes 0 and 1";
    EXPECT_EQ(ThinkingLoop::moveThreshold(175, 1000, 0), 175000u);
}

TEST_F(Loop, GrowthBudgetShrinksWithTheTree) {
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(16000000), 1.0);
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(16001000), 1.0) << "below 1 counts as 1";
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(24000000), 3.0);
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(32000000), 6.0);
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(32000001), 6.0);
    EXPECT_EQ(ThinkingLoop::treeSizeFactor(4000000000u), 6.0);
    struct Case {
        int rating;
        int64_t budget;
    };
    for (const Case& k :
         {Case{5699, 3000000}, Case{-5699, 3000000}, Case{5700, 500000}, Case{9999, 500000},
          Case{-9999, 500000}, Case{10000, 175001}, Case{-32600, 175001}}) {
        EXPECT_EQ(ThinkingLoop::rawBudget(k.rating, 2.0, 175), k.budget) << k.rating;
    }
}

TEST_F(Loop, ComputerModePlaysBothSides) {
    window.modeIndex.store(2);
    window.spin.store(1);
    ASSERT_TRUE(passUntil([&] { return g().plyCount >= 5; }));
    EXPECT_EQ(loop->AutoCountdown, 1000);
    const Snapshot s = h.snapshot();
    EXPECT_STREQ(s.StatusText, "Please either switch playing mode or just wait..");
}

TEST_F(Loop, TakeBackCountdownRewindsAndHandsTheGameBack) {
    window.modeIndex.store(2);
    window.spin.store(1);
    ASSERT_TRUE(passUntil([&] { return g().plyCount >= 3; }));
    h.MoveRequest.store(0);
    loop->AutoCountdown = 1;
    h.TakeBackRequest.store(1);
    const int plies = g().plyCount;
    loop->pass();
    EXPECT_EQ(loop->AutoCountdown, 0);
    EXPECT_EQ(window.modeIndex.load(), 1);
    EXPECT_EQ(h.RewindRequest.load(), 1);
    EXPECT_EQ(g().plyCount, plies - 1);
    loop->pass();
    EXPECT_EQ(g().plyCount, 1);
    EXPECT_EQ(h.RewindRequest.load(), 0);
}

TEST_F(Loop, DebutsBackUpFromUnbalancedPositions) {
    window.modeIndex.store(3);
    h.ClickedCell.store(113);
    loop->pass();
    g().topNode()->rating = 3000; // far from the first position's rating
    struct Case {
        int passCounter;
        bool rewind;
    };
    for (const Case& k :
         {Case{35, true}, Case{36, false}, Case{10, true}, Case{14, true}, Case{1, false}}) {
        h.RewindRequest.store(0);
        h.TakeBackRequest.store(0);
        h.MoveRequest.store(0);
        loop->PassCounter = k.passCounter;
        loop->AutoCountdown = 1000;
        loop->pass();
        EXPECT_EQ(h.RewindRequest.load(), k.rewind ? 1 : 0) << k.passCounter;
        EXPECT_EQ(h.TakeBackRequest.load(), k.rewind ? 0 : 1) << k.passCounter;
        EXPECT_EQ(loop->PassCounter, k.passCounter + 1);
    }
}

TEST_F(Loop, PublishesShadesTextsAndTheGamePosition) {
    window.modeIndex.store(0);
    h.ClickedCell.store(113);
    loop->pass();
    loop->pass();
    window.grow.store(false); // idle passes publish every time
    g().listChildren();
    ASSERT_GE(g().childCount, 3);
    const int ratings[] = {-50, -20, -10};
    for (int i = 0; i < g().childCount; ++i) {
        g().childNodes[i]->rating = static_cast<int16_t>(ratings[i < 3 ? i : 2]);
    }
    loop->pass();
    const Snapshot s = h.snapshot();
    EXPECT_EQ(s.RatingMap[g().childCells[0]], 34);
    EXPECT_EQ(s.RatingMap[g().childCells[1]], 166);
    EXPECT_EQ(s.RatingMap[g().childCells[2]], 210);
    EXPECT_EQ(s.RatingMap[112], 0);
    EXPECT_EQ(s.ShownPly, 2);
    EXPECT_EQ(s.plyMoves[1], 113);
    EXPECT_EQ(s.plyStones[1], Nought);
    EXPECT_EQ(s.topAge, 1);
    EXPECT_EQ(s.ShownRating, static_cast<int16_t>(-g().topNode()->rating));
    EXPECT_EQ(std::string(s.RatingText), "Rating: " + std::to_string(g().rootNode()->rating) +
                                             " / " + std::to_string(g().topNode()->rating));
    EXPECT_EQ(std::string(s.LengthText), "Max path length: " + std::to_string(g().maxPlyReached));
    EXPECT_STREQ(s.LogText, "0/0/0/0");
    EXPECT_STREQ(s.StatusText,
                 "Please make your move. Or, you can give it to me, by pressing Move button.");
    for (int c = 0; c < CellCount; ++c) {
        EXPECT_EQ(s.representative[c], g().isRepresentative(static_cast<CellIndex>(c)));
    }
    EXPECT_GT(window.invalidations.load(), 0);
    EXPECT_EQ(sleeps.back(), 300);
}

TEST_F(Loop, StatusAsksToWaitWhileARequestIsPending) {
    window.grow.store(false);
    window.spin.store(1000);
    h.ClickedCell.store(113);
    loop->pass(); // played; the answer is requested and waits for the budget
    EXPECT_STREQ(h.snapshot().StatusText, "Please wait..");
}

TEST_F(Loop, CountsAreScaledToKAndM) {
    char text[200];
    ThinkingLoop::formatCount(text, sizeof text, 2000, 2001);
    EXPECT_STREQ(text, "Childs count: 2000  / 2K");
    ThinkingLoop::formatCount(text, sizeof text, 2000001, 2000000);
    EXPECT_STREQ(text, "Childs count: 2M / 2000K");
    ThinkingLoop::formatCount(text, sizeof text, 0, 4294967295u);
    EXPECT_STREQ(text, "Childs count: 0  / 4294M");
}

TEST_F(Loop, PublishesOnlyEveryHundredthGrowthStep) {
    loop->PassCounter = 1;
    for (int i = 0; i < 98; ++i) {
        loop->pass();
    }
    EXPECT_EQ(window.invalidations.load(), 0);
    loop->pass();
    EXPECT_EQ(loop->PassCounter, 100);
    EXPECT_EQ(window.invalidations.load(), 1);
}

TEST_F(Loop, FinishedGameSettlesIntoIdlePasses) {
    window.modeIndex.store(2);
    window.spin.store(1);
    ASSERT_TRUE(passUntil([&] { return g().plyCount >= 3; }));
    g().topNode()->rating = 32600; // the side that just moved has five
    h.MoveRequest.store(1);
    notices();
    const int plies = g().plyCount;
    for (int i = 0; i < 5; ++i) {
        sleeps.clear();
        loop->pass();
        EXPECT_EQ(sleeps, std::vector<int>{300});
    }
    EXPECT_EQ(g().plyCount, plies);
    EXPECT_EQ(h.MoveRequest.load(), 0);
    EXPECT_TRUE(h.MoveNotice.empty()) << "nothing to announce again";
    EXPECT_EQ(h.snapshot().status, Status::GameOver);
    EXPECT_STREQ(h.snapshot().StatusText, "Game over. Press Restart for a new game, or Take Back.");
}

TEST_F(Loop, WinningClickIsNotAnswered) {
    g().listChildren();
    g().childNodes[0]->rating = 32600;
    h.ClickedCell.store(g().childCells[0]);
    loop->pass();
    const std::vector<Notice> played = notices();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].rating, 32600);
    EXPECT_EQ(h.MoveRequest.load(), 0);
}

namespace {

// The side to move plays the child the engine rates worst for it, so the other side, the
// computer, wins soon: a whole game in a few dozen moves.
CellIndex weakestChild(Gameboard& g) {
    g.listChildren();
    int pick = -1;
    for (int i = 0; i < g.childCount; ++i) {
        if (pick < 0 || g.childNodes[i]->rating < g.childNodes[pick]->rating) {
            pick = i;
        }
    }
    return pick < 0 ? NoCell : g.childCells[pick];
}

} // namespace

TEST_F(Loop, AtTheMemoryLimitEveryModeStillPlaysAWholeGame) {
    for (int mode = 0; mode < 4; ++mode) {
        build(0);
        NodeTable& table = tables().table;
        table.setMemoryLimit(table.bytesInUse() + 3000000);
        window.modeIndex.store(0);
        window.spin.store(1000);
        ASSERT_TRUE(passUntil([&] { return table.limitReached(); }, 200000)) << mode;
        window.modeIndex.store(mode);
        notices();
        // Clicks for the noughts, the computer for the crosses (mode 2 plays both by itself).
        for (int turn = 0; turn < 200 && g().topNode()->rating < 32600; ++turn) {
            const int plies = g().plyCount;
            if (mode != 2) {
                if (g().plyCount % 2 == 1) {
                    ASSERT_TRUE(passUntil([&] { return g().topNode()->candidateCount != 0; }, 5))
                        << "the position the player is in gets its children";
                    h.ClickedCell.store(Handshake::tagClick(weakestChild(g()), g().plyCount));
                } else if (mode != 1) {
                    h.MoveRequest.store(1);
                }
            }
            ASSERT_TRUE(passUntil([&] { return g().plyCount > plies; }, 200))
                << "mode " << mode << " turn " << turn;
        }
        EXPECT_GE(g().topNode()->rating + 0, 32600)
            << "mode " << mode << ": the game reached its end";
        EXPECT_EQ(g().rootNode()->count + 0, table.nodeCount() - 1) << mode;
        EXPECT_TRUE(positionConsistent(g()));
        EXPECT_EQ(h.snapshot().status, Status::GameOver);
        // At rest the loop only sleeps, as its idle step does.
        sleeps.clear();
        for (int i = 0; i < 10; ++i) {
            loop->pass();
        }
        EXPECT_EQ(sleeps, std::vector<int>(10, 300)) << mode;
        // Restart still works, and the memory status shows.
        h.RewindRequest.store(1);
        window.modeIndex.store(0);
        loop->pass();
        EXPECT_EQ(g().plyCount, 1);
        EXPECT_EQ(h.snapshot().status, Status::MemoryLimit);
        EXPECT_STREQ(h.snapshot().StatusText, "Memory limit reached: the computer has stopped "
                                              "thinking ahead. The game goes on.");
    }
}

TEST_F(Loop, CalculateDebutsRestsAtTheMemoryLimit) {
    NodeTable& table = tables().table;
    table.setMemoryLimit(table.bytesInUse() + 3000000);
    window.modeIndex.store(3);
    window.spin.store(1);
    ASSERT_TRUE(passUntil([&] { return table.limitReached(); }, 400000));
    sleeps.clear();
    const int plies = g().plyCount;
    for (int i = 0; i < 20; ++i) {
        loop->pass();
    }
    EXPECT_EQ(sleeps, std::vector<int>(20, 300)) << "no spinning through moves and take-backs";
    EXPECT_EQ(g().plyCount, plies);
}

TEST_F(Loop, WithoutEvenTheReserveTheGameSaysSoAndRests) {
    for (int mode = 0; mode < 4; ++mode) {
        build(0);
        NodeTable& table = tables().table;
        table.setMemoryLimit(table.bytesInUse() + 3000000);
        table.setPlayReserve(0);
        window.modeIndex.store(mode);
        window.spin.store(1);
        // Play on until a position has no children and no room to get them.
        bool exhausted = false;
        for (int i = 0; i < 400000 && !exhausted; ++i) {
            loop->pass();
            // A child that another move order created would still give the computer a move.
            exhausted = loop->playRoomExhausted && g().topNode()->candidateCount == 0 &&
                        weakestChild(g()) == NoCell;
            // At the limit mode 3 rests: the player goes on by clicks and Move, as in mode 0.
            if (mode != 2 && g().plyCount % 2 == 1 && g().topNode()->candidateCount != 0 &&
                table.limitReached()) {
                h.ClickedCell.store(Handshake::tagClick(weakestChild(g()), g().plyCount));
            } else if ((mode == 0 || mode == 3) && table.limitReached()) {
                h.MoveRequest.store(1);
            }
            if (g().topNode()->rating >= 32600) {
                h.RewindRequest.store(1);
            }
        }
        ASSERT_TRUE(exhausted) << mode;
        // Passes sleep (Computer Vs Computer first waits for its pace to try the move once),
        // and soon only as the idle step does.
        sleeps.clear();
        for (int i = 0; i < 60; ++i) {
            loop->pass();
        }
        EXPECT_GE(sleeps.size(), 58u) << mode << ": responsive, not busy";
        EXPECT_EQ(std::vector<int>(sleeps.end() - 10, sleeps.end()), std::vector<int>(10, 300));
        EXPECT_EQ(h.snapshot().status, Status::OutOfMemory) << mode;
        EXPECT_EQ(g().rootNode()->count + 0, table.nodeCount() - 1) << mode;
        h.TakeBackRequest.store(1);
        const int plies = g().plyCount;
        loop->pass();
        EXPECT_EQ(g().plyCount, plies - 1) << "Take Back still works";
    }
}

TEST_F(Loop, TakeBackBeforeTheAnswerCancelsIt) {
    // Human Vs Computer: the answer waits for the budget; Take Back undoes the player's move and
    // must not leave the computer to play the player's side. Human Vs Human keeps its Move.
    struct Case {
        int mode;
        uint8_t moveRequestAfter;
    };
    for (const Case& k : {Case{1, 0}, Case{0, 1}}) {
        build(0);
        window.modeIndex.store(k.mode);
        window.spin.store(1000);
        h.ClickedCell.store(113);
        loop->pass();
        ASSERT_EQ(g().plyCount, 2);
        h.MoveRequest.store(1);
        h.TakeBackRequest.store(1);
        loop->pass();
        EXPECT_EQ(g().plyCount, 1) << k.mode;
        EXPECT_EQ(h.MoveRequest.load(), k.moveRequestAfter) << k.mode;
        for (int i = 0; i < 50; ++i) {
            loop->pass();
        }
        EXPECT_EQ(g().plyCount, 1) << k.mode << ": the computer did not move";
        h.MoveRequest.store(0);
    }
}

TEST(NoticeQueue, KeepsOrderAndTheLatestOfABurst) {
    NoticeQueue q;
    for (int i = 1; i <= NoticeQueue::Room + 3; ++i) {
        q.push({i * 10, i});
    }
    Notice n;
    for (int i = 4; i <= NoticeQueue::Room + 3; ++i) {
        ASSERT_TRUE(q.pop(n));
        EXPECT_EQ(n.rating, i * 10);
        EXPECT_EQ(n.ply, i);
    }
    EXPECT_FALSE(q.pop(n));
    EXPECT_TRUE(q.empty());
}

TEST_F(Loop, ComputerVsComputerKeepsAWatchablePaceWithTheSameMoves) {
    // The same game twice: once at the pace a person can follow, once with a clock that never
    // makes it wait. The moves are the same, and the paced ones are 0.6 s apart or more.
    window.modeIndex.store(2);
    window.spin.store(1);
    std::vector<int> paced;
    std::vector<int64_t> moveTimes;
    for (int i = 0; i < 40000 && g().plyCount < 12 && g().topNode()->rating < 32600; ++i) {
        const int64_t passStart = clockMs; // a move is made before the pass sleeps
        loop->pass();
        if (g().plyCount > static_cast<int>(paced.size()) + 1) {
            paced.push_back(g().topPly().move);
            moveTimes.push_back(passStart);
        }
    }
    ASSERT_GE(paced.size(), 6u);
    for (std::size_t i = 1; i < moveTimes.size(); ++i) {
        EXPECT_GE(moveTimes[i] - moveTimes[i - 1], ThinkingLoop::MovePaceMs) << i;
    }
    Handshake fast;
    FakeWindow fastWindow;
    fastWindow.modeIndex.store(2);
    fastWindow.spin.store(1);
    int64_t far = 0;
    ThinkingLoop unpaced(
        fast, fastWindow, [](int) {}, [&far] { return far += 100000; });
    EngineSet other(0, &fast.orientation);
    fast.Engine.store(&other.engine);
    std::vector<int> quick;
    for (int i = 0; i < 20000 && quick.size() < paced.size(); ++i) {
        unpaced.pass();
        if (other.engine.plyCount > static_cast<int>(quick.size()) + 1) {
            quick.push_back(other.engine.topPly().move);
        }
    }
    EXPECT_EQ(quick, paced);
}

TEST_F(Loop, ModeIsReadOnceAPass) {
    // The mode list may change while a pass runs: one pass must act on one mode.
    window.modeIndex.store(2);
    window.spin.store(1);
    for (int i = 0; i < 200; ++i) {
        window.modeReads.store(0);
        loop->pass();
        ASSERT_EQ(window.modeReads.load(), 1) << "pass " << i;
    }
    EXPECT_GT(g().plyCount, 1);
}

TEST(LoopThread, PriorityIsLoweredFromWhereItStands) {
    // Started under nice 7 the worker goes to 9, never back up to 2; at the floor it stays.
    struct Case {
        int start, expected;
    };
    for (const Case& k : {Case{7, 9}, Case{0, 2}, Case{18, 19}, Case{19, 19}}) {
        int seen = -100;
        bool settable = false;
        bool lowered = false;
        std::thread t([&] {
            const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
            // Without privilege a thread cannot go back below the nice value it started with.
            settable = setpriority(PRIO_PROCESS, tid, k.start) == 0;
            lowered = lowerThreadPriority();
            seen = getpriority(PRIO_PROCESS, tid);
        });
        t.join();
        if (!settable) {
            continue;
        }
        EXPECT_TRUE(lowered) << k.start;
        EXPECT_EQ(seen, k.expected) << k.start;
    }
}

TEST(LoopThread, StopsPromptlyAndJoinsWhileRequestsArrive) {
    Handshake h;
    FakeWindow window;
    window.spin.store(5);
    ThinkingThread thread(h, window);
    thread.start();
    EngineSet set(0, &h.orientation);
    Gameboard& engine = set.engine;
    h.Engine.store(&engine);
    // Another thread plays the window: requests, mode changes and snapshot reads.
    std::thread hammer([&] {
        // Keeps going until the thread has published at least once (slow under sanitizers).
        for (int i = 0; i < 400 || (!h.snapshot().engineReady && i < 60000); ++i) {
            switch (i % 7) {
            case 0:
                h.ClickedCell.store(static_cast<int32_t>(i % CellCount));
                break;
            case 1:
                h.MoveRequest.store(1);
                break;
            case 2:
                h.TakeBackRequest.store(1);
                break;
            case 3:
                window.modeIndex.store(i % 4);
                break;
            case 4:
                h.RewindRequest.store(1);
                break;
            default:
                break;
            }
            const Snapshot s = h.snapshot();
            EXPECT_GE(s.ShownPly, 0);
            EXPECT_LE(s.ShownPly, CellCount);
            EXPECT_LT(s.orientation, 8);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    hammer.join();
    thread.stopAndJoin();
    EXPECT_FALSE(thread.running());
    EXPECT_EQ(window.priorityErrors.load(), 0);
    EXPECT_TRUE(positionConsistent(engine));
    EXPECT_TRUE(h.snapshot().engineReady);
}
