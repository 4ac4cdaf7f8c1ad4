// Plays engines that speak the gomoku engine protocol against each other, checks every move,
// and reports the results and the answer times.

#include <cstdint>
#include <iostream>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "MatchManager.h"

namespace {

std::vector<std::string> words(const std::string& command) {
    std::istringstream in(command);
    std::vector<std::string> w;
    for (std::string s; in >> s;) {
        w.push_back(s);
    }
    return w;
}

void printStats(const char* who, const EngineStats& s) {
    const double total = std::accumulate(s.ms.begin(), s.ms.end(), 0.0);
    std::printf("%s: %d moves, mean %.1f ms, worst %.1f ms, most in one game %.1f ms\n", who,
                s.answers, s.answers > 0 ? total / s.answers : 0.0, s.worstMs, s.worstGameMs);
}

} // namespace

int main(int argc, char** argv) {
    std::optional<std::string> first;
    std::optional<std::string> second;
    int64_t games = 2;
    int64_t timeoutTurn = 1000;
    int64_t timeoutMatch = 0;
    int64_t maxMemory = 0;
    int64_t maxStones = 225;
    bool log = false;
    CommandLine line("korvalt-match",
                     "Plays two engines that speak the gomoku engine protocol against each other "
                     "on a 15x15 board, the engines taking turns to open, checks every move and "
                     "reports the games and the answer times. Exit status 0 when no engine "
                     "failed, 1 otherwise.");
    line.text("--first", "COMMAND", "the engine that opens the first game, with its arguments",
              first);
    line.text("--second", "COMMAND", "the other engine; the first one again unless given", second);
    line.number("--games", "N", 1, 1000, "games to play, 2 unless given", games);
    line.number("--timeout-turn", "MS", 0, INT32_MAX,
                "milliseconds per move told to the engines, 1000 unless given", timeoutTurn);
    line.number("--timeout-match", "MS", 0, INT32_MAX,
                "milliseconds per engine and game, 0 (none) unless given", timeoutMatch);
    line.number("--max-memory", "BYTES", 0, INT64_MAX,
                "memory limit told to the engines, 0 (none) unless given", maxMemory);
    line.number("--max-stones", "N", 1, 225, "a game still open with N stones is a draw",
                maxStones);
    line.flag("--log", "copy every command and answer to standard error", log);
    if (const std::optional<int> status = line.parse(argc, argv, std::cout, std::cerr)) {
        return *status;
    }
    if (!first) {
        std::cerr << "korvalt-match: --first needs the engine's command\n";
        return 2;
    }
    MatchConfig config;
    config.first = words(*first);
    config.second = words(second ? *second : *first);
    config.games = static_cast<int>(games);
    config.timeoutTurn = timeoutTurn;
    config.timeoutMatch = timeoutMatch;
    config.maxMemory = static_cast<uint64_t>(maxMemory);
    config.maxStones = static_cast<int>(maxStones);
    config.log = log ? &std::cerr : nullptr;
    const MatchReport r = playMatch(config);
    for (std::size_t g = 0; g < r.games.size(); ++g) {
        const GameRecord& game = r.games[g];
        const char* winner = game.winner == 0   ? "the first engine wins"
                             : game.winner == 1 ? "the second engine wins"
                                                : "no winner";
        std::printf("game %zu: %s engine opens, %zu stones, %s (%s)\n", g + 1,
                    game.opener == 0 ? "first" : "second", game.moves.size(), winner,
                    game.end.c_str());
    }
    printStats("first engine", r.engines[0]);
    printStats("second engine", r.engines[1]);
    std::printf("worst answer %.1f ms against timeout_turn %lld ms\n", r.worstMs(),
                static_cast<long long>(timeoutTurn));
    for (const std::string& f : r.faults) {
        std::printf("fault: %s\n", f.c_str());
    }
    std::printf("exit status %d and %d\n", r.exitStatus[0], r.exitStatus[1]);
    return r.faults.empty() && r.exitStatus[0] == 0 && r.exitStatus[1] == 0 ? 0 : 1;
}
