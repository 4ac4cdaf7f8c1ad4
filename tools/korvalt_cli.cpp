// Korvalt in a terminal: a whole game against the engine, or a script of engine commands for
// reproducible runs.

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "Autoplay.h"

namespace {

constexpr uint32_t DefaultBudget = 175;

bool parseInt(const std::string& text, long min, long max, long& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v < min || v > max) {
        return false;
    }
    out = v;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Script mode

int scriptError(int line, const std::string& what) {
    std::cerr << "line " << line << ": " << what << "\n";
    return 2;
}

int runScript(std::istream& in) {
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
            return scriptError(lineNo, "too many arguments to " + cmd);
        }
        long value = 0;
        if (cmd == "new") {
            if (!hasArg || !parseInt(arg, 0, 1, value)) {
                return scriptError(lineNo, "new takes an opening rule, 0 or 1");
            }
            set.reset();
            set = std::make_unique<EngineSet>(static_cast<uint32_t>(value));
            continue;
        }
        const bool takesArg = cmd == "grow" || cmd == "click";
        if (!takesArg && cmd != "computer" && cmd != "undo" && cmd != "rewind" && cmd != "dump") {
            return scriptError(lineNo, "unknown command " + cmd);
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
            if (!parseInt(arg, 0, 100000000, value)) {
                return scriptError(lineNo, "grow takes a count of steps");
            }
            for (long i = 0; i < value; ++i) {
                g.growStep();
            }
        } else if (cmd == "click") {
            if (!parseInt(arg, 0, CellCount - 1, value)) {
                return scriptError(lineNo, "click takes a cell from 0 to 224");
            }
            const bool played = g.playClicked(static_cast<CellIndex>(value));
            const uint8_t shown = set->orientationBits();
            std::printf("click %ld -> %d flags %d %d %d\n", value, played ? 1 : 0,
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
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Interactive game

class TerminalGame {
public:
    TerminalGame(uint32_t openingRule, uint32_t budget) : budgetNodes(budget * 1000u) {
        start(openingRule);
    }

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
    void start(uint32_t newRule) {
        rule = newRule;
        set = std::make_unique<EngineSet>(rule);
    }

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
        if (g().topNode()->rating >= 32600) {
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

    void computerTurn() {
        std::cout << "Thinking..." << std::flush;
        thinkUntilReady(g(), budgetNodes);
        const int before = g().plyCount;
        const int32_t rating = g().computerMove();
        std::cout << "\r";
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
                std::cout << "Nothing to take back: the centre stone opens every game.\n";
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
            long row = 0;
            if (text[0] > 'o' || !parseInt(text.substr(1), 1, 15, row)) {
                std::cout << raw << " is off the board: columns a-o, rows 1-15.\n";
                return true;
            }
            const int w = static_cast<int>((BoardSide - row) * BoardSide + (text[0] - 'a'));
            const int e = engineCell(w);
            if (g().board[e] & (Cross | Nought)) {
                std::cout << name(w) << " is taken.\n";
                return true;
            }
            if (gameOver()) {
                return true;
            }
            if (!g().playClicked(static_cast<CellIndex>(e))) {
                std::cout << name(w)
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
        std::cout << "Unknown command '" << raw << "'. Type help for the commands.\n";
        return true;
    }

    uint32_t rule = 0;
    uint32_t budgetNodes;
    std::unique_ptr<EngineSet> set;
};

void usage(std::ostream& out) {
    out << "usage: korvalt-cli [--rule 0|1] [--budget THOUSANDS] [--script FILE|-]\n";
}

} // namespace

int main(int argc, char** argv) {
    long budget = DefaultBudget;
    long rule = -1;
    const char* script = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--script" && hasValue) {
            script = argv[++i];
        } else if (a == "--budget" && hasValue) {
            if (!parseInt(argv[++i], 1, 1000000, budget)) {
                std::cerr << "--budget takes a positive number of thousands\n";
                return 2;
            }
        } else if (a == "--rule" && hasValue) {
            if (!parseInt(argv[++i], 0, 1, rule)) {
                std::cerr << "--rule takes 0 or 1\n";
                return 2;
            }
        } else if (a == "--help" || a == "-h") {
            usage(std::cout);
            return 0;
        } else {
            usage(std::cerr);
            return 2;
        }
    }
    try {
        if (script != nullptr) {
            if (std::strcmp(script, "-") == 0) {
                return runScript(std::cin);
            }
            std::ifstream file(script);
            if (!file) {
                std::cerr << "cannot open " << script << "\n";
                return 2;
            }
            return runScript(file);
        }
        std::cout << "Korvalt: five in a row on a 15x15 board. To win, put 5 (or more) moves in "
                     "a straight line.\nCrosses open on the centre; you play noughts unless you "
                     "type move.\n";
        if (rule < 0) {
            std::cout << "Opening rule: 0 = free, 1 = crosses may not put their second stone in "
                         "the central 5x5 square.\nRule [0]: "
                      << std::flush;
            std::string answer;
            std::getline(std::cin, answer);
            rule = (answer.find('1') != std::string::npos) ? 1 : 0;
        }
        TerminalGame game(static_cast<uint32_t>(rule), static_cast<uint32_t>(budget));
        return game.run(std::cin);
    } catch (const std::bad_alloc&) {
        std::cerr << "out of memory\n";
        return 1;
    }
}
