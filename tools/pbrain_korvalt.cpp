// Korvalt's engine for gomoku managers and analysis boards: the engine protocol of the
// computer gomoku tournament on standard input and output.

#include <cstdint>
#include <iostream>
#include <new>
#include <optional>

#include "CommandLine.h"
#include "Pbrain.h"

namespace {

// Budget x 1000 is a Node count, which must fit 32 bits.
constexpr int64_t MaxBudget = UINT32_MAX / 1000;

const char* const ProtocolHelp =
    R"(Commands answered on standard input, one a line (CR LF or LF):
  START 15, RECTSTART 15,15, RESTART     a new game; OK, or ERROR for another size
  BEGIN                                  plays the centre, 7,7
  TURN x,y                               the opponent's stone; answers Korvalt's x,y
  BOARD, lines x,y,field, DONE           a position (field 1 own, 2 the opponent's),
                                         replayed from the centre; answers x,y
  TAKEBACK x,y                           takes back the last stone; OK
  INFO key value                         timeout_turn, timeout_match, time_left,
                                         max_memory, rule, game_type; no answer
  ABOUT                                  name, version, author, country, www, email
  END                                    stops the program
x is the column and y the row, from 0 at the top left. Korvalt plays a 15x15 board,
rule 0 (five or more in a row wins), and games that open on the centre; it answers
ERROR with the reason otherwise, and UNKNOWN to anything else.

Exit status: 0 at END or the end of the input, 2 for a bad option, 1 when memory
runs out.
)";

} // namespace

int main(int argc, char** argv) {
    int64_t budget = 0;
    bool debug = false;
    CommandLine line("pbrain-korvalt", "Korvalt's engine for gomoku managers: the engine "
                                       "protocol of the computer gomoku tournament on "
                                       "standard input and output.");
    line.number("--budget", "THOUSANDS", 1, MaxBudget,
                "thousands of positions searched before each move, as the game window does, "
                "instead of the manager's time limits",
                budget);
    line.flag("--debug", "before each move, a DEBUG line with where its time went", debug);
    line.addHelpSection(ProtocolHelp);
    if (const std::optional<int> status = line.parse(argc, argv, std::cout, std::cerr)) {
        return *status;
    }
    try {
        Pbrain brain(std::cout, PbrainOptions{static_cast<uint32_t>(budget), debug});
        brain.run(std::cin);
    } catch (const std::bad_alloc&) {
        std::cerr << "pbrain-korvalt: out of memory\n";
        return 1;
    }
    return 0;
}
