#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "KorvaltVersion.h"
#include "Pbrain.h"
#include "Referee.h"

namespace {

// One protocol session in-process, with the tests' own record of the manager's board beside it.
class Session {
public:
    explicit Session(uint32_t budgetThousands = 1, bool debug = false)
        : brain(out, PbrainOptions{budgetThousands, debug}) {}

    /// Feeds a line; the answer lines it wrote, MESSAGE lines kept apart in `messages`.
    std::vector<std::string> send(const std::string& line) {
        const std::size_t from = out.str().size();
        running = brain.feed(line);
        std::vector<std::string> answers;
        std::istringstream written(out.str().substr(from));
        std::string l;
        while (std::getline(written, l)) {
            if (l.rfind("MESSAGE ", 0) == 0 || l.rfind("DEBUG ", 0) == 0) {
                messages.push_back(l);
            } else {
                answers.push_back(l);
            }
        }
        return answers;
    }

    /// Whether the engine's view of the board is the record's, stone for stone.
    ::testing::AssertionResult sameBoard() const {
        for (int y = 0; y < RefereeBoard::Side; ++y) {
            for (int x = 0; x < RefereeBoard::Side; ++x) {
                if (brain.stoneAt(x, y) != record.at(x, y)) {
                    return ::testing::AssertionFailure()
                           << "at " << x << "," << y << " the engine shows " << brain.stoneAt(x, y)
                           << ", the record " << record.at(x, y);
                }
            }
        }
        return ::testing::AssertionSuccess();
    }

