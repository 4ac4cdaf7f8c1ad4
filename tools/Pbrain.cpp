#include "Pbrain.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <istream>
#include <new>
#include <ostream>

#include "Autoplay.h"
#include "CommandLine.h"
#include "KorvaltVersion.h"

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// Kept back from every thinking time for what follows the last step: the move itself, the
// answer, and the manager's side of the pipe. A tenth of the time on top covers a loaded
// machine that takes the processor away now and then.
constexpr int64_t SafetyMs = 20;
// The match clock is shared out over the moves still to come, guessed from a game that
// lasts this many plies and never counted as fewer than MinMovesToCome.
constexpr int ExpectedPlies = 60;
constexpr int MinMovesToCome = 8;

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return u;
}

// Splits "a,b,c" into its trimmed parts.
std::vector<std::string_view> commaParts(std::string_view s) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t comma = s.find(',');
        parts.push_back(trimmed(s.substr(0, comma)));
        if (comma == std::string_view::npos) {
            return parts;
        }
        s.remove_prefix(comma + 1);
    }
}

struct Point {
    int x;
    int y;
};

// Reads "x,y" onto the board, or says what is wrong with it.
std::optional<Point> readPoint(std::string_view text, std::string_view command, std::string& why) {
    const std::vector<std::string_view> p = commaParts(text);
    if (p.size() == 2) {
        const ParsedNumber x = parseNumber(p[0], 0, BoardSide - 1);
        const ParsedNumber y = parseNumber(p[1], 0, BoardSide - 1);
        if (x.error == NumberError::None && y.error == NumberError::None) {
            return Point{static_cast<int>(x.value), static_cast<int>(y.value)};
        }
        if (x.error != NumberError::NotANumber && y.error != NumberError::NotANumber) {
            why = std::string(text) + " is off the board: x and y run from 0 to 14";
            return std::nullopt;
        }
    }
    why = std::string(command) + " takes x,y, two whole numbers from 0 to 14, not " +
          quotedInput(text);
    return std::nullopt;
}

std::string stones(std::ptrdiff_t n) {
    return std::to_string(n) + (n == 1 ? " stone" : " stones");
}

std::string pointText(int x, int y) {
    return std::to_string(x) + "," + std::to_string(y);
}

std::string ruleRefusal(int64_t rule) {
    static constexpr struct {
        int64_t bit;
        const char* name;
    } Bits[] = {{1, "exactly five"}, {2, "a continuous game"}, {4, "renju"}, {8, "caro"}};
    std::string asked;
    for (const auto& b : Bits) {
        if ((rule & b.bit) != 0) {
            asked += (asked.empty() ? "" : ", ") + std::string(b.name);
        }
    }
    if ((rule & ~int64_t{15}) != 0) {
        asked += (asked.empty() ? "" : ", ") + std::string("unknown bits");
    }
    return "INFO rule " + std::to_string(rule) + " asks for " + asked +
           ": Korvalt plays rule 0 only, five or more in a row wins";
}

} // namespace

bool readLine(std::istream& in, std::string& line, std::size_t limit) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    bool any = false;
    while (true) {
        const std::streambuf::int_type c = buffer->sbumpc();
        if (std::streambuf::traits_type::eq_int_type(c, std::streambuf::traits_type::eof())) {
            in.setstate(std::ios::eofbit);
            return any;
        }
        any = true;
        const char ch = std::streambuf::traits_type::to_char_type(c);
        if (ch == '\n') {
            return true;
        }
        if (line.size() < limit) {
            line.push_back(ch);
        }
    }
}

Pbrain::Pbrain(std::ostream& output, PbrainOptions opts) : out(output), options(opts) {}

Pbrain::~Pbrain() = default;

uint64_t Pbrain::playReserveFor(uint64_t bytes) {
    return bytes == 0 ? NodeTable::PlayReserve : std::min(NodeTable::PlayReserve, bytes / 8);
}

uint64_t Pbrain::tableLimitFor(uint64_t bytes) {
    if (bytes == 0) {
        return NodeTable::NoLimit;
    }
    const uint64_t besides = playReserveFor(bytes) + ProcessOverhead;
    return bytes > besides ? bytes - besides : 0;
}

