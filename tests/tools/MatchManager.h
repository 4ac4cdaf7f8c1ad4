#pragma once

// A small manager of engines that speak the gomoku engine protocol: it runs two engine
// processes over pipes, plays games between them on a board of its own, and times every
// answer.

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Referee.h"

/// One engine process with its standard input and output on pipes; killed and reaped when
/// destroyed if it has not ended by itself.
class EngineProcess {
public:
    using Clock = std::chrono::steady_clock;
    enum class Read { Line, Timeout, Closed };

    /// Starts argv[0] (searched in PATH when it has no slash); throws std::runtime_error when
    /// it cannot.
    explicit EngineProcess(const std::vector<std::string>& argv);
    ~EngineProcess();
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;

    /// Writes one line ended by CR LF, as managers do; false when the engine reads no more.
    bool send(std::string_view line);
    /// The next line the engine writes, without its line end; lines longer than a megabyte
    /// are cut.
    Read readLine(std::string& line, Clock::time_point deadline);
    void closeInput();
    /// The exit status once the engine has ended within the wait (128 + the signal when a
    /// signal ended it), or nothing.
    std::optional<int> waitExit(std::chrono::milliseconds wait);
    void kill();

private:
    pid_t pid = -1;
    int toEngine = -1;
    int fromEngine = -1;
    std::string pending;
    std::optional<int> status;
};

struct MatchConfig {
    std::vector<std::string> first;  ///< the command of the engine that opens the first game
    std::vector<std::string> second; ///< the other; the engines take turns to open
    int games = 2;
    int64_t timeoutTurn = 1000;   ///< milliseconds a move may take, sent as INFO timeout_turn
    int64_t timeoutMatch = 0;     ///< milliseconds per engine and game, 0 none; sets time_left
    uint64_t maxMemory = 0;       ///< bytes, sent as INFO max_memory
    int maxStones = 225;          ///< a game still open with this many stones is a draw
    int64_t answerWaitMs = 60000; ///< past this an engine is taken as hung
    std::ostream* log = nullptr;  ///< commands and answers as they pass, when given
};

struct GameRecord {
    std::vector<Move> moves;
    int opener = 0;  ///< which engine played the first stone: 0 first, 1 second
    int winner = -1; ///< 0 or 1 for the engines, -1 none
    std::string end; ///< how the game ended: five in a row, a full board, the stone cap, a fault
};

struct EngineStats {
    int answers = 0;
    double worstMs = 0;     ///< longest answer to a move command
    double worstGameMs = 0; ///< most time used in one game
    std::vector<double> ms; ///< every move's answer time
};

struct MatchReport {
    std::vector<GameRecord> games;
    EngineStats engines[2];
    std::vector<std::string> faults; ///< illegal moves, refusals, hangs, bad exits
    int exitStatus[2] = {-1, -1};
    double worstMs() const { return std::max(engines[0].worstMs, engines[1].worstMs); }
};

/// Plays the match; never throws for what the engines do, which ends up in `faults`.
MatchReport playMatch(const MatchConfig& config);