    std::ostringstream out;
    Pbrain brain;
    RefereeBoard record;
    std::vector<std::string> messages;
    bool running = true;
};

// One line of a transcript and what must come back:
//   ""            no answer
//   "move"        one legal move on the record, played there
//   "ERROR:text"  one ERROR line containing text (and "UNKNOWN:text" likewise)
//   "stop"        no answer, and the session ends
//   anything else exactly that line (a move is also played on the record)
// In the input, $near is the first free cell next to a stone and $last the last stone.
struct Line {
    std::string in;
    std::string expect;
};
struct Transcript {
    const char* name;
    std::vector<Line> lines;
};

std::string substituted(std::string in, const RefereeBoard& record) {
    const auto replace = [&in](const std::string& key, const std::string& by) {
        const std::size_t at = in.find(key);
        if (at != std::string::npos) {
            in.replace(at, key.size(), by);
        }
    };
    const std::vector<Move> near = record.freeNeighbours();
    replace("$near", near.empty() ? "7,7" : moveText(near.front()));
    replace("$last", record.stones() > 0 ? moveText(record.history().back()) : "7,7");
    return in;
}

// The command word of a line, in capitals.
std::string commandOf(const std::string& line) {
    const std::size_t from = line.find_first_not_of(' ');
    if (from == std::string::npos) {
        return "";
    }
    std::string word = line.substr(from, line.find_first_of(" \r", from) - from);
    for (char& c : word) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return word;
}

std::string withoutBlanks(std::string text) {
    std::erase_if(text, [](char c) { return c == ' ' || c == '\r'; });
    return text;
}

// What follows the command word, without spaces and CR.
std::string argumentOf(const std::string& line) {
    const std::size_t word = line.find_first_not_of(' ');
    return withoutBlanks(line.substr(line.find_first_of(" \r", word)));
}

// Puts a BOARD's stones on the record, the centre's side first and the sides taking turns.
void recordBoard(RefereeBoard& record, const std::vector<std::string>& stones) {
    struct S {
        Move m;
        int field;
    };
    std::vector<S> given;
    int first = 1;
    record.clear();
    if (stones.empty()) {
        return;
    }
    for (const std::string& s : stones) {
        const std::size_t c2 = s.rfind(',');
        const std::optional<Move> m = parseMove(s.substr(0, c2));
        given.push_back({*m, s[c2 + 1] - '0'});
        if (m->x == 7 && m->y == 7) {
            first = given.back().field;
        }
    }
    record.play({7, 7});
    std::vector<bool> used(given.size(), false);
    for (std::size_t i = 0; i < given.size(); ++i) {
        used[i] = given[i].m == Move{7, 7};
    }
    for (int side = 3 - first, placed = 1; placed < static_cast<int>(given.size());
         side = 3 - side, ++placed) {
        for (std::size_t i = 0; i < given.size(); ++i) {
            if (!used[i] && given[i].field == side) {
                used[i] = true;
                record.play(given[i].m);
                break;
            }
        }
    }
}

void runTranscript(const Transcript& t) {
    Session s;
    std::vector<std::string> boardLines;
    bool inBoard = false;
    bool isBoard = false; // a BOARD, not a SWAP2BOARD
    for (const Line& line : t.lines) {
        const std::string in = substituted(line.in, s.record);
        SCOPED_TRACE(std::string(t.name) + ": " + in);
        const std::string command = commandOf(in);
        const std::vector<std::string> got = s.send(in);
        const std::string& e = line.expect;
        if (e.empty() || e == "stop") {
            EXPECT_TRUE(got.empty()) << got.front();
            EXPECT_EQ(s.running, e.empty());
            if (inBoard && command != "DONE") {
                boardLines.push_back(withoutBlanks(in));
            }
            if (!inBoard && (command == "BOARD" || command == "SWAP2BOARD")) {
                inBoard = true;
                isBoard = command == "BOARD";
            }
            continue;
        }
        ASSERT_EQ(got.size(), 1u);
        const std::string& answer = got.front();
        const bool refusal = e.rfind("ERROR:", 0) == 0 || e.rfind("UNKNOWN:", 0) == 0;
        const std::size_t colon = e.find(':');
        if (refusal) {
            EXPECT_EQ(answer.rfind(e.substr(0, colon) + " ", 0), 0u) << answer;
            EXPECT_NE(answer.find(e.substr(colon + 1)), std::string::npos) << answer;
            if (command == "DONE" && e.rfind("ERROR", 0) == 0 && isBoard) {
                s.record.clear(); // a refused BOARD leaves a clean start
            }
        } else if (e == "move" || parseMove(e)) {
            const std::optional<Move> m = parseMove(answer);
            ASSERT_TRUE(m.has_value()) << answer;
            if (e != "move") {
                EXPECT_EQ(answer, e);
            }
            if (command == "TURN") {
                ASSERT_TRUE(s.record.play(*parseMove(argumentOf(in))));
            } else if (command == "DONE") {
                recordBoard(s.record, boardLines);
            }
            EXPECT_TRUE(s.record.play(*m)) << "the engine played on " << answer;
        } else {
            EXPECT_EQ(answer, e);
            if (answer == "OK" && command == "TAKEBACK") {
                s.record.undo();
            } else if (answer == "OK") {
                s.record.clear();
            }
        }
        if (command == "DONE") {
            inBoard = false;
            boardLines.clear();
        }
        EXPECT_TRUE(s.sameBoard());
    }
}

TEST(Pbrain, TranscriptsAnswerEveryCommand) {
    const std::string about = std::string("name=\"Korvalt\", version=\"") + KorvaltVersion +
                              "\", author=\"Korvalt team\", country=\"International\", "
                              "www=\"https://korvalt.example.org/\", email=\"team@example.org\"";
    const Transcript transcripts[] = {
        {"first player with take-backs",
         {{"START 15", "OK"},
          {"BEGIN", "7,7"},
          {"TURN $near", "move"},
          {"TURN $near", "move"},
          {"TAKEBACK $last", "OK"},
          {"TAKEBACK $last", "OK"},
          {"TURN $near", "move"},
          {"TURN $near", "move"}}},
        {"second player, then a new game",
         {{"START 15", "OK"},
          {"TURN 7,7", "move"},
          {"TURN $near", "move"},
          {"RESTART", "OK"},
          {"BEGIN", "7,7"},
          {"START 15", "OK"},
          {"TURN 7,7", "move"}}},
        {"board sizes",
         {{"START 20", "ERROR:15x15 board only"},
          {"START", "ERROR:board size"},
          {"START fifteen", "ERROR:\"fifteen\""},
          {"RECTSTART 20,15", "ERROR:15x15 board only"},
          {"RECTSTART 15,15", "OK"},
          {"RESTART now", "ERROR:no argument"},
          {"RESTART", "OK"}}},
        {"nothing before START",
         {{"TURN 7,7", "ERROR:START 15 comes first"},
          {"BEGIN", "ERROR:START 15 comes first"},
          {"RESTART", "ERROR:START 15 comes first"},
          {"TAKEBACK 7,7", "ERROR:no stone"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"DONE", "ERROR:START 15 comes first"},
          {"START 15", "OK"},
          {"BEGIN", "7,7"}}},
        {"stones the engine refuses",
         {{"START 15", "OK"},
          {"TURN 8,8", "ERROR:centre, 7,7"},
          {"BEGIN", "7,7"},
          {"TURN 7,7", "ERROR:7,7 is taken"},
          {"TURN 15,0", "ERROR:off the board"},
          {"TURN -1,3", "ERROR:off the board"},
          {"TURN 3", "ERROR:takes x,y"},
          {"TURN a,b", "ERROR:takes x,y"},
          {"TURN 1,2,3", "ERROR:takes x,y"},
          {"TURN 0,0", "ERROR:out of the engine's reach"},
          {"BEGIN", "ERROR:empty board"},
          {"BEGIN now", "ERROR:no argument"},
          {"TURN $near", "move"}}},
        {"take-backs the engine refuses",
         {{"START 15", "OK"},
          {"TAKEBACK 7,7", "ERROR:no stone"},
          {"BEGIN", "7,7"},
          {"TAKEBACK 8,8", "ERROR:not the last stone: that is 7,7"},
          {"TAKEBACK x", "ERROR:takes x,y"},
          {"TAKEBACK 7,7", "OK"},
          {"BEGIN", "7,7"}}},
        {"rules",
         {{"INFO rule 1", ""},
          {"START 15", "OK"},
          {"BEGIN", "ERROR:exactly five: Korvalt plays rule 0 only"},
          {"TURN 7,7", "ERROR:rule 0 only"},
          {"INFO rule 4", ""},
          {"BEGIN", "ERROR:renju"},
          {"INFO rule 0", ""},
          {"BEGIN", "7,7"}}},
        {"information takes no answer",
         {{"INFO timeout_turn 100", ""},
          {"INFO timeout_match 0", ""},
          {"INFO time_left 2147483647", ""},
          {"INFO max_memory 0", ""},
          {"INFO game_type 1", ""},
          {"INFO folder /tmp", ""},
          {"INFO evaluate 3,3", ""},
          {"INFO some_new_key 5", ""},
          {"INFO timeout_turn soon", ""},
          {"INFO", ""},
          {"START 15", "OK"}}},
        {"CR LF, spaces and small letters",
         {{"START 15\r", "OK"},
          {"BEGIN\r", "7,7"},
          {"  turn $near \r", "move"},
          {"\r", ""},
          {"", ""},
          {"TAKEBACK $last\r", "OK"}}},
        {"unknown commands",
         {{"START 15", "OK"},
          {"FOO", "UNKNOWN:\"FOO\""},
          {"PLAY 7,7", "UNKNOWN:\"PLAY\""},
          {"DONE", "UNKNOWN:\"DONE\""},
          {std::string("\x01\x02\xff binary", 10), "UNKNOWN:\\x01\\x02\\xff"},
          {"BEGIN", "7,7"}}},
        {"about", {{"ABOUT", about}, {"ABOUT me", "ERROR:no argument"}}},
        {"boards",
         {{"START 15", "OK"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"8,8,2", ""},
          {"8,7,1", ""},
          {"6,7,2", ""},
          {"DONE", "move"},
          {"BOARD", ""},
          {"7,7,2", ""},
          {"8,8,1", ""},
          {"7,8,2", ""},
          {"DONE", "move"},
          {"TAKEBACK $last", "OK"},
          {"BOARD", ""},
          {"DONE", "7,7"},
          {"BOARD", ""},
          {"8,7,1", ""},
          {"6,7,2", ""},
          {" 7 , 7 , 1\r", ""},
          {"8,8,2", ""},
          {"done\r", "move"}}},
        {"boards the engine refuses, each leaving a clean start",
         {{"START 15", "OK"},
          {"BOARD", ""},
          {"8,8,1", ""},
          {"7,8,2", ""},
          {"DONE", "ERROR:first stone on the centre"},
          {"BEGIN", "7,7"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"8,8,1", ""},
          {"DONE", "ERROR:not Korvalt's turn"},
          {"BEGIN", "7,7"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"20,3,2", ""},
          {"DONE", "ERROR:20,3 is off the board"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"7,7,2", ""},
          {"DONE", "ERROR:7,7 twice"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"8,8,3", ""},
          {"DONE", "ERROR:field 3"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"hello", ""},
          {"DONE", "ERROR:x,y,field"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"0,0,2", ""},
          {"DONE", "ERROR:0,0 is out of the engine's reach"},
          {"BOARD", ""},
          {"7,7,2", ""},
          {"7,8,1", ""},
          {"8,7,2", ""},
          {"8,8,1", ""},
          {"9,7,2", ""},
          {"9,8,1", ""},
          {"10,7,2", ""},
          {"10,8,1", ""},
          {"11,7,2", ""},
          {"DONE", "ERROR:finished game: 11,7 made five"},
          {"BOARD 7,7,1", "ERROR:no argument"},
          {"BEGIN", "7,7"}}},
        // Stones of a side played in another order mark other cells: 10,7, two steps from
        // 8,7, is a move when 8,7 comes fifth, but the position was opened after an order in
        // which 8,7 came third.
        {"a move the tree lacks after a transposition",
         {{"START 15", "OK"},
          {"BOARD", ""},
          {"7,7,2", ""},
          {"7,8,1", ""},
          {"8,7,2", ""},
          {"6,6,1", ""},
          {"8,8,2", ""},
          {"DONE", "move"},
          {"BOARD", ""},
          {"7,7,1", ""},
          {"7,8,2", ""},
          {"8,8,1", ""},
          {"6,6,2", ""},
          {"8,7,1", ""},
          {"7,6,2", ""},
          {"DONE", "move"},
          {"TAKEBACK $last", "OK"},
          {"TAKEBACK 7,6", "OK"},
          {"TURN 10,7", "move"}}},
        {"swap2 openings",
         {{"START 15", "OK"},
          {"SWAP2BOARD", ""},
          {"7,7", ""},
          {"8,7", ""},
          {"9,9", ""},
          {"DONE", "ERROR:swap2"},
          {"BEGIN", "7,7"}}},
        {"END stops", {{"START 15", "OK"}, {"BEGIN", "7,7"}, {"END", "stop"}}},
        {"END inside a BOARD", {{"START 15", "OK"}, {"BOARD", ""}, {"7,7,1", ""}, {"end", "stop"}}},
    };
    for (const Transcript& t : transcripts) {
        runTranscript(t);
    }
}

TEST(Pbrain, WhatInfoCannotTakeIsToldBeforeTheNextAnswer) {
    Session s;
    EXPECT_TRUE(s.send("INFO time_left soon").empty());
    EXPECT_TRUE(s.send("INFO game_type 9").empty());
    EXPECT_TRUE(s.messages.empty());
    EXPECT_EQ(s.send("START 15"), std::vector<std::string>{"OK"});
    ASSERT_EQ(s.messages.size(), 2u);
    EXPECT_NE(s.messages[0].find("time_left takes a whole number"), std::string::npos);
    EXPECT_NE(s.messages[1].find("game_type takes a whole number from 0 to 3, not \"9\""),
              std::string::npos);
    s.messages.clear();
    s.send("BEGIN");
    EXPECT_TRUE(s.messages.empty());
    s.send("TURN 8,8");
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_NE(s.messages[0].find("rating"), std::string::npos) << s.messages[0];
    EXPECT_NE(s.messages[0].find("longest path"), std::string::npos) << s.messages[0];
}

TEST(Pbrain, DebugLinesComeOnlyWhenAskedFor) {
    for (const bool debug : {false, true}) {
        Session s(1, debug);
        s.send("START 15");
        s.send("TURN 7,7");
        s.send("RESTART");
        s.send("TURN 7,7");
        int debugLines = 0;
        for (const std::string& m : s.messages) {
            debugLines += m.rfind("DEBUG growth ", 0) == 0 && m.find(" steps") != std::string::npos;
        }
        EXPECT_EQ(debugLines, debug ? 2 : 0);
    }
}

// Random games with take-backs, whole-board replays and new games, against the record: every
// answer is a free cell and the engine's board, seen through the orientation it turns, stays
// the record's.
TEST(Pbrain, RandomSessionsKeepTheManagersBoard) {
    std::mt19937 random(20240611);
    Session s;
    ASSERT_EQ(s.send("START 15"), std::vector<std::string>{"OK"});
    const auto pick = [&random](int n) {
        return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(random));
    };
    int moves = 0;
    int boards = 0;
    int takebacks = 0;
    for (int op = 0; op < 400; ++op) {
        SCOPED_TRACE("operation " + std::to_string(op));
        const RefereeBoard& r = s.record;
        const bool over = r.stones() > 0 && r.fiveThrough(r.history().back());
        const int dice = pick(100);
        std::vector<std::string> got;
        if (over || dice < 3) {
            ASSERT_EQ(s.send("RESTART"), std::vector<std::string>{"OK"});
            s.record.clear();
        } else if (r.stones() == 0) {
            got = s.send(dice < 50 ? "BEGIN" : "TURN 7,7");
            if (dice >= 50) {
                s.record.play({7, 7});
            }
        } else if (dice < 15) {
            ASSERT_EQ(s.send("TAKEBACK " + moveText(r.history().back())),
                      std::vector<std::string>{"OK"});
            s.record.undo();
            ++takebacks;
        } else if (dice < 25) {
            // The record as BOARD, in the order played: the side to move is the engine's.
            s.send("BOARD");
            for (int i = 0; i < r.stones(); ++i) {
                const bool own = (r.stones() - i) % 2 == 0;
                ASSERT_TRUE(
                    s.send(moveText(r.history()[static_cast<std::size_t>(i)]) + (own ? ",1" : ",2"))
                        .empty());
            }
            got = s.send("DONE");
            ++boards;
        } else {
            const std::vector<Move> near = r.freeNeighbours();
            const Move m = near[static_cast<std::size_t>(pick(static_cast<int>(near.size())))];
            got = s.send("TURN " + moveText(m));
            s.record.play(m);
        }
        if (!got.empty()) {
            ASSERT_EQ(got.size(), 1u);
            if (r.stones() > 0 && r.fiveThrough(r.history().back())) {
                EXPECT_NE(got[0].find("ERROR the game is over"), std::string::npos) << got[0];
            } else {
                const std::optional<Move> m = parseMove(got[0]);
                ASSERT_TRUE(m.has_value()) << got[0];
                ASSERT_TRUE(s.record.play(*m)) << "the engine played on " << got[0];
                ++moves;
            }
        }
        ASSERT_TRUE(s.sameBoard());
    }
    EXPECT_GT(moves, 150);
    EXPECT_GT(boards, 10);
    EXPECT_GT(takebacks, 10);
}