void Pbrain::run(std::istream& in) {
    std::string line;
    // One byte beyond the longest line tells a cut line from one that fits.
    while (readLine(in, line, MaxLine + 1)) {
        if (!feed(line)) {
            return;
        }
    }
}

void Pbrain::say(std::string_view line) {
    for (const std::string& note : notes) {
        out << note << '\n';
    }
    notes.clear();
    out << line << '\n' << std::flush;
}

void Pbrain::refuse(const std::string& why) {
    say("ERROR " + why);
}

CellIndex Pbrain::engineCell(int x, int y) const {
    return static_cast<CellIndex>(engineCellOf(y * BoardSide + x, set->orientationBits()));
}

std::string Pbrain::shown(CellIndex cell) const {
    const int w = windowCellOf(cell, set->orientationBits());
    return pointText(w % BoardSide, w / BoardSide);
}

int Pbrain::stoneAt(int x, int y) const {
    if (!set || emptyBoard || x < 0 || y < 0 || x >= BoardSide || y >= BoardSide) {
        return 0;
    }
    const uint8_t content = set->engine.board[engineCell(x, y)];
    return (content & Cross) != 0 ? 1 : (content & Nought) != 0 ? 2 : 0;
}

int Pbrain::stoneCount() const {
    return !set || emptyBoard ? 0 : set->engine.plyCount;
}

