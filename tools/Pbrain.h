#pragma once

// The text protocol through which gomoku managers and analysis boards drive an engine: one
// command a line in, one answer a line out. The manager's board is the window's board (x the
// column, y the row, both from 0 at the top left), mapped to the engine's cells through the
// display orientation exactly as the window maps its cells.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Gameboard.h"

struct PbrainOptions {
    /// Thousands of positions searched before each move, as the game window counts them; 0
    /// plays by the manager's clock instead.
    uint32_t budgetThousands = 0;
    /// Writes DEBUG lines telling where each move's time went.
    bool debug = false;
};

class Pbrain {
public:
    using Clock = std::chrono::steady_clock;

    /// Longer input lines are refused whole; the rest of such a line is read and dropped.
    static constexpr std::size_t MaxLine = 4096;
    /// Milliseconds per move until the manager tells its own limit.
    static constexpr int64_t DefaultTimeoutTurn = 5000;
    /// The time_left of a match without a time limit.
    static constexpr int64_t UnlimitedTimeLeft = 2147483647;
    /// Bytes the process holds besides its table (program, libraries, engine, stacks), with
    /// room to spare: some 4 MB are measured.
    static constexpr uint64_t ProcessOverhead = uint64_t{16} << 20;

    explicit Pbrain(std::ostream& out, PbrainOptions options = {});
    ~Pbrain();
    Pbrain(const Pbrain&) = delete;
    Pbrain& operator=(const Pbrain&) = delete;

    /// Answers commands until END or the end of the input.
    void run(std::istream& in);
    /// Answers one line of input, its line end removed; false once END asks to stop.
    bool feed(std::string_view line);

    /// The stone on the manager's board at column x, row y: 0 none, 1 the first player's, 2
    /// the second player's.
    int stoneAt(int x, int y) const;
    /// Stones on the manager's board.
    int stoneCount() const;
    /// The engine, once START has made one.
    const EngineSet* engineSet() const { return set.get(); }
    /// Milliseconds the next move may spend growing the tree, counted from the moment its
    /// command arrived.
    int64_t thinkingTime() const;

    /// The table's limit and its reserve for play that keep the whole process within
    /// maxMemory bytes (0: no limit).
    static uint64_t tableLimitFor(uint64_t maxMemory);
    static uint64_t playReserveFor(uint64_t maxMemory);

private:
    enum class Block : uint8_t { None, Board, Swap2 };
    struct Stone {
        int x;
        int y;
        int field; ///< 1 own, 2 the opponent's
    };

    void say(std::string_view line);
    void message(std::string text) { notes.push_back("MESSAGE " + std::move(text)); }
    void refuse(const std::string& why);
    void answerMove(CellIndex engineCell);

    void start(std::string_view arg);
    void rectStart(std::string_view arg);
    void restart(std::string_view arg);
    void begin(std::string_view arg);
    void turn(std::string_view arg);
    void takeBack(std::string_view arg);
    void info(std::string_view arg);
    void about(std::string_view arg);
    void blockLine(std::string_view line);
    void boardDone();

    bool newGame();
    void clearPosition();
    bool readyForMove();
    std::optional<std::string> playStone(int x, int y);
    std::optional<std::string> gameOver() const;
    std::optional<std::string> replay();
    void reply();
    struct Thought {
        long steps;
        Clock::duration longestStep;
    };
    Thought think();
    void applyMemoryLimit();
    std::optional<int64_t> matchTimeLeft() const;
    void chargeTurn();

    CellIndex engineCell(int x, int y) const;
    std::string shown(CellIndex engineCell) const;

    std::ostream& out;
    PbrainOptions options;
    std::unique_ptr<EngineSet> set;
    /// The manager's board is empty while the engine, whose tree starts there, keeps its
    /// centre stone.
    bool emptyBoard = true;
    bool limitNoticed = false;

    int64_t timeoutTurn = DefaultTimeoutTurn;
    int64_t timeoutMatch = 0;
    std::optional<int64_t> timeLeft;
    Clock::duration spentSinceTimeLeft{};
    Clock::duration spentThisGame{};
    uint64_t maxMemory = 0;
    int64_t rule = 0;
    int64_t gameType = 1;
    /// MESSAGE and DEBUG lines for the next answer to carry: the manager reads nothing after
    /// an INFO, so what it could not take waits here too.
    std::vector<std::string> notes;

    Clock::time_point commandStart{};
    Block block = Block::None;
    std::vector<Stone> boardStones;
    std::string boardProblem;
};

/// Reads one line without its '\n', keeping at most `limit` bytes and dropping the rest. False
/// at the end of the input when nothing was read.
bool readLine(std::istream& in, std::string& line, std::size_t limit);
