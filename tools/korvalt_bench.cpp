// Measures the engine: growth throughput from a fresh engine, a self-play game at a node budget,
// and memory. The signature (root count and rating, longest path, Logger counters) must come out
// the same from every build.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Autoplay.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

long peakRssBytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss * 1024L;
}

struct Growth {
    long steps = 0;
    double seconds = 0;
    uint64_t positions = 0;
    uint32_t rootCount = 0;
    int rootRating = 0;
    int maxPly = 0;
    Logger log;
};

Growth growthRun(uint32_t rule, long steps) {
    EngineSet set(rule);
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
    r.log = set.tables.log;
    return r;
}

struct SelfPlay {
    std::vector<double> moveSeconds;
    uint64_t positions = 0;
    double seconds = 0;
    double firstMoveSeconds = 0;
};

SelfPlay selfPlay(uint32_t rule, int moves, uint32_t budgetThousands) {
    EngineSet set(rule);
    SelfPlay s;
    const uint64_t before = set.tables.table.nodeCount();
    const Clock::time_point all = Clock::now();
    for (int m = 0; m < moves; ++m) {
        const Clock::time_point t = Clock::now();
        thinkUntilReady(set.engine, budgetThousands * 1000u);
        const int plies = set.engine.plyCount;
        set.engine.computerMove();
        s.moveSeconds.push_back(secondsSince(t));
        if (set.engine.plyCount == plies || set.engine.topNode()->rating >= 32600) {
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

bool parseLong(const char* s, long min, long& out) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || v < min) {
        return false;
    }
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    long steps = 50000;
    long rule = -1;
    long moves = 6;
    long budget = 175;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--json") {
            json = true;
        } else if (a == "--steps" && hasValue && parseLong(argv[i + 1], 0, steps)) {
            ++i;
        } else if (a == "--rule" && hasValue && parseLong(argv[i + 1], 0, rule) && rule <= 1) {
            ++i;
        } else if (a == "--moves" && hasValue && parseLong(argv[i + 1], 0, moves)) {
            ++i;
        } else if (a == "--budget" && hasValue && parseLong(argv[i + 1], 1, budget)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: korvalt-bench [--steps N] [--rule 0|1] [--moves N] "
                                 "[--budget THOUSANDS] [--json]\n");
            return 2;
        }
    }
    std::vector<uint32_t> rules;
    if (rule >= 0) {
        rules.push_back(static_cast<uint32_t>(rule));
    } else {
        rules = {0, 1};
    }

    std::vector<Growth> growth;
    for (uint32_t r : rules) {
        growth.push_back(growthRun(r, steps));
    }
    const SelfPlay play =
        selfPlay(rules.front(), static_cast<int>(moves), static_cast<uint32_t>(budget));
    const long rss = peakRssBytes();
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
    return 0;
}