TEST(Pbrain, LongBinaryAndUnfinishedLinesAreRefusedWhole) {
    std::string input = "START 15\r\n";
    input += std::string(10 << 20, 'x') + "\r\n";
    input += std::string("\0\x01\x80\xfe\r\n", 6);
    input += "BOARD\r\n" + std::string(Pbrain::MaxLine + 1, '7') + "\r\nDONE\r\n";
    input += "BEGIN\r\nTURN 7"; // no line end at the end of the input
    std::istringstream in(input);
    std::ostringstream out;
    Pbrain brain(out);
    brain.run(in);
    std::vector<std::string> lines;
    std::istringstream written(out.str());
    for (std::string l; std::getline(written, l);) {
        lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), 6u) << out.str();
    EXPECT_EQ(lines[0], "OK");
    EXPECT_EQ(lines[1].rfind("UNKNOWN a line longer than 4096 bytes: \"xxxx", 0), 0u);
    EXPECT_LT(lines[1].size(), 100u);
    EXPECT_EQ(lines[2], "UNKNOWN command \"\\x00\\x01\\x80\\xfe\"");
    EXPECT_EQ(lines[3], "ERROR a line of BOARD is longer than 4096 bytes");
    EXPECT_EQ(lines[4], "7,7");
    EXPECT_EQ(lines[5].rfind("ERROR TURN takes x,y", 0), 0u) << lines[5];
}

