// Measures the engine: growth throughput from a fresh engine, a self-play game at a node budget,
// and memory. The signature (root count and rating, longest path, Logger counters) must come out
// the same from every build.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Autoplay.h"
#include "CommandLine.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The most the process has held resident since it started or since the last resetPeakRss.
long peakRssBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6)) * 1024L;
        }
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss * 1024L;
}

// Lowers the peak to what is resident now, so that each growth run reports its own peak. Where
// the kernel does not allow it, the peaks stay those of the whole process.
void resetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Growth {
    long steps = 0;
    double seconds = 0;
    uint64_t positions = 0;
    uint32_t rootCount = 0;
    int rootRating = 0;
    int maxPly = 0;
    uint64_t nodes = 0; ///< in the table at the end of the run
    long peakRss = 0;
    bool limitReached = false;
    Logger log;
};

Growth growthRun(uint32_t rule, long steps, uint64_t memoryLimit) {
    resetPeakRss();
    EngineSet set(rule, nullptr, memoryLimit);
    Growth r;
    const uint64_t before = set.tables.table.nodeCount();
    const Clock::time_point t = Clock::now();
    for (long i = 0; i < steps; ++i) {
        set.engine.growStep();
    }
    r.seconds = secondsSince(t);
    r.steps = steps;
    r.positions = set.tables.table.nodeCount() - before;
    r.rootCount = set.engine.rootNode()->count;
    r.rootRating = set.engine.rootNode()->rating;
    r.maxPly = set.engine.maxPlyReached;
    r.nodes = set.tables.table.nodeCount();
    r.peakRss = peakRssBytes();
    r.limitReached = set.tables.table.limitReached();
    r.log = set.tables.log;
    return r;
}

struct SelfPlay {
    std::vector<double> moveSeconds;
    uint64_t positions = 0;
    double seconds = 0;
    double firstMoveSeconds = 0;
};

