#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MatchManager.h"

namespace {

const std::string Program = PBRAIN_KORVALT;

// The thread sanitizer makes a single growth step, one back-up through many transpositions,
// last most of a second: no engine keeps a 300 ms turn there. That build plays the matches for
// their games and their races, and leaves the clock to the other builds.
#ifdef __SANITIZE_THREAD__
constexpr bool ClockIsChecked = false;
#else
constexpr bool ClockIsChecked = true;
#endif

// Every game ended on the board, every move was legal, and both engines ended at END.
void expectCleanMatch(const MatchReport& r, int games) {
    for (const std::string& f : r.faults) {
        ADD_FAILURE() << f;
    }
    ASSERT_EQ(r.games.size(), static_cast<std::size_t>(games));
    for (const GameRecord& g : r.games) {
        EXPECT_TRUE(g.end == "five in a row" || g.end == "full board" || g.end == "stone cap")
            << g.end;
        EXPECT_EQ(g.winner >= 0, g.end == "five in a row");
    }
    EXPECT_EQ(r.exitStatus[0], 0);
    EXPECT_EQ(r.exitStatus[1], 0);
}

TEST(Match, TimedGamesStayLegalAndInsideTheTurnLimit) {
    MatchConfig c;
    c.first = {Program};
    c.games = 2;
    c.timeoutTurn = 300;
    c.maxStones = 80;
    const MatchReport r = playMatch(c);
    expectCleanMatch(r, c.games);
    EXPECT_GT(r.engines[0].answers + r.engines[1].answers, 20);
    if (ClockIsChecked) {
        EXPECT_LT(r.worstMs(), static_cast<double>(c.timeoutTurn));
    }
    // The engines use their time rather than answering at once.
    EXPECT_GT(r.worstMs(), c.timeoutTurn * 0.6);
}

TEST(Match, AMatchClockIsSharedOverTheMoves) {
    MatchConfig c;
    c.first = {Program};
    c.games = 1;
    c.timeoutTurn = 1000;
    c.timeoutMatch = 2500;
    c.maxStones = 60;
    const MatchReport r = playMatch(c);
    expectCleanMatch(r, c.games);
    for (const EngineStats& s : r.engines) {
        if (ClockIsChecked) {
            EXPECT_LT(s.worstGameMs, static_cast<double>(c.timeoutMatch));
            EXPECT_LT(s.worstMs, static_cast<double>(c.timeoutTurn));
        }
    }
}

// At the window's strength the games are played to their end, five in a row or a full board.
TEST(Match, NodeBudgetGamesArePlayedOut) {
    MatchConfig c;
    c.first = {Program, "--budget", "2"};
    c.second = {Program, "--budget", "3"};
    c.games = 2;
    const MatchReport r = playMatch(c);
    expectCleanMatch(r, c.games);
    for (const GameRecord& g : r.games) {
        EXPECT_NE(g.end, "stone cap");
    }
}

std::string answerTo(EngineProcess& p, const std::string& line) {
    EXPECT_TRUE(p.send(line));
    std::string got;
    const auto until = EngineProcess::Clock::now() + std::chrono::seconds(60);
    do {
        if (p.readLine(got, until) != EngineProcess::Read::Line) {
            return "(no answer)";
        }
    } while (got.rfind("MESSAGE", 0) == 0);
    return got;
}

TEST(PbrainProcess, BadLinesAreAnsweredAndAClosedInputEndsTheProgram) {
    EngineProcess p({Program});
    p.send("INFO timeout_turn 100");
    struct Case {
        std::string line;
        std::string start; ///< how the answer begins
    };
    const Case cases[] = {
        {std::string("\0\x01\x02\xff\x80", 5), "UNKNOWN "},
        {std::string(1 << 20, 'Z'), "UNKNOWN a line longer than"},
        {"TURN 7,7", "ERROR there is no board yet"},
        {"START 19", "ERROR Korvalt plays on a 15x15 board only"},
        {"START 15", "OK"},
        {"TURN 99,99", "ERROR 99,99 is off the board"},
        {"TURN 3,3", "ERROR the first stone of a game must be on the centre"},
        {"BEGIN", "7,7"},
        {"TURN 7,7", "ERROR 7,7 is taken"},
        {"TAKEBACK 1,1", "ERROR 1,1 is not the last stone"},
    };
    for (const Case& c : cases) {
        const std::string got = answerTo(p, c.line);
        EXPECT_EQ(got.rfind(c.start, 0), 0u) << got;
        EXPECT_LT(got.size(), 400u);
    }
    // A BOARD that starts elsewhere than the centre, then the game goes on from a clean start.
    p.send("BOARD");
    p.send("8,8,1");
    p.send("7,8,2");
    EXPECT_EQ(answerTo(p, "DONE").rfind("ERROR BOARD must hold the first stone", 0), 0u);
    EXPECT_TRUE(parseMove(answerTo(p, "TURN 7,7")).has_value());
    // The manager goes away in the middle of the game.
    p.closeInput();
    EXPECT_EQ(p.waitExit(std::chrono::seconds(10)), std::optional<int>(0));
}

TEST(PbrainProcess, EndStopsAtOnceAndSaysNothing) {
    EngineProcess p({Program});
    EXPECT_EQ(answerTo(p, "START 15"), "OK");
    EXPECT_EQ(answerTo(p, "BEGIN"), "7,7");
    p.send("END");
    EXPECT_EQ(p.waitExit(std::chrono::seconds(2)), std::optional<int>(0));
    std::string rest;
    EXPECT_EQ(p.readLine(rest, EngineProcess::Clock::now() + std::chrono::seconds(1)),
              EngineProcess::Read::Closed);
}

} // namespace