TEST(Pbrain, EndOfInputInsideABoardEndsQuietly) {
    std::istringstream in("START 15\r\nBOARD\r\n7,7,1\r\n");
    std::ostringstream out;
    Pbrain brain(out);
    brain.run(in);
    EXPECT_EQ(out.str(), "OK\n");
}

// The move's time comes out of every limit the manager gives, with room to answer.
TEST(Pbrain, ThinkingTimeStaysInsideEveryLimit) {
    struct Case {
        std::vector<std::string> info;
        int64_t atLeast; ///< milliseconds
        int64_t below;
    };
    const Case cases[] = {
        {{}, 4000, Pbrain::DefaultTimeoutTurn},
        {{"INFO timeout_turn 1000"}, 800, 1000},
        {{"INFO timeout_turn 5000"}, 4000, 5000},
        {{"INFO timeout_turn 200"}, 100, 200},
        {{"INFO timeout_turn 0"}, 0, 1},
        {{"INFO timeout_turn 10"}, 0, 1},
        // The match clock shared over the moves to come.
        {{"INFO timeout_turn 5000", "INFO time_left 10000"}, 100, 1000},
        {{"INFO timeout_turn 5000", "INFO time_left 2147483647"}, 4000, 5000},
        {{"INFO timeout_turn 5000", "INFO time_left -20"}, 0, 1},
        {{"INFO timeout_turn 5000", "INFO time_left 30"}, 0, 1},
        // Without time_left the match limit stands in for it.
        {{"INFO timeout_turn 5000", "INFO timeout_match 10000"}, 100, 1000},
        {{"INFO timeout_turn 5000", "INFO timeout_match 0"}, 4000, 5000},
    };
    for (const Case& c : cases) {
        Session s;
        for (const std::string& line : c.info) {
            s.send(line);
        }
        s.send("START 15");
        const int64_t t = s.brain.thinkingTime();
        EXPECT_GE(t, c.atLeast) << testing::PrintToString(c.info);
        EXPECT_LT(t, c.below) << testing::PrintToString(c.info);
    }
    // time_left may come before START, and counts for the game that START opens.
    Session s;
    s.send("INFO time_left 100");
    s.send("START 15");
    EXPECT_LT(s.brain.thinkingTime(), 10);
    s.send("INFO time_left 2147483647");
    EXPECT_GT(s.brain.thinkingTime(), 4000);
}

