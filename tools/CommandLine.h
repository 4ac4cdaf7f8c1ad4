#pragma once

// The command line of every program: named options, whole numbers read with their
// ranges, --help, -h and --version, and one-line messages for anything refused.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// Why a text is not a number of the range asked for.
enum class NumberError : uint8_t {
    None,
    NotANumber, ///< empty, a sign alone, spaces, a fraction or trailing text
    OutOfRange, ///< a whole number, but outside the range or beyond 64 bits
};

struct ParsedNumber {
    int64_t value; ///< 0 unless error is None
    NumberError error;
};

/// Reads a whole decimal number with an optional leading minus and nothing else around it,
/// and keeps it only if it lies in [min, max]. A number too long for 64 bits is out of range,
/// never wrapped.
ParsedNumber parseNumber(std::string_view text, int64_t min, int64_t max);

/// Quotes user input for a message: at most `limit` bytes of it in double quotes, quotes,
/// backslashes, control bytes and bytes above 126 escaped, and "..." after it when cut. A
/// huge or binary input thus gives a short line of plain text.
std::string quotedInput(std::string_view text, std::size_t limit = 40);

class CommandLine {
public:
    /// `program` names the tool in messages, in the usage line and in --version.
    CommandLine(std::string program, std::string summary);

    /// An option without a value that sets target to true.
    void flag(std::string name, std::string help, bool& target);
    /// An option taking a whole number in [min, max]; target keeps its value unless given.
    void number(std::string name, std::string valueName, int64_t min, int64_t max, std::string help,
                int64_t& target);
    /// An option taking any non-empty text.
    void text(std::string name, std::string valueName, std::string help,
              std::optional<std::string>& target);
    /// Text printed after the options in --help.
    void addHelpSection(std::string text);

    /// The status the program should exit with at once (0 after --help or --version, 2 after
    /// a message on err), or nothing when it should run. Values come as "--name value" or
    /// "--name=value"; the last of a repeated option wins.
    std::optional<int> parse(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

    void printHelp(std::ostream& out) const;
    /// The range of a number option in words, as the help and the messages give it.
    static std::string rangeText(int64_t min, int64_t max);

private:
    enum class Kind : uint8_t { Flag, Number, Text };
    struct Option {
        std::string name;
        std::string valueName;
        std::string help;
        Kind kind;
        int64_t min = 0;
        int64_t max = 0;
        bool* flag = nullptr;
        int64_t* number = nullptr;
        std::optional<std::string>* text = nullptr;
    };

    const Option* find(std::string_view name) const;
    int refuse(std::ostream& err, const std::string& message) const;
    /// Stores a value for an option that takes one; 2 after a message, else nothing.
    std::optional<int> store(const Option& o, std::string_view value, std::ostream& err) const;

    std::string program;
    std::string summary;
    std::vector<Option> options;
    std::vector<std::string> helpSections;
};