bool Pbrain::feed(std::string_view raw) {
    const Clock::time_point now = Clock::now();
    if (raw.size() > MaxLine) {
        if (block == Block::Board && boardProblem.empty()) {
            boardProblem = "a line of BOARD is longer than " + std::to_string(MaxLine) + " bytes";
        } else if (block == Block::None) {
            say("UNKNOWN a line longer than " + std::to_string(MaxLine) +
                " bytes: " + quotedInput(raw));
        }
        return true;
    }
    const std::string_view line = trimmed(raw);
    if (line.empty()) {
        return true;
    }
    const std::size_t space = line.find_first_of(" \t");
    const std::string command = upper(line.substr(0, space));
    const std::string_view arg =
        space == std::string_view::npos ? std::string_view() : trimmed(line.substr(space));
    if (command == "END") {
        return false;
    }
    if (block != Block::None) {
        blockLine(line);
        return true;
    }
    commandStart = now;
    if (command == "START") {
        start(arg);
    } else if (command == "RECTSTART") {
        rectStart(arg);
    } else if (command == "RESTART") {
        restart(arg);
    } else if (command == "BEGIN") {
        begin(arg);
    } else if (command == "TURN") {
        turn(arg);
    } else if (command == "BOARD" && arg.empty()) {
        block = Block::Board;
        boardStones.clear();
        boardProblem.clear();
    } else if (command == "SWAP2BOARD" && arg.empty()) {
        block = Block::Swap2;
    } else if (command == "TAKEBACK") {
        takeBack(arg);
    } else if (command == "INFO") {
        info(arg);
    } else if (command == "ABOUT") {
        about(arg);
    } else if (command == "BOARD" || command == "SWAP2BOARD") {
        refuse(command + " takes no argument; its stones follow on lines of their own");
    } else {
        say("UNKNOWN command " + quotedInput(line.substr(0, space)));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Games

void Pbrain::start(std::string_view arg) {
    const ParsedNumber size = parseNumber(arg, 1, INT32_MAX);
    if (size.error != NumberError::None) {
        refuse("START takes the board size, and Korvalt plays on 15 only, not " + quotedInput(arg));
    } else if (size.value != BoardSide) {
        refuse("Korvalt plays on a 15x15 board only, not " + std::to_string(size.value) + "x" +
               std::to_string(size.value));
    } else if (newGame()) {
        say("OK");
    }
}

void Pbrain::rectStart(std::string_view arg) {
    const std::vector<std::string_view> p = commaParts(arg);
    const bool square15 = p.size() == 2 &&
                          parseNumber(p[0], BoardSide, BoardSide).error == NumberError::None &&
                          parseNumber(p[1], BoardSide, BoardSide).error == NumberError::None;
    if (!square15) {
        refuse("Korvalt plays on a 15x15 board only, not " + quotedInput(arg));
    } else if (newGame()) {
        say("OK");
    }
}

void Pbrain::restart(std::string_view arg) {
    if (!arg.empty()) {
        refuse("RESTART takes no argument");
    } else if (!set) {
        refuse("there is no board to restart: START 15 comes first");
    } else if (newGame()) {
        say("OK");
    }
}

// A new game on the engine the program keeps: its tree stays, only the position goes back.
bool Pbrain::newGame() {
    if (!set) {
        // Huge pages would spend a short move's time clearing and compacting memory, and make
        // each of the table's scattered blocks hold megabytes: without them the process grows
        // by what the table counts.
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
        try {
            set = std::make_unique<EngineSet>(0, nullptr, tableLimitFor(maxMemory));
        } catch (const std::bad_alloc&) {
            refuse("INFO max_memory " + std::to_string(maxMemory) +
                   " leaves no room for the engine's first position");
            return false;
        }
        applyMemoryLimit();
    }
    clearPosition();
    // time_left stays: managers send it before START as well as before every move.
    spentThisGame = {};
    return true;
}

void Pbrain::clearPosition() {
    set->engine.rewindToRoot();
    // The centre stone alone is its own image under every orientation: start from none.
    set->ownOrientation.store(0);
    emptyBoard = true;
}

bool Pbrain::readyForMove() {
    if (!set) {
        refuse("there is no board yet: START 15 comes first");
        return false;
    }
    if (rule != 0) {
        refuse(ruleRefusal(rule));
        return false;
    }
    return true;
}

void Pbrain::begin(std::string_view arg) {
    if (!arg.empty()) {
        refuse("BEGIN takes no argument");
    } else if (readyForMove()) {
        if (!emptyBoard) {
            refuse("BEGIN opens an empty board, and this one holds " + stones(stoneCount()));
        } else {
            // The engine's first stone is always the centre, already on its board.
            emptyBoard = false;
            answerMove(CentreCell);
        }
    }
    chargeTurn();
}

void Pbrain::turn(std::string_view arg) {
    std::string why;
    const std::optional<Point> p = readPoint(arg, "TURN", why);
    if (!p) {
        refuse(why);
    } else if (readyForMove()) {
        if (const std::optional<std::string> refused = playStone(p->x, p->y)) {
            refuse(*refused);
        } else {
            reply();
        }
    }
    chargeTurn();
}

void Pbrain::takeBack(std::string_view arg) {
    std::string why;
    const std::optional<Point> p = readPoint(arg, "TAKEBACK", why);
    if (!p) {
        refuse(why);
        return;
    }
    if (!set || emptyBoard) {
        refuse("there is no stone to take back");
        return;
    }
    Gameboard& g = set->engine;
    const std::string last = shown(g.topPly().move);
    if (pointText(p->x, p->y) != last) {
        refuse(pointText(p->x, p->y) + " is not the last stone: that is " + last);
        return;
    }
    if (g.plyCount > 1) {
        g.undoMove();
    } else {
        emptyBoard = true;
    }
    say("OK");
}

std::optional<std::string> Pbrain::gameOver() const {
    const Gameboard& g = set->engine;
    // The engine rates a position whose last stone made five as a five, and nothing else so.
    if (!emptyBoard && isFive(g.topNode()->rating)) {
        return shown(g.topPly().move) + " made five in a row";
    }
    if (g.plyCount >= CellCount) {
        return std::string("the board is full, a draw");
    }
    return std::nullopt;
}

// Plays the stone of the side to move as the window plays a click; the reason when the engine
// cannot.
std::optional<std::string> Pbrain::playStone(int x, int y) {
    const std::string at = pointText(x, y);
    if (emptyBoard) {
        if (x != CentreLine || y != CentreLine) {
            return "the first stone of a game must be on the centre, 7,7, not " + at +
                   ": the engine's tree starts there";
        }
        emptyBoard = false;
        return std::nullopt;
    }
    Gameboard& g = set->engine;
    const CellIndex cell = engineCell(x, y);
    if ((g.board[cell] & (Cross | Nought)) != 0) {
        return at + " is taken";
    }
    if (const std::optional<std::string> over = gameOver()) {
        return "the game is over: " + *over;
    }
    bool played;
    {
        // The computer may have moved into a position the search never opened: open it as
        // the computer's own move would, so that the stone finds its position.
        const ReserveForPlay room(set->tables.table);
        if (g.topNode()->candidateCount == 0 && !g.expand()) {
            return "max_memory leaves no room to open this position";
        }
        // A move of the engine's rules that its tree lacks (its position was opened after
        // another order of the same stones, which marked other cells, or decided through a
        // transposition first) is played as given.
        played = g.playClicked(cell) || (g.isEligible(cell) && g.playAsClicked(cell));
    }
    if (played) {
        return std::nullopt;
    }
    if (g.board[cell] == Empty) {
        return at + " is out of the engine's reach: it plays next to the stones only, one " +
               "cell from the first three and up to two along a line from the others";
    }
    return "max_memory leaves no room for " + at + " in the engine's tree";
}

void Pbrain::reply() {
    if (const std::optional<std::string> over = gameOver()) {
        refuse("the game is over: " + *over);
        return;
    }
    Gameboard& g = set->engine;
    const Clock::time_point thinking = Clock::now();
    const Thought thought = think();
    const Clock::time_point choosing = Clock::now();
    NodeTable& table = set->tables.table;
    if (!limitNoticed && table.limitReached()) {
        limitNoticed = true;
        message("the table is at its memory limit: the engine plays on without growing its "
                "tree");
    }
    const int before = g.plyCount;
    int32_t rating;
    {
        const ReserveForPlay room(table);
        rating = g.computerMove();
    }
    if (g.plyCount == before) {
        refuse(table.limitReached() ? "max_memory leaves no room to open this position"
                                    : "the engine finds no move here");
        return;
    }
    if (options.debug) {
        const auto ms = [](Clock::duration d) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f",
                          std::chrono::duration<double, std::milli>(d).count());
            return std::string(text);
        };
        notes.push_back("DEBUG growth " + ms(choosing - thinking) + " ms in " +
                        std::to_string(thought.steps) + " steps, the longest " +
                        ms(thought.longestStep) + " ms; before it " + ms(thinking - commandStart) +
                        " ms, the move " + ms(Clock::now() - choosing) + " ms");
    }
    message("rating " + std::to_string(rating) + ", " + std::to_string(g.topNode()->count) +
            " positions under this one, " + std::to_string(g.rootNode()->count) +
            " searched, longest path " + std::to_string(g.maxPlyReached) + " plies");
    answerMove(g.topPly().move);
}

