#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "KorvaltVersion.h"

namespace {

TEST(CommandLine, NumbersAreReadWithinTheirRangeAndNeverWrapped) {
    constexpr int64_t Max = INT64_MAX;
    constexpr int64_t Min = INT64_MIN;
    struct Case {
        const char* text;
        int64_t min, max;
        NumberError error;
        int64_t value;
    };
    const Case cases[] = {
        {"0", 0, 1, NumberError::None, 0},
        {"1", 0, 1, NumberError::None, 1},
        {"2", 0, 1, NumberError::OutOfRange, 0},
        {"-1", 0, 1, NumberError::OutOfRange, 0},
        {"-5", -10, 10, NumberError::None, -5},
        {"007", 0, 10, NumberError::None, 7},
        {"4294967", 1, 4294967, NumberError::None, 4294967},
        // One more than the budget's top, which would wrap a 32-bit count of Nodes.
        {"4294968", 1, 4294967, NumberError::OutOfRange, 0},
        {"4294967296", 0, 4294967295, NumberError::OutOfRange, 0},
        {"9223372036854775807", 0, Max, NumberError::None, Max},
        {"9223372036854775808", 0, Max, NumberError::OutOfRange, 0},
        {"-9223372036854775808", Min, Max, NumberError::None, Min},
        {"-9223372036854775809", Min, Max, NumberError::OutOfRange, 0},
        {"99999999999999999999", 0, 100000000, NumberError::OutOfRange, 0},
        {"18446744073709551616", 0, Max, NumberError::OutOfRange, 0},
        {"", 0, 10, NumberError::NotANumber, 0},
        {"-", 0, 10, NumberError::NotANumber, 0},
        {"+5", 0, 10, NumberError::NotANumber, 0},
        {" 5", 0, 10, NumberError::NotANumber, 0},
        {"5 ", 0, 10, NumberError::NotANumber, 0},
        {"5x", 0, 10, NumberError::NotANumber, 0},
        {"5.0", 0, 10, NumberError::NotANumber, 0},
        {"0x10", 0, 100, NumberError::NotANumber, 0},
        {"1e3", 0, 10000, NumberError::NotANumber, 0},
        {"abc", 0, 10, NumberError::NotANumber, 0},
    };
    for (const Case& c : cases) {
        const ParsedNumber n = parseNumber(c.text, c.min, c.max);
        EXPECT_EQ(n.error, c.error) << '"' << c.text << '"';
        EXPECT_EQ(n.value, c.value) << '"' << c.text << '"';
    }
}

TEST(CommandLine, QuotedInputIsShortAndPrintable) {
    // Expected texts are built by appending: GCC 12 warns falsely on prepending to a string.
    const auto inQuotes = [](const std::string& inner, const char* after) {
        std::string s = "\"";
        s += inner;
        s += '"';
        s += after;
        return s;
    };
    std::string forty01;
    for (int i = 0; i < 40; ++i) {
        forty01 += "\\x01";
    }
    struct Case {
        std::string text;
        std::string quoted;
    };
    const Case cases[] = {
        {"zz", "\"zz\""},
        {"", "\"\""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {std::string("a\0b\x7f\xff\t\r\n", 8), "\"a\\x00b\\x7f\\xff\\t\\r\\n\""},
        {std::string(40, 'x'), inQuotes(std::string(40, 'x'), "")},
        {std::string(41, 'x'), inQuotes(std::string(40, 'x'), "...")},
        {std::string(10 << 20, '\x01'), inQuotes(forty01, "...")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quotedInput(c.text), c.quoted);
    }
}

struct Tool {
    int64_t steps = 50;
    int64_t rule = -1;
    bool json = false;
    std::optional<std::string> script;

    CommandLine line{"tool", "A tool for tests."};
    std::ostringstream out, err;

    Tool() {
        line.number("--steps", "N", 0, 1000, "growth steps", steps);
        line.number("--rule", "0|1", 0, 1, "opening rule", rule);
        line.flag("--json", "JSON", json);
        line.text("--script", "FILE", "a script", script);
        line.addHelpSection("Script commands: none.\n");
    }
    std::optional<int> parse(std::vector<const char*> args) {
        args.insert(args.begin(), "tool");
        return line.parse(static_cast<int>(args.size()), args.data(), out, err);
    }
};

TEST(CommandLine, GoodArgumentsAreStoredAndTheToolRuns) {
    Tool t;
    EXPECT_EQ(t.parse({"--steps", "1000", "--json", "--rule=1", "--script", "-"}), std::nullopt);
    EXPECT_EQ(t.steps, 1000);
    EXPECT_EQ(t.rule, 1);
    EXPECT_TRUE(t.json);
    EXPECT_EQ(t.script, "-");
    EXPECT_EQ(t.out.str(), "");
    EXPECT_EQ(t.err.str(), "");

    Tool last;
    EXPECT_EQ(last.parse({"--steps", "3", "--steps=0"}), std::nullopt);
    EXPECT_EQ(last.steps, 0);
    EXPECT_EQ(last.rule, -1) << "an option not given keeps its default";
}

TEST(CommandLine, BadArgumentsGiveOneLineNamingTheProblemAndStatus2) {
    struct Case {
        std::vector<const char*> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--steps", "1001"}, "tool: --steps takes a whole number from 0 to 1000, not \"1001\"\n"},
        {{"--steps", "99999999999999999999"},
         "tool: --steps takes a whole number from 0 to 1000, not \"99999999999999999999\"\n"},
        {{"--steps=-1"}, "tool: --steps takes a whole number from 0 to 1000, not \"-1\"\n"},
        {{"--rule", "x"}, "tool: --rule takes a whole number from 0 to 1, not \"x\"\n"},
        {{"--steps"}, "tool: --steps needs a value: N, a whole number from 0 to 1000\n"},
        {{"--steps="}, "tool: --steps takes a whole number from 0 to 1000, not \"\"\n"},
        {{"--script"}, "tool: --script needs a value: FILE\n"},
        {{"--script="}, "tool: --script needs a non-empty FILE\n"},
        {{"--json=1"}, "tool: --json takes no value\n"},
        {{"--frobnicate"},
         "tool: unknown option \"--frobnicate\" (tool --help lists the options)\n"},
        {{"--frob=1"}, "tool: unknown option \"--frob\" (tool --help lists the options)\n"},
        {{"-x"}, "tool: unknown option \"-x\" (tool --help lists the options)\n"},
        {{"--"}, "tool: unknown option \"--\" (tool --help lists the options)\n"},
        {{"steps"}, "tool: unexpected argument \"steps\" (tool --help lists the options)\n"},
        {{"-"}, "tool: unexpected argument \"-\" (tool --help lists the options)\n"},
        {{"--steps", "5", "--rule", "2", "--json"},
         "tool: --rule takes a whole number from 0 to 1, not \"2\"\n"},
    };
    for (const Case& c : cases) {
        Tool t;
        EXPECT_EQ(t.parse(c.args), 2) << c.message;
        EXPECT_EQ(t.err.str(), c.message);
        EXPECT_EQ(t.out.str(), "");
    }
}

TEST(CommandLine, HelpAndVersionPrintOnStandardOutputAndStop) {
    for (const char* help : {"-h", "--help"}) {
        Tool t;
        EXPECT_EQ(t.parse({"--steps", "5", help, "--bad"}), 0);
        EXPECT_EQ(t.err.str(), "");
        const std::string text = t.out.str();
        EXPECT_EQ(text.rfind("usage: tool [OPTION]...\nA tool for tests.\n", 0), 0u) << text;
        for (const char* shown : {"--steps N", "growth steps (0 to 1000)", "--rule 0|1", "--json",
                                  "--script FILE", "--version", "Script commands"}) {
            EXPECT_NE(text.find(shown), std::string::npos) << shown;
        }
    }
    Tool t;
    EXPECT_EQ(t.parse({"--version"}), 0);
    EXPECT_EQ(t.out.str(), std::string("tool ") + KorvaltVersion + "\n");
    EXPECT_EQ(t.err.str(), "");
}

} // namespace