SelfPlay selfPlay(uint32_t rule, int moves, uint32_t budgetThousands, uint64_t memoryLimit) {
    EngineSet set(rule, nullptr, memoryLimit);
    SelfPlay s;
    const uint64_t before = set.tables.table.nodeCount();
    const Clock::time_point all = Clock::now();
    for (int m = 0; m < moves; ++m) {
        const Clock::time_point t = Clock::now();
        thinkUntilReady(set.engine, budgetThousands * 1000u);
        const int plies = set.engine.plyCount;
        // The move may use the table's reserve beyond the limit, as in the game.
        set.tables.table.openReserve(true);
        set.engine.computerMove();
        set.tables.table.openReserve(false);
        s.moveSeconds.push_back(secondsSince(t));
        if (set.engine.plyCount == plies || isFive(set.engine.topNode()->rating)) {
            break;
        }
    }
    s.seconds = secondsSince(all);
    s.positions = set.tables.table.nodeCount() - before;
    s.firstMoveSeconds = s.moveSeconds.empty() ? 0 : s.moveSeconds.front();
    return s;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double residentPerNode(const Growth& g) {
    return g.nodes > 0 ? static_cast<double>(g.peakRss) / static_cast<double>(g.nodes) : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    int64_t steps = 50000;
    int64_t rule = -1;
    int64_t moves = 6;
    int64_t budget = 175;
    int64_t memoryMegabytes = 0;
    bool json = false;
    CommandLine line("korvalt-bench",
                     "Measures the engine: growth from a fresh engine, a self-play game and "
                     "memory, with a signature that every build must reproduce.");
    line.number("--steps", "N", 0, 10000000, "growth steps from a fresh engine, 50000 unless given",
                steps);
    line.number("--rule", "0|1", 0, 1, "opening rule, both unless given; self-play plays the first",
                rule);
    line.number("--moves", "N", 0, CellCount - 1, "self-play moves at most, 6 unless given", moves);
    line.number("--budget", "THOUSANDS", 1, UINT32_MAX / 1000,
                "thousands of positions searched before each self-play move, 175 unless given",
                budget);
    line.number("--memory", "MB", 1, int64_t{1} << 20,
                "megabytes each engine's table may hold; no limit unless given", memoryMegabytes);
    line.flag("--json", "print one line of JSON instead of the tables", json);
    if (const std::optional<int> status = line.parse(argc, argv, std::cout, std::cerr)) {
        return *status;
    }
    const uint64_t memoryLimit =
        memoryMegabytes > 0 ? static_cast<uint64_t>(memoryMegabytes) << 20 : NodeTable::NoLimit;
    std::vector<uint32_t> rules;
    if (rule >= 0) {
        rules.push_back(static_cast<uint32_t>(rule));
    } else {
        rules = {0, 1};
    }

    std::vector<Growth> growth;
    for (uint32_t r : rules) {
        growth.push_back(growthRun(r, steps, memoryLimit));
    }
    const SelfPlay play = selfPlay(rules.front(), static_cast<int>(moves),
                                   static_cast<uint32_t>(budget), memoryLimit);
    long rss = peakRssBytes();
    for (const Growth& g : growth) {
        rss = std::max(rss, g.peakRss);
    }
    const double playRate =
        play.seconds > 0 ? static_cast<double>(play.positions) / play.seconds : 0;

    if (json) {
        const Growth& g = growth.front();
        std::printf("{\"rule\": %u, \"steps\": %ld, \"seconds\": %.6f, \"steps_per_second\": %.1f, "
                    "\"positions\": %llu, \"positions_per_second\": %.1f, ",
                    rules.front(), g.steps, g.seconds,
                    g.seconds > 0 ? static_cast<double>(g.steps) / g.seconds : 0.0,
                    static_cast<unsigned long long>(g.positions),
                    g.seconds > 0 ? static_cast<double>(g.positions) / g.seconds : 0.0);
        std::printf("\"first_move_seconds\": %.6f, \"move_seconds_median\": %.6f, "
                    "\"move_seconds_max\": %.6f, \"selfplay_moves\": %zu, "
                    "\"selfplay_positions_per_second\": %.1f, ",
                    play.firstMoveSeconds, median(play.moveSeconds),
                    play.moveSeconds.empty()
                        ? 0.0
                        : *std::max_element(play.moveSeconds.begin(), play.moveSeconds.end()),
                    play.moveSeconds.size(), playRate);
        std::printf("\"nodes\": %llu, \"resident_bytes_per_node\": %.1f, "
                    "\"memory_limit_reached\": %s, ",
                    static_cast<unsigned long long>(g.nodes), residentPerNode(g),
                    g.limitReached ? "true" : "false");
        std::printf("\"bytes_per_node\": %zu, \"peak_rss_bytes\": %ld, \"signature\": {"
                    "\"root_count\": %u, \"root_rating\": %d, \"max_ply\": %d, \"hits\": %" PRId64
                    ", "
                    "\"age_collisions\": %" PRId64 ", \"chain_misses\": %" PRId64
                    ", \"bucket_misses\": %" PRId64 ", "
                    "\"r10k\": %d, \"r20k\": %d, \"r10k_large\": %d, \"r20k_large\": %d}}\n",
                    sizeof(Node), rss, g.rootCount, g.rootRating, g.maxPly, g.log.hits,
                    g.log.ageCollisions, g.log.chainMisses, g.log.bucketMisses, g.log.reached10000,
                    g.log.reached20000, g.log.reached10000Large, g.log.reached20000Large);
        return 0;
    }

    std::printf("Growth from a fresh engine, %ld steps\n", steps);
    std::printf("  rule  seconds  steps/s    positions  positions/s  signature\n");
    for (std::size_t i = 0; i < growth.size(); ++i) {
        const Growth& g = growth[i];
        std::printf("  %-4u  %7.3f  %9.0f  %9llu  %11.0f  %u/%d/%d/%" PRId64 "/%" PRId64 "/%" PRId64
                    "/%" PRId64 "\n",
                    rules[i], g.seconds,
                    g.seconds > 0 ? static_cast<double>(g.steps) / g.seconds : 0.0,
                    static_cast<unsigned long long>(g.positions),
                    g.seconds > 0 ? static_cast<double>(g.positions) / g.seconds : 0.0, g.rootCount,
                    g.rootRating, g.maxPly, g.log.hits, g.log.ageCollisions, g.log.chainMisses,
                    g.log.bucketMisses);
    }
    std::printf("Self-play, rule %u, budget %ldK, %zu moves\n", rules.front(), budget,
                play.moveSeconds.size());
    std::printf("  first move %.3f s, median %.3f s, max %.3f s, %.0f positions/s\n",
                play.firstMoveSeconds, median(play.moveSeconds),
                play.moveSeconds.empty()
                    ? 0.0
                    : *std::max_element(play.moveSeconds.begin(), play.moveSeconds.end()),
                playRate);
    std::printf("Memory\n  %zu bytes per Node, peak resident %.1f MB\n", sizeof(Node),
                static_cast<double>(rss) / 1e6);
    std::printf("  rule      Nodes  peak resident MB  resident bytes per Node%s\n",
                memoryMegabytes > 0 ? "  limit reached" : "");
    for (std::size_t i = 0; i < growth.size(); ++i) {
        const Growth& g = growth[i];
        std::printf("  %-4u  %9llu  %16.1f  %23.1f%s\n", rules[i],
                    static_cast<unsigned long long>(g.nodes), static_cast<double>(g.peakRss) / 1e6,
                    residentPerNode(g),
                    memoryMegabytes == 0 ? ""
                    : g.limitReached     ? "  yes"
                                         : "  no");
    }
    return 0;
}
