#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <utility>

#include "KorvaltVersion.h"

ParsedNumber parseNumber(std::string_view text, int64_t min, int64_t max) {
    int64_t v = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes no plus sign and no spaces, and reports overflow instead of wrapping.
    const std::from_chars_result r = std::from_chars(first, last, v);
    if (r.ptr != last || r.ec == std::errc::invalid_argument || text.empty()) {
        return {0, NumberError::NotANumber};
    }
    if (r.ec == std::errc::result_out_of_range || v < min || v > max) {
        return {0, NumberError::OutOfRange};
    }
    return {v, NumberError::None};
}

std::string quotedInput(std::string_view text, std::size_t limit) {
    static constexpr char Hex[] = "0123456789abcdef";
    const bool cut = text.size() > limit;
    if (cut) {
        text = text.substr(0, limit);
    }
    std::string s = "\"";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (c == '\n') {
            s += "\\n";
        } else if (c == '\r') {
            s += "\\r";
        } else if (c == '\t') {
            s += "\\t";
        } else if (b < 0x20 || b > 0x7e) {
            s += "\\x";
            s += Hex[b >> 4];
            s += Hex[b & 15];
        } else {
            s += c;
        }
    }
    s += '"';
    if (cut) {
        s += "...";
    }
    return s;
}

CommandLine::CommandLine(std::string programName, std::string programSummary)
    : program(std::move(programName)), summary(std::move(programSummary)) {}

void CommandLine::flag(std::string name, std::string help, bool& target) {
    Option o{std::move(name), {}, std::move(help), Kind::Flag};
    o.flag = &target;
    options.push_back(std::move(o));
}

void CommandLine::number(std::string name, std::string valueName, int64_t min, int64_t max,
                         std::string help, int64_t& target) {
    Option o{std::move(name), std::move(valueName), std::move(help), Kind::Number, min, max};
    o.number = &target;
    options.push_back(std::move(o));
}

void CommandLine::text(std::string name, std::string valueName, std::string help,
                       std::optional<std::string>& target) {
    Option o{std::move(name), std::move(valueName), std::move(help), Kind::Text};
    o.text = &target;
    options.push_back(std::move(o));
}

void CommandLine::addHelpSection(std::string text) {
    helpSections.push_back(std::move(text));
}

std::string CommandLine::rangeText(int64_t min, int64_t max) {
    return "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

const CommandLine::Option* CommandLine::find(std::string_view name) const {
    for (const Option& o : options) {
        if (o.name == name) {
            return &o;
        }
    }
    return nullptr;
}

int CommandLine::refuse(std::ostream& err, const std::string& message) const {
    err << program << ": " << message << "\n";
    return 2;
}

std::optional<int> CommandLine::store(const Option& o, std::string_view value,
                                      std::ostream& err) const {
    if (o.kind == Kind::Text) {
        if (value.empty()) {
            return refuse(err, o.name + " needs a non-empty " + o.valueName);
        }
        *o.text = std::string(value);
        return std::nullopt;
    }
    const ParsedNumber n = parseNumber(value, o.min, o.max);
    if (n.error != NumberError::None) {
        return refuse(err,
                      o.name + " takes " + rangeText(o.min, o.max) + ", not " + quotedInput(value));
    }
    *o.number = n.value;
    return std::nullopt;
}

std::optional<int> CommandLine::parse(int argc, const char* const* argv, std::ostream& out,
                                      std::ostream& err) {
    const std::string seeHelp = " (" + program + " --help lists the options)";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printHelp(out);
            return 0;
        }
        if (arg == "--version") {
            out << program << " " << KorvaltVersion << "\n";
            return 0;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            return refuse(err, "unexpected argument " + quotedInput(arg) + seeHelp);
        }
        const std::size_t equals = arg.find('=');
        const Option* o = find(arg.substr(0, equals));
        if (o == nullptr) {
            return refuse(err, "unknown option " + quotedInput(arg.substr(0, equals)) + seeHelp);
        }
        if (o->kind == Kind::Flag) {
            if (equals != std::string_view::npos) {
                return refuse(err, o->name + " takes no value");
            }
            *o->flag = true;
            continue;
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            const std::string what =
                o->kind == Kind::Number ? ", " + rangeText(o->min, o->max) : std::string();
            return refuse(err, o->name + " needs a value: " + o->valueName + what);
        }
        if (const std::optional<int> status = store(*o, value, err)) {
            return status;
        }
    }
    return std::nullopt;
}

namespace {

// Writes text in lines of at most 80 columns, starting at column `at` and continuing each
// further line at column `indent`.
void writeWrapped(std::ostream& out, std::string_view text, std::size_t at, std::size_t indent) {
    constexpr std::size_t Width = 80;
    bool lineStart = true;
    while (!text.empty()) {
        const std::size_t word = std::min(text.find(' '), text.size());
        if (!lineStart && at + 1 + word > Width) {
            out << "\n" << std::string(indent, ' ');
            at = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out << ' ';
            ++at;
        }
        out << text.substr(0, word);
        at += word;
        lineStart = false;
        text.remove_prefix(std::min(word + 1, text.size()));
    }
    out << "\n";
}

} // namespace

void CommandLine::printHelp(std::ostream& out) const {
    out << "usage: " << program << " [OPTION]...\n";
    writeWrapped(out, summary, 0, 0);
    out << "\nOptions:\n";
    // The option in the left column, its help wrapped in the right one.
    const auto line = [&out](const std::string& left, const std::string& help) {
        constexpr std::size_t Column = 24;
        out << "  " << left;
        if (2 + left.size() >= Column) {
            out << "\n" << std::string(Column, ' ');
        } else {
            out << std::string(Column - 2 - left.size(), ' ');
        }
        writeWrapped(out, help, Column, Column);
    };
    for (const Option& o : options) {
        const std::string left = o.kind == Kind::Flag ? o.name : o.name + " " + o.valueName;
        const std::string range = o.kind == Kind::Number ? " (" + std::to_string(o.min) + " to " +
                                                               std::to_string(o.max) + ")"
                                                         : std::string();
        line(left, o.help + range);
    }
    line("-h, --help", "print this help and exit");
    line("--version", "print the version and exit");
    for (const std::string& s : helpSections) {
        out << "\n" << s;
    }
}
