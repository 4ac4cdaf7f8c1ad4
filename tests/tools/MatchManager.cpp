#include "MatchManager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

namespace {

constexpr std::size_t MaxLine = 1 << 20;

double msSince(EngineProcess::Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(EngineProcess::Clock::now() - from).count();
}

} // namespace

EngineProcess::EngineProcess(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        throw std::runtime_error("no engine command");
    }
    // A write to an engine that has gone must fail, not end the manager.
    signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    // Close-on-exec, so that neither engine holds the other's pipes open.
    if (pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        // Only what is safe between fork and exec.
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    toEngine = in[1];
    fromEngine = out[0];
}

EngineProcess::~EngineProcess() {
    closeInput();
    if (!waitExit(std::chrono::milliseconds(0))) {
        kill();
    }
    if (fromEngine >= 0) {
        close(fromEngine);
    }
}

bool EngineProcess::send(std::string_view line) {
    if (toEngine < 0) {
        return false;
    }
    std::string text(line);
    text += "\r\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(toEngine, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

EngineProcess::Read EngineProcess::readLine(std::string& line, Clock::time_point deadline) {
    while (true) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos || pending.size() >= MaxLine) {
            line = pending.substr(0, std::min(end, MaxLine));
            pending.erase(0, end == std::string::npos ? MaxLine : end + 1);
            while (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return Read::Line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Read::Timeout;
        }
        pollfd p{fromEngine, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            return Read::Closed;
        }
        if (ready <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t n = read(fromEngine, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Read::Closed;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void EngineProcess::closeInput() {
    if (toEngine >= 0) {
        close(toEngine);
        toEngine = -1;
    }
}

std::optional<int> EngineProcess::waitExit(std::chrono::milliseconds wait) {
    const Clock::time_point until = Clock::now() + wait;
    while (!status && pid > 0) {
        int s = 0;
        const pid_t r = waitpid(pid, &s, WNOHANG);
        if (r == pid) {
            status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
        } else if (r < 0 && errno != EINTR) {
            status = -1;
        } else if (Clock::now() >= until) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return status;
}

void EngineProcess::kill() {
    if (pid > 0 && !status) {
        ::kill(pid, SIGKILL);
        int s = 0;
        waitpid(pid, &s, 0);
        status = 128 + SIGKILL;
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

class Match {
public:
    explicit Match(const MatchConfig& c) : config(c) {}

    MatchReport play() {
        try {
            engines[0] = std::make_unique<EngineProcess>(config.first);
            engines[1] = std::make_unique<EngineProcess>(config.second.empty() ? config.first
                                                                               : config.second);
        } catch (const std::exception& e) {
            report.faults.push_back(std::string("cannot start an engine: ") + e.what());
            return report;
        }
        for (int g = 0; g < config.games && report.faults.empty(); ++g) {
            playGame(g);
        }
        for (int e = 0; e < 2; ++e) {
            engines[e]->send("END");
            // The protocol gives an engine about a second to end.
            const std::optional<int> s = engines[e]->waitExit(std::chrono::milliseconds(3000));
            if (!s) {
                report.faults.push_back(name(e) + " did not end after END");
                engines[e]->kill();
            }
            report.exitStatus[e] = s ? *s : -1;
        }
        return report;
    }

private:
    std::string name(int e) const { return e == 0 ? "the first engine" : "the second engine"; }

    void logLine(int e, const char* arrow, std::string_view line) {
        if (config.log != nullptr) {
            *config.log << e + 1 << arrow << line << '\n';
        }
    }

    bool send(int e, const std::string& line) {
        logLine(e, " < ", line);
        if (!engines[e]->send(line)) {
            report.faults.push_back(name(e) + " closed its input at " + line);
            return false;
        }
        return true;
    }

    // The engine's answer to a command, MESSAGE and DEBUG lines passed over.
    std::optional<std::string> answer(int e, const std::string& command) {
        const EngineProcess::Clock::time_point until =
            EngineProcess::Clock::now() + std::chrono::milliseconds(config.answerWaitMs);
        std::string line;
        while (true) {
            const EngineProcess::Read r = engines[e]->readLine(line, until);
            if (r == EngineProcess::Read::Timeout) {
                report.faults.push_back(name(e) + " gave no answer to " + command);
                return std::nullopt;
            }
            if (r == EngineProcess::Read::Closed) {
                report.faults.push_back(name(e) + " closed its output after " + command);
                return std::nullopt;
            }
            logLine(e, " > ", line);
            if (line.rfind("MESSAGE", 0) != 0 && line.rfind("DEBUG", 0) != 0 && !line.empty()) {
                return line;
            }
        }
    }

    bool expectOk(int e, const std::string& command) {
        if (!send(e, command)) {
            return false;
        }
        const std::optional<std::string> a = answer(e, command);
        if (a && *a != "OK") {
            report.faults.push_back(name(e) + " answered " + *a + " to " + command);
        }
        return a && *a == "OK";
    }

    void playGame(int g) {
        for (int e = 0; e < 2; ++e) {
            if (!expectOk(e, g == 0 ? "START 15" : "RESTART")) {
                return;
            }
            const std::string info[] = {
                "INFO timeout_turn " + std::to_string(config.timeoutTurn),
                "INFO timeout_match " + std::to_string(config.timeoutMatch),
                "INFO max_memory " + std::to_string(config.maxMemory),
                "INFO rule 0",
                "INFO game_type 1",
            };
            for (const std::string& line : info) {
                send(e, line);
            }
            spent[e] = 0;
        }
        GameRecord game;
        game.opener = g % 2;
        board.clear();
        std::optional<Move> last;
        for (int e = game.opener;; e = 1 - e) {
            if (config.timeoutMatch > 0) {
                send(e, "INFO time_left " +
                            std::to_string(config.timeoutMatch - static_cast<int64_t>(spent[e])));
            }
            const std::string command = last ? "TURN " + moveText(*last) : "BEGIN";
            const EngineProcess::Clock::time_point sent = EngineProcess::Clock::now();
            if (!send(e, command)) {
                game.end = "fault";
                break;
            }
            const std::optional<std::string> a = answer(e, command);
            const double ms = msSince(sent);
            if (config.log != nullptr) {
                *config.log << e + 1 << " answered in " << ms << " ms\n";
            }
            if (!a) {
                game.end = "fault";
                break;
            }
            EngineStats& s = report.engines[e];
            ++s.answers;
            s.ms.push_back(ms);
            s.worstMs = std::max(s.worstMs, ms);
            spent[e] += ms;
            s.worstGameMs = std::max(s.worstGameMs, spent[e]);
            const std::optional<Move> m = parseMove(*a);
            if (!m || !board.play(*m)) {
                report.faults.push_back(name(e) + " answered " + *a + " to " + command +
                                        " in game " + std::to_string(g + 1));
                game.winner = 1 - e;
                game.end = "fault";
                break;
            }
            game.moves.push_back(*m);
            last = m;
            if (board.fiveThrough(*m)) {
                game.winner = e;
                game.end = "five in a row";
                break;
            }
            if (board.stones() >= RefereeBoard::Side * RefereeBoard::Side) {
                game.end = "full board";
                break;
            }
            if (board.stones() >= config.maxStones) {
                game.end = "stone cap";
                break;
            }
        }
        report.games.push_back(game);
    }

    const MatchConfig& config;
    std::unique_ptr<EngineProcess> engines[2];
    RefereeBoard board;
    double spent[2] = {0, 0};
    MatchReport report;
};

} // namespace

MatchReport playMatch(const MatchConfig& config) {
    return Match(config).play();
}
