// Korvalt in a terminal: a whole game against the engine, or a script of engine commands for
// reproducible runs.

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "Autoplay.h"
#include "CommandLine.h"

namespace {

constexpr int64_t DefaultBudget = 175;
// Budget x 1000 is a Node count, which must fit 32 bits.
constexpr int64_t MaxBudget = UINT32_MAX / 1000;
constexpr int64_t MaxMemoryMegabytes = int64_t{1} << 20;
constexpr int64_t MaxGrowSteps = 100000000;

bool parseInt(std::string_view text, int64_t min, int64_t max, int64_t& out) {
    const ParsedNumber n = parseNumber(text, min, max);
    if (n.error != NumberError::None) {
        return false;
    }
    out = n.value;
    return true;
}

// A fresh engine, or nothing when a memory limit leaves no room for its first position.
std::unique_ptr<EngineSet> newEngine(uint32_t rule, uint64_t memoryLimit) {
    try {
        return std::make_unique<EngineSet>(rule, nullptr, memoryLimit);
    } catch (const std::bad_alloc&) {
        if (memoryLimit == NodeTable::NoLimit) {
            throw;
        }
        return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Script mode

int scriptError(int line, const std::string& what) {
    std::cerr << "line " << line << ": " << what << "\n";
    return 2;
}

// The refused argument, for a script message.
std::string given(bool hasArg, const std::string& arg) {
    return hasArg ? ", not " + quotedInput(arg) : std::string();
}

int runScript(std::istream& in, uint64_t memoryLimit) {
    std::unique_ptr<EngineSet> set;
    std::string text;
    int lineNo = 0;
    while (std::getline(in, text)) {
        ++lineNo;
        const std::size_t hash = text.find('#');
        if (hash != std::string::npos) {
            text.erase(hash);
        }
        std::istringstream words(text);
        std::string cmd;
        if (!(words >> cmd)) {
            continue;
        }
        std::string arg, extra;
        const bool hasArg = static_cast<bool>(words >> arg);
        if (words >> extra) {
            return scriptError(lineNo, "too many arguments to " + quotedInput(cmd));
        }
        int64_t value = 0;
        if (cmd == "new") {
            if (!hasArg || !parseInt(arg, 0, 1, value)) {
                return scriptError(lineNo,
                                   "new takes an opening rule, 0 or 1" + given(hasArg, arg));
            }
            set.reset();
            set = newEngine(static_cast<uint32_t>(value), memoryLimit);
            if (!set) {
                return scriptError(lineNo, "the memory limit leaves no room for a new engine");
            }
            continue;
        }
        const bool takesArg = cmd == "grow" || cmd == "click";
        if (!takesArg && cmd != "computer" && cmd != "undo" && cmd != "rewind" && cmd != "dump") {
            return scriptError(lineNo, "unknown command " + quotedInput(cmd));
        }
        if (takesArg != hasArg) {
            return scriptError(lineNo,
                               takesArg ? cmd + " needs a number" : cmd + " takes no argument");
        }
        if (!set) {
            return scriptError(lineNo, cmd + " before new");
        }
        Gameboard& g = set->engine;
        if (cmd == "grow") {
            if (!parseInt(arg, 0, MaxGrowSteps, value)) {
                return scriptError(lineNo, "grow takes a count of steps, " +
                                               CommandLine::rangeText(0, MaxGrowSteps) +
                                               given(true, arg));
            }
            for (int64_t i = 0; i < value; ++i) {
                g.growStep();
            }
        } else if (cmd == "click") {
            if (!parseInt(arg, 0, CellCount - 1, value)) {
                return scriptError(lineNo, "click takes a cell from 0 to 224" + given(true, arg));
            }
            const bool played = g.playClicked(static_cast<CellIndex>(value));
            const uint8_t shown = set->orientationBits();
            std::printf("click %d -> %d flags %d %d %d\n", static_cast<int>(value), played ? 1 : 0,
                        (shown & FlipColumns) != 0, (shown & FlipRows) != 0,
                        (shown & Transposed) != 0);
        } else if (cmd == "computer") {
            const int plies = g.plyCount;
            const int32_t rating = g.computerMove();
            const int cell = g.plyCount > plies ? g.topPly().move : NoCell;
            std::printf("computer -> %d cell %d\n", rating, cell);
        } else if (cmd == "undo") {
            if (g.plyCount > 1) {
                g.undoMove();
            }
        } else if (cmd == "rewind") {
            g.rewindToRoot();
        } else {
            char line[200];
            set->tables.log.logLine(line, sizeof line);
            const Node* root = g.rootNode();
            const Node* top = g.topNode();
            std::printf("ply=%d top=%d rootCount=%u rootRating=%d topCount=%u topRating=%d "
                        "topCandidates=%d maxPly=%d hits=%" PRId64 " ageCollisions=%" PRId64
                        " chainMisses=%" PRId64 " bucketMisses=%" PRId64
                        " log=\"%s\" r10k=%d r20k=%d r10kL=%d r20kL=%d\n",
                        g.plyCount, g.topPly().move, root->count, root->rating, top->count,
                        top->rating, top->candidateCount, g.maxPlyReached, set->tables.log.hits,
                        set->tables.log.ageCollisions, set->tables.log.chainMisses,
                        set->tables.log.bucketMisses, line, set->tables.log.reached10000,
                        set->tables.log.reached20000, set->tables.log.reached10000Large,
                        set->tables.log.reached20000Large);
            g.listChildren();
            std::printf("children");
            for (int i = 0; i < g.childCount; ++i) {
                std::printf(" %d:%d:%u", g.childCells[i], g.childNodes[i]->rating,
                            g.childNodes[i]->count);
            }
            std::printf("\n");
        }
    }
    std::fflush(stdout);
    if (in.bad()) {
        std::cerr << "line " << lineNo + 1 << ": the script cannot be read\n";
        return 2;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Interactive game

class TerminalGame {
public:
    TerminalGame(std::unique_ptr<EngineSet> engine, uint32_t budget)
        : budgetNodes(budget * 1000u), set(std::move(engine)) {}

    int run(std::istream& in) {
        draw();
        std::string text;
        while (true) {
            std::cout << prompt() << std::flush;
            if (!std::getline(in, text)) {
                std::cout << "\n";
                return 0;
            }
            if (!command(text)) {
                return 0;
            }
        }
    }

private:
    Gameboard& g() { return set->engine; }

    int engineCell(int windowCell) const {
        return engineCellOf(windowCell, set->orientationBits());
    }

    static std::string name(int windowCell) {
        std::string s(1, static_cast<char>('a' + windowCell % BoardSide));
        return s + std::to_string(BoardSide - windowCell / BoardSide);
    }

    void draw() {
        const int last = g().topPly().move;
        std::cout << "\n    a b c d e f g h i j k l m n o\n";
        for (int row = 0; row < BoardSide; ++row) {
            char label[8];
            std::snprintf(label, sizeof label, "%2d ", BoardSide - row);
            std::string line = label;
            bool lastBefore = false;
            for (int col = 0; col < BoardSide; ++col) {
                const int e = engineCell(row * BoardSide + col);
                const bool isLast = e == last;
                line += isLast ? '(' : (lastBefore ? ')' : ' ');
                const uint8_t content = g().board[e];
                line += (content & Cross) ? 'X' : (content & Nought) ? 'O' : '.';
                lastBefore = isLast;
            }
            line += lastBefore ? ')' : ' ';
            std::cout << line << label << "\n";
        }
        std::cout << "    a b c d e f g h i j k l m n o\n";
        const Node* top = g().topNode();
        std::cout << "Positions searched: " << g().rootNode()->count << ", here: " << top->count
                  << ", rating for " << (g().plyCount % 2 ? 'X' : 'O') << ": " << top->rating
                  << "\n";
    }

    std::string prompt() { return std::string(g().plyCount % 2 ? "O" : "X") + " to move> "; }

    bool gameOver() {
        if (isFive(g().topNode()->rating)) {
            std::cout << (g().plyCount % 2 ? "X" : "O")
                      << " has five in a row. Take back, restart or quit.\n";
            return true;
        }
        if (g().plyCount >= CellCount) {
            std::cout << "The board is full: a draw. Take back, restart or quit.\n";
            return true;
        }
        return false;
    }

    void noticeMemoryLimit() {
        if (!limitNoticed && set->tables.table.limitReached()) {
            limitNoticed = true;
            std::cout << "Memory limit reached: the computer has stopped thinking ahead. The "
                         "game goes on.\n";
        }
    }

    void computerTurn() {
        std::cout << "Thinking..." << std::flush;
        thinkUntilReady(g(), budgetNodes);
        std::cout << "\r";
        noticeMemoryLimit();
        const int before = g().plyCount;
        int32_t rating;
        {
            const ReserveForPlay room(set->tables.table);
            rating = g().computerMove();
        }
        if (g().plyCount == before) {
            std::cout << "The computer finds no move here.\n";
            return;
        }
        int shown = 0;
        for (int w = 0; w < CellCount; ++w) {
            if (engineCell(w) == g().topPly().move) {
                shown = w;
            }
        }
        std::cout << "Computer plays " << name(shown) << " (rating " << rating << ").\n";
        draw();
        gameOver();
    }

    bool command(const std::string& raw) {
        std::string text;
        for (char c : raw) {
            if (!std::isspace(static_cast<unsigned char>(c))) {
                text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        if (text.empty()) {
            return true;
        }
        if (text == "q" || text == "quit" || text == "exit") {
            return false;
        }
        if (text == "help" || text == "?") {
            std::cout << "Type a cell such as h8 to play there; move (m) lets the computer play "
                         "the side to move;\nback (b) takes back a move; restart (r) starts "
                         "again; board shows the board; quit (q) ends.\n";
            return true;
        }
        if (text == "board") {
            draw();
            return true;
        }
        if (text == "m" || text == "move") {
            if (!gameOver()) {
                computerTurn();
            }
            return true;
        }
        if (text == "b" || text == "back" || text == "undo") {
            if (g().plyCount > 1) {
                g().undoMove();
                draw();
            } else {
                std::cerr << "Nothing to take back: the centre stone opens every game.\n";
            }
            return true;
        }
        if (text == "r" || text == "restart") {
            g().rewindToRoot();
            draw();
            return true;
        }
        if (text.size() >= 2 && text[0] >= 'a' && text[0] <= 'z' &&
            std::isdigit(static_cast<unsigned char>(text[1]))) {
            int64_t row = 0;
            if (text[0] > 'o' || !parseInt(std::string_view(text).substr(1), 1, 15, row)) {
                std::cerr << quotedInput(raw) << " is off the board: columns a-o, rows 1-15.\n";
                return true;
            }
            const int w = static_cast<int>((BoardSide - row) * BoardSide + (text[0] - 'a'));
            const int e = engineCell(w);
            if (g().board[e] & (Cross | Nought)) {
                std::cerr << name(w) << " is taken.\n";
                return true;
            }
            if (gameOver()) {
                return true;
            }
            bool played;
            {
                // The computer may have moved into a position the search never opened: open it
                // as the computer's own move would, so that the click finds its position.
                const ReserveForPlay room(set->tables.table);
                if (g().topNode()->candidateCount == 0) {
                    g().expand();
                }
                played = g().playClicked(static_cast<CellIndex>(e));
            }
            if (!played) {
                std::cerr << name(w)
                          << " is not a move here: too far from the stones, or barred by the "
                             "opening rule.\n";
                return true;
            }
            draw();
            if (!gameOver()) {
                computerTurn();
            }
            return true;
        }
        std::cerr << "Unknown command " << quotedInput(raw) << ". Type help for the commands.\n";
        return true;
    }

    uint32_t budgetNodes;
    std::unique_ptr<EngineSet> set;
    bool limitNoticed = false;
};

// Asks until the answer is 0 or 1, an empty answer taking the default 0; nothing when the
// input ends first.
std::optional<uint32_t> askRule(std::istream& in) {
    std::cout << "Opening rule: 0 = free, 1 = crosses may not put their second stone in the "
                 "central 5x5 square.\n";
    std::string answer;
    while (true) {
        std::cout << "Rule [0]: " << std::flush;
        if (!std::getline(in, answer)) {
            std::cout << "\n";
            return std::nullopt;
        }
        const std::size_t first = answer.find_first_not_of(" \t\r");
        const std::string_view a = first == std::string::npos
                                       ? std::string_view()
                                       : std::string_view(answer).substr(
                                             first, answer.find_last_not_of(" \t\r") + 1 - first);
        if (a.empty() || a == "0") {
            return 0;
        }
        if (a == "1") {
            return 1;
        }
        std::cerr << "The opening rule is 0 or 1, not " << quotedInput(answer) << ".\n";
    }
}

const char* const ScriptHelp =
    R"(Without --script, a game in the terminal: type help at its prompt for the commands.

Script commands, one a line, # starting a comment, and what each prints:
  new RULE       a fresh engine with opening rule 0 or 1; prints nothing
  grow N         N growth steps, 0 to 100000000; prints nothing
  click CELL     offers engine cell CELL (0 to 224, row x 15 + column) as a click:
                   click CELL -> 0|1 flags FC FR T
                 1 when played; FC FR T: the display's column flip, row flip and
                 transposition after the click, each 0 or 1
  computer       the computer's move:
                   computer -> RATING cell CELL
                 (RATING -32600 and CELL 255 when there is no move)
  undo           takes back a move, never the centre stone; prints nothing
  rewind         goes back to the centre stone; prints nothing
  dump           the position, the table's statistics and the top position's children:
                   ply=N top=CELL rootCount=N rootRating=R topCount=N topRating=R
                   topCandidates=N maxPly=N hits=N ageCollisions=N chainMisses=N
                   bucketMisses=N log="TEXT" r10k=N r20k=N r10kL=N r20kL=N
                   children CELL:RATING:COUNT ...
                 (the first of the two lines is printed as one line)

Exit status: 0 when done, 2 for a bad option or script line (a script error
reads "line N: what" on standard error), 1 when memory runs out.
)";

int runScriptFile(const std::string& path, uint64_t memoryLimit) {
    if (path == "-") {
        return runScript(std::cin, memoryLimit);
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        std::cerr << "korvalt-cli: cannot read the script " << quotedInput(path)
                  << ": it is a directory\n";
        return 2;
    }
    std::ifstream file(path);
    if (!file) {
        std::cerr << "korvalt-cli: cannot read the script " << quotedInput(path) << ": "
                  << std::strerror(errno) << "\n";
        return 2;
    }
    return runScript(file, memoryLimit);
}

} // namespace

int main(int argc, char** argv) {
    int64_t budget = DefaultBudget;
    int64_t rule = -1;
    int64_t memoryMegabytes = 0;
    std::optional<std::string> script;
    CommandLine line("korvalt-cli", "Five in a row against the computer in a terminal, or a "
                                    "script of engine commands.");
    line.number("--rule", "0|1", 0, 1,
                "opening rule: 0 free, 1 the crosses' second stone outside the central 5x5 "
                "square; asked when not given",
                rule);
    line.number("--budget", "THOUSANDS", 1, MaxBudget,
                "thousands of positions the computer searches before it moves, 175 unless "
                "given",
                budget);
    line.number("--memory", "MB", 1, MaxMemoryMegabytes,
                "megabytes the search's table may hold; no limit unless given", memoryMegabytes);
    line.text("--script", "FILE", "run the engine commands in FILE (- for standard input) and exit",
              script);
    line.addHelpSection(ScriptHelp);
    if (const std::optional<int> status = line.parse(argc, argv, std::cout, std::cerr)) {
        return *status;
    }
    const uint64_t memoryLimit =
        memoryMegabytes > 0 ? static_cast<uint64_t>(memoryMegabytes) << 20 : NodeTable::NoLimit;
    try {
        if (script) {
            return runScriptFile(*script, memoryLimit);
        }
        std::cout << "Korvalt: five in a row on a 15x15 board. To win, put 5 (or more) moves in "
                     "a straight line.\nCrosses open on the centre; you play noughts unless you "
                     "type move.\n";
        if (rule < 0) {
            const std::optional<uint32_t> asked = askRule(std::cin);
            if (!asked) {
                return 0;
            }
            rule = *asked;
        }
        std::cout << "Opening rule " << rule << ".\n";
        std::unique_ptr<EngineSet> engine = newEngine(static_cast<uint32_t>(rule), memoryLimit);
        if (!engine) {
            std::cerr << "korvalt-cli: --memory " << memoryMegabytes
                      << " leaves no room for the first position\n";
            return 2;
        }
        TerminalGame game(std::move(engine), static_cast<uint32_t>(budget));
        return game.run(std::cin);
    } catch (const std::bad_alloc&) {
        std::cerr << "korvalt-cli: out of memory\n";
        return 1;
    }
}