void Pbrain::answerMove(CellIndex cell) {
    say(shown(cell));
}

Pbrain::Thought Pbrain::think() {
    Gameboard& g = set->engine;
    Thought t{0, {}};
    Clock::time_point last = Clock::now();
    const auto timed = [&t, &last] {
        const Clock::time_point now = Clock::now();
        t.longestStep = std::max(t.longestStep, now - last);
        last = now;
        ++t.steps;
        return now;
    };
    if (options.budgetThousands > 0) {
        thinkWhile(g, options.budgetThousands * 1000u, [&timed] {
            timed();
            return true;
        });
        return t;
    }
    const milliseconds allowed(thinkingTime());
    const Clock::time_point deadline = commandStart + allowed;
    // Without a node budget only the clock, a decided position or the memory limit stop it.
    // The clock is read before every step: a read costs tens of nanoseconds and a step tens
    // of microseconds, but under the sanitizers a step can take milliseconds, and reading it
    // every sixteenth step overshot a deadline by 40 ms. Deep in a game a step that backs a
    // rating up through many transpositions takes over 100 ms: a step as long as the longest
    // so far must still end in time, counting at most a quarter of the time so that one stall
    // of the machine does not end the move.
    const Clock::duration mostReserved = std::chrono::duration_cast<Clock::duration>(allowed) / 4;
    thinkWhile(g, UINT32_MAX, [&timed, &t, deadline, mostReserved] {
        const Clock::time_point now = timed();
        return now + std::min(t.longestStep, mostReserved) < deadline;
    });
    return t;
}

