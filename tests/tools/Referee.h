#pragma once

// The tests' own record of a game of five in a row on a 15x15 board, kept apart from the
// engine so that every answer can be checked against it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Move {
    int x;
    int y;
    bool operator==(const Move&) const = default;
};

/// Reads an engine's answer "x,y"; nothing when it is anything else.
inline std::optional<Move> parseMove(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || comma == 0 || comma + 1 >= text.size()) {
        return std::nullopt;
    }
    const auto number = [](std::string_view s) -> std::optional<int> {
        if (s.empty() || s.size() > 3) {
            return std::nullopt;
        }
        int v = 0;
        for (const char c : s) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            v = v * 10 + (c - '0');
        }
        return v;
    };
    const std::optional<int> x = number(text.substr(0, comma));
    const std::optional<int> y = number(text.substr(comma + 1));
    if (!x || !y) {
        return std::nullopt;
    }
    return Move{*x, *y};
}

class RefereeBoard {
public:
    static constexpr int Side = 15;

    void clear() {
        moves.clear();
        for (auto& row : cells) {
            for (int& c : row) {
                c = 0;
            }
        }
    }

    static bool onBoard(Move m) { return m.x >= 0 && m.y >= 0 && m.x < Side && m.y < Side; }
    bool isFree(Move m) const { return onBoard(m) && cells[m.y][m.x] == 0; }
    /// 1 the first player's stone, 2 the second's, 0 none.
    int at(int x, int y) const { return cells[y][x]; }
    int stones() const { return static_cast<int>(moves.size()); }
    int sideToMove() const { return moves.size() % 2 == 0 ? 1 : 2; }
    const std::vector<Move>& history() const { return moves; }

    /// Places the side to move's stone; false, with nothing changed, on a taken or outside cell.
    bool play(Move m) {
        if (!isFree(m)) {
            return false;
        }
        cells[m.y][m.x] = sideToMove();
        moves.push_back(m);
        return true;
    }

    void undo() {
        const Move m = moves.back();
        cells[m.y][m.x] = 0;
        moves.pop_back();
    }

    /// Whether the stone on m stands in five or more of its colour.
    bool fiveThrough(Move m) const {
        const int colour = cells[m.y][m.x];
        if (colour == 0) {
            return false;
        }
        static constexpr int Steps[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
        for (const auto& d : Steps) {
            int run = 1;
            for (const int sign : {1, -1}) {
                Move p{m.x + sign * d[0], m.y + sign * d[1]};
                while (onBoard(p) && cells[p.y][p.x] == colour) {
                    ++run;
                    p = {p.x + sign * d[0], p.y + sign * d[1]};
                }
            }
            if (run >= 5) {
                return true;
            }
        }
        return false;
    }

    /// Free cells next to a stone, which the engine always has within reach.
    std::vector<Move> freeNeighbours() const {
        std::vector<Move> out;
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                if (cells[y][x] != 0) {
                    continue;
                }
                bool near = false;
                for (int dy = -1; dy <= 1 && !near; ++dy) {
                    for (int dx = -1; dx <= 1 && !near; ++dx) {
                        const Move n{x + dx, y + dy};
                        near = onBoard(n) && cells[n.y][n.x] != 0;
                    }
                }
                if (near) {
                    out.push_back({x, y});
                }
            }
        }
        return out;
    }

private:
    int cells[Side][Side] = {};
    std::vector<Move> moves;
};

inline std::string moveText(Move m) {
    return std::to_string(m.x) + "," + std::to_string(m.y);
}