TEST(Pbrain, MaxMemoryBoundsTheWholeProcess) {
    EXPECT_EQ(Pbrain::tableLimitFor(0), NodeTable::NoLimit);
    EXPECT_EQ(Pbrain::playReserveFor(0), NodeTable::PlayReserve);
    for (const uint64_t mb : {20u, 40u, 100u, 350u, 1000u}) {
        const uint64_t bytes = mb << 20;
        EXPECT_LE(Pbrain::tableLimitFor(bytes) + Pbrain::playReserveFor(bytes) +
                      Pbrain::ProcessOverhead,
                  bytes)
            << mb;
        if (mb >= 100) {
            EXPECT_GT(Pbrain::tableLimitFor(bytes), bytes / 2) << mb;
        }
    }
    EXPECT_EQ(Pbrain::tableLimitFor(10 << 20), 0u);

    // Too small for the first position: START says so, and works once the limit is raised.
    Session s;
    s.send("INFO max_memory 10000000");
    const std::vector<std::string> refused = s.send("START 15");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].rfind("ERROR INFO max_memory 10000000 leaves no room", 0), 0u);
    s.send("INFO max_memory 0");
    EXPECT_EQ(s.send("START 15"), std::vector<std::string>{"OK"});
}

TEST(Pbrain, AGameUnderAMemoryLimitPlaysOnWithinIt) {
    constexpr uint64_t Limit = 80'000'000; // the table's head array alone takes 35 MB
    Session s(100);
    s.send("INFO max_memory " + std::to_string(Limit));
    ASSERT_EQ(s.send("START 15"), std::vector<std::string>{"OK"});
    ASSERT_EQ(s.send("BEGIN"), std::vector<std::string>{"7,7"});
    s.record.play({7, 7});
    for (int i = 0; i < 8; ++i) {
        const std::vector<Move> near = s.record.freeNeighbours();
        ASSERT_TRUE(s.record.play(near.back()));
        const std::vector<std::string> got = s.send("TURN " + moveText(near.back()));
        ASSERT_EQ(got.size(), 1u);
        if (got[0].rfind("ERROR the game is over", 0) == 0) {
            break;
        }
        const std::optional<Move> m = parseMove(got[0]);
        ASSERT_TRUE(m.has_value()) << got[0];
        ASSERT_TRUE(s.record.play(*m));
        if (s.record.fiveThrough(*m)) {
            break;
        }
    }
    const NodeTable& table = s.brain.engineSet()->tables.table;
    EXPECT_TRUE(table.limitReached());
    EXPECT_LE(table.bytesInUse(), Limit - Pbrain::ProcessOverhead);
    bool told = false;
    for (const std::string& m : s.messages) {
        told = told || m.find("memory limit") != std::string::npos;
    }
    EXPECT_TRUE(told);
}

} // namespace