// ---------------------------------------------------------------------------------------------
// BOARD

void Pbrain::blockLine(std::string_view line) {
    if (upper(line) == "DONE") {
        const Block was = block;
        block = Block::None;
        if (was == Block::Board) {
            boardDone();
        } else {
            refuse("Korvalt does not play the swap2 opening: its first stone is always the "
                   "centre");
        }
        return;
    }
    if (block != Block::Board || !boardProblem.empty()) {
        return;
    }
    const std::vector<std::string_view> p = commaParts(line);
    const auto number = [](std::string_view s, int64_t max) { return parseNumber(s, 0, max); };
    if (p.size() != 3 || number(p[0], INT32_MAX).error == NumberError::NotANumber ||
        number(p[1], INT32_MAX).error == NumberError::NotANumber ||
        number(p[2], 9).error == NumberError::NotANumber) {
        boardProblem = "BOARD takes lines x,y,field and DONE, not " + quotedInput(line);
        return;
    }
    const ParsedNumber x = number(p[0], BoardSide - 1);
    const ParsedNumber y = number(p[1], BoardSide - 1);
    const ParsedNumber field = number(p[2], 2);
    const std::string at = std::string(p[0]) + "," + std::string(p[1]);
    if (x.error != NumberError::None || y.error != NumberError::None) {
        boardProblem = "BOARD stone " + at + " is off the board: x and y run from 0 to 14";
    } else if (field.error != NumberError::None || field.value == 0) {
        boardProblem = "BOARD stone " + at + " has field " + std::string(p[2]) +
                       ": Korvalt knows 1, its own stone, and 2, the opponent's";
    } else {
        for (const Stone& s : boardStones) {
            if (s.x == x.value && s.y == y.value) {
                boardProblem = "BOARD gives " + at + " twice";
                return;
            }
        }
        boardStones.push_back(
            {static_cast<int>(x.value), static_cast<int>(y.value), static_cast<int>(field.value)});
    }
}

void Pbrain::boardDone() {
    if (readyForMove()) {
        // A BOARD replaces the game whether or not it can be played.
        clearPosition();
        if (!boardProblem.empty()) {
            refuse(boardProblem);
        } else if (boardStones.empty()) {
            emptyBoard = false;
            answerMove(CentreCell);
        } else if (const std::optional<std::string> refused = replay()) {
            clearPosition();
            refuse(*refused);
        } else {
            reply();
        }
    }
    boardStones.clear();
    chargeTurn();
}

