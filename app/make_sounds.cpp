// Writes the game's three sounds as small 16-bit mono WAV files: a bright tick for crosses,
// a softer one for noughts, and a rising three-note phrase for the end of a game.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 22050;
constexpr double Pi = 3.14159265358979323846;

void tone(std::vector<int16_t>& out, double hz, double seconds, double volume) {
    const int n = static_cast<int>(seconds * Rate);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / Rate;
        const double attack = std::fmin(1.0, t / 0.004);
        const double decay = std::exp(-t * 6.0 / seconds);
        const double v = std::sin(2 * Pi * hz * t) + 0.3 * std::sin(4 * Pi * hz * t);
        out.push_back(static_cast<int16_t>(v * attack * decay * volume * 20000.0));
    }
}

void put32(std::FILE* f, uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

void put16(std::FILE* f, uint16_t v) {
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

bool write(const std::string& path, const std::vector<int16_t>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1); // PCM
    put16(f, 1); // mono
    put32(f, Rate);
    put32(f, Rate * 2);
    put16(f, 2);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    for (int16_t s : samples) {
        put16(f, static_cast<uint16_t>(s));
    }
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvalt-make-sounds FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<int16_t> cross, nought, over;
    tone(cross, 1320, 0.09, 0.8);
    tone(nought, 660, 0.12, 0.8);
    tone(over, 523.25, 0.18, 0.9);
    tone(over, 659.25, 0.18, 0.9);
    tone(over, 783.99, 0.45, 0.9);
    const bool ok = write(dir + "/x.wav", cross) && write(dir + "/o.wav", nought) &&
                    write(dir + "/gameover.wav", over);
    return ok ? 0 : 1;
}