// Plays the BOARD's stones from the centre, the sides taking turns; of each side's stones the
// first in the manager's order that the engine can play comes next, so a game sent in the
// order it was played is replayed in that order.
std::optional<std::string> Pbrain::replay() {
    const auto centre = std::find_if(boardStones.begin(), boardStones.end(), [](const Stone& s) {
        return s.x == CentreLine && s.y == CentreLine;
    });
    if (centre == boardStones.end()) {
        return std::string("BOARD must hold the first stone on the centre, 7,7: the engine's "
                           "tree starts there");
    }
    const int first = centre->field;
    const auto own = std::count_if(boardStones.begin(), boardStones.end(),
                                   [](const Stone& s) { return s.field == 1; });
    const auto theirs = static_cast<std::ptrdiff_t>(boardStones.size()) - own;
    const bool ownTurn = first == 1 ? own == theirs : theirs == own + 1;
    if (!ownTurn) {
        return "BOARD gives " + stones(own) + " of Korvalt's and " + stones(theirs) +
               " of the opponent's, whose first stone " +
               (first == 1 ? "is Korvalt's" : "is the opponent's") +
               " on the centre: that is not Korvalt's turn to move";
    }
    std::vector<bool> played(boardStones.size(), false);
    played[static_cast<std::size_t>(centre - boardStones.begin())] = true;
    emptyBoard = false;
    int side = 3 - first;
    for (std::size_t n = 1; n < boardStones.size(); ++n) {
        std::optional<std::string> firstRefusal;
        bool placed = false;
        for (std::size_t i = 0; i < boardStones.size() && !placed; ++i) {
            if (played[i] || boardStones[i].field != side) {
                continue;
            }
            std::optional<std::string> refused = playStone(boardStones[i].x, boardStones[i].y);
            if (!refused) {
                played[i] = true;
                placed = true;
            } else if (!firstRefusal) {
                firstRefusal = std::move(refused);
            }
        }
        if (!placed) {
            return "BOARD cannot be played from the centre with the sides taking turns: " +
                   *firstRefusal;
        }
        if (const std::optional<std::string> over = gameOver()) {
            return "BOARD holds a finished game: " + *over;
        }
        side = 3 - side;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Limits and information

void Pbrain::info(std::string_view arg) {
    const std::size_t space = arg.find_first_of(" \t");
    const std::string key(arg.substr(0, space));
    const std::string_view value =
        space == std::string_view::npos ? std::string_view() : trimmed(arg.substr(space));
    // Unknown keys are left alone, as the protocol asks; known ones must carry a number.
    struct Known {
        const char* key;
        int64_t min;
        int64_t max;
    };
    static constexpr Known Keys[] = {
        {"timeout_turn", 0, INT32_MAX},
        {"timeout_match", 0, INT32_MAX},
        {"time_left", INT32_MIN, INT32_MAX},
        {"max_memory", 0, INT64_MAX},
        {"rule", 0, INT32_MAX},
        {"game_type", 0, 3},
    };
    const Known* known = nullptr;
    for (const Known& k : Keys) {
        if (key == k.key) {
            known = &k;
        }
    }
    if (known == nullptr) {
        return;
    }
    const ParsedNumber n = parseNumber(value, known->min, known->max);
    if (n.error != NumberError::None) {
        message("INFO " + key + " takes " + CommandLine::rangeText(known->min, known->max) +
                ", not " + quotedInput(value) + "; it is left as it was");
        return;
    }
    if (key == "timeout_turn") {
        timeoutTurn = n.value;
    } else if (key == "timeout_match") {
        timeoutMatch = n.value;
    } else if (key == "time_left") {
        timeLeft = n.value;
        spentSinceTimeLeft = {};
    } else if (key == "max_memory") {
        maxMemory = static_cast<uint64_t>(n.value);
        applyMemoryLimit();
    } else if (key == "rule") {
        rule = n.value;
    } else {
        gameType = n.value;
    }
}

void Pbrain::applyMemoryLimit() {
    if (set) {
        set->tables.table.setMemoryLimit(tableLimitFor(maxMemory));
        set->tables.table.setPlayReserve(playReserveFor(maxMemory));
    }
}

std::optional<int64_t> Pbrain::matchTimeLeft() const {
    if (timeLeft) {
        if (*timeLeft == UnlimitedTimeLeft) {
            return std::nullopt;
        }
        return *timeLeft - duration_cast<milliseconds>(spentSinceTimeLeft).count();
    }
    if (timeoutMatch > 0) {
        return timeoutMatch - duration_cast<milliseconds>(spentThisGame).count();
    }
    return std::nullopt;
}

int64_t Pbrain::thinkingTime() const {
    int64_t allowed = timeoutTurn;
    if (const std::optional<int64_t> left = matchTimeLeft()) {
        const int64_t toCome = std::max(MinMovesToCome, (ExpectedPlies - stoneCount()) / 2);
        allowed = std::min(allowed, std::max<int64_t>(*left, 0) / toCome);
    }
    return std::max<int64_t>(0, allowed - SafetyMs - allowed / 10);
}

void Pbrain::chargeTurn() {
    const Clock::duration spent = Clock::now() - commandStart;
    spentThisGame += spent;
    spentSinceTimeLeft += spent;
}

void Pbrain::about(std::string_view arg) {
    if (!arg.empty()) {
        refuse("ABOUT takes no argument");
        return;
    }
    say(std::string("name=\"Korvalt\", version=\"") + KorvaltVersion +
        "\", author=\"Korvalt team\", country=\"International\", "
        "www=\"https://korvalt.example.org/\", email=\"team@example.org\"");
}
