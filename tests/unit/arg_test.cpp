#include "app/arg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "support/capture.h"

namespace {

// A parse of the program's own table, with the run's end caught as an exception.
struct Parsed {
    option_table options;
    arg_block block;
    std::string output;
    std::optional<int> exit_status;
};

Parsed parse(std::vector<std::string> args) {
    Parsed p;
    build_option_table(p.options);
    p.block = make_arg_block(p.options);
    std::vector<const char*> argv{"kestrel"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    OutputCapture capture;
    ExitTrap trap;
    try {
        EXPECT_EQ(parse_command_line(p.block, static_cast<int>(argv.size()), argv.data()), 0);
    } catch (const ProcessExited& e) {
        p.exit_status = e.status;
    }
    p.output = capture.text();
    return p;
}

const arg_option& opt(const Parsed& p, option_index i) { return p.options[i]; }

}  // namespace

TEST(ArgParse, NoArgumentsLeavesEveryDefault) {
    const Parsed p = parse({});
    EXPECT_FALSE(p.exit_status);
    EXPECT_EQ(p.output, "");
    for (const auto& o : p.options) {
        EXPECT_FALSE(o.given) << o.name;
        EXPECT_EQ(o.position, 0) << o.name;
    }
    EXPECT_EQ(opt(p, opt_size).value.u, 65536u);
    EXPECT_FLOAT_EQ(opt(p, opt_lclk).value.f, 30.0f);
    EXPECT_EQ(opt(p, opt_bitfile).value.text, "top_V5.bit");
    // An empty default is a present, empty text.
    ASSERT_TRUE(opt(p, opt_load_fw).value.text.has_value());
    EXPECT_EQ(*opt(p, opt_load_fw).value.text, "");
    EXPECT_FALSE(p.block.sdk_root);
    EXPECT_FALSE(p.block.bit_dir);
}

TEST(ArgParse, FailuresEndWithTheirMessageAndStatus) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"file.bin"}, "Unknown option: file.bin\n"},
        {{"/Bank", "2"}, "Unknown option: /Bank\n"},
        {{"/bank=2"}, "Unknown option: /bank=2\n"},
        {{"/"}, "Unknown option: /\n"},
        {{"-"}, "Unknown option: -\n"},
        {{""}, "Unknown option: \n"},
        {{"+bank", "1", "/nope"}, "Unknown option: /nope\n"},
        {{"/bank"},
         "/bank option requires parameter: Specific Bank for the operation. Default the new bank\n"},
        {{"-comment"}, "-comment option requires parameter: Comment for file download\n"},
        {{"/boot"}, "Boolean option boot should be specified as -boot or +boot\n"},
        {{"/bank0"}, "Boolean option bank0 should be specified as -bank0 or +bank0\n"},
        {{"/sdk"}, "/sdk option requires parameter: path to ADM-XRC SDK root\n"},
        {{"-bitdir"}, "/bitdir option requires parameter: path to bitstream directory\n"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        ASSERT_TRUE(p.exit_status) << c.message;
        EXPECT_EQ(*p.exit_status, -1) << c.message;
        EXPECT_EQ(p.output, c.message);
    }
}

TEST(ArgParse, TheFirstBadArgumentStopsTheParse) {
    // Nothing after the first failure is looked at, not even a help request.
    Parsed p = parse({"/boot", "/h"});
    EXPECT_EQ(p.exit_status, -1);
    EXPECT_EQ(p.output, "Boolean option boot should be specified as -boot or +boot\n");
    // Help ends the parse before later invalid arguments are seen.
    p = parse({"+info", "/h", "bogus", "/boot"});
    EXPECT_EQ(p.exit_status, 0);
    EXPECT_EQ(p.output.rfind("Usage: Kestrel [option ...]\n\n", 0), 0u);
}

TEST(ArgParse, AnAbsurdlyLongArgumentIsCutInTheMessage) {
    const std::string huge = "/" + std::string(100000, 'x');
    const Parsed p = parse({huge});
    EXPECT_EQ(p.exit_status, -1);
    EXPECT_EQ(p.output.size(), 1023u);
    EXPECT_EQ(p.output.rfind("Unknown option: /xxx", 0), 0u);
}

TEST(ArgParse, HelpAndVersionAnswerWhateverThePrefix) {
    for (const char* word : {"/h", "-h", "+?", "/?", "-help", "+help"}) {
        const Parsed p = parse({word});
        EXPECT_EQ(p.exit_status, 0) << word;
        EXPECT_EQ(p.output.rfind("Usage: Kestrel [option ...]\n\n", 0), 0u) << word;
    }
    for (const char* word : {"/version", "-version", "+version"}) {
        const Parsed p = parse({word, "garbage"});
        EXPECT_EQ(p.exit_status, 0) << word;
        EXPECT_EQ(p.output, "  Kestrel QX_RL4471902-3\n") << word;
    }
}

TEST(ArgParse, BooleansTakeTheirValueFromThePrefix) {
    Parsed p = parse({"-boot", "+boot"});
    EXPECT_TRUE(opt(p, opt_boot).value.b);
    EXPECT_TRUE(opt(p, opt_boot).given);
    EXPECT_EQ(opt(p, opt_boot).position, 2);
    p = parse({"+info", "-info"});
    EXPECT_FALSE(opt(p, opt_info).value.b);
    EXPECT_TRUE(opt(p, opt_info).given);
    EXPECT_EQ(opt(p, opt_info).position, 2);
    p = parse({"+bank0"});
    EXPECT_TRUE(opt(p, opt_bank0).value.b);
}

TEST(ArgParse, ValuedOptionsTakeTheNextArgumentWhateverItLooksLike) {
    Parsed p = parse({"/comment", "/boot", "+bank", "3"});
    EXPECT_EQ(opt(p, opt_comment).value.text, "/boot");
    EXPECT_EQ(opt(p, opt_comment).position, 2);
    EXPECT_FALSE(opt(p, opt_boot).given);
    EXPECT_EQ(opt(p, opt_bank).value.u, 3u);
    EXPECT_EQ(opt(p, opt_bank).position, 4);

    p = parse({"/load_fw", "a.bin", "/info_dummy_not_reached"});
    EXPECT_EQ(p.exit_status, -1);

    p = parse({"/load_fw", "a.bin", "-load_fw", "b.bin"});
    EXPECT_EQ(opt(p, opt_load_fw).value.text, "b.bin");
    EXPECT_EQ(opt(p, opt_load_fw).position, 4);
}

TEST(ArgParse, NumbersAreReadAsScanfWouldReadThem) {
    struct Case {
        const char* text;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"0x3", 3},          {"3x", 3},           {"0X1F", 0},        {"0x1F", 0x1F},
        {"258", 258},        {" 7", 7},           {"+9", 9},          {"4294967295", 0xFFFFFFFFu},
        {"-0", 0},           {"0xffffffff", 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        const Parsed p = parse({"/interface", c.text});
        EXPECT_EQ(opt(p, opt_interface).value.u, c.expected) << c.text;
        EXPECT_TRUE(opt(p, opt_interface).given);
    }
    Parsed p = parse({"/lclk", "12.5"});
    EXPECT_FLOAT_EQ(opt(p, opt_lclk).value.f, 12.5f);
    p = parse({"/lclk", "1e3MHz"});
    EXPECT_FLOAT_EQ(opt(p, opt_lclk).value.f, 1000.0f);
}

TEST(ArgParse, ANumberItsTypeCannotHoldEndsTheRunInsteadOfWrapping) {
    const char* const beyond[] = {"4294967298", "-1", "0x100000000", "18446744073709551618",
                                  "99999999999999999999999"};
    for (const char* text : beyond) {
        const Parsed p = parse({"/bank", text, "+info"});
        EXPECT_EQ(p.exit_status, -1) << text;
        EXPECT_EQ(p.output, std::string("Option /bank: ") + text +
                                " is not a whole number from 0 to 4294967295\n");
    }
    Parsed p = parse({"-lclk", "-1e39"});
    EXPECT_EQ(p.exit_status, -1);
    EXPECT_EQ(p.output, "Option -lclk: -1e39 is not a number from -3.4e38 to 3.4e38\n");
    // The text is shown as typed, its control characters made visible.
    p = parse({"/verbose", "9999999999\x1b[2J"});
    EXPECT_EQ(p.output,
              "Option /verbose: 9999999999\\x1b[2J is not a whole number from 0 to 4294967295\n");
}

TEST(ArgParse, TextThatIsNotANumberKeepsThePreviousValue) {
    Parsed p = parse({"/verbose", "abc"});
    EXPECT_EQ(opt(p, opt_verbose).value.u, 0u);
    EXPECT_TRUE(opt(p, opt_verbose).given);
    EXPECT_EQ(opt(p, opt_verbose).position, 2);
    p = parse({"/verbose", "5", "/verbose", "x5"});
    EXPECT_EQ(opt(p, opt_verbose).value.u, 5u);
    EXPECT_EQ(opt(p, opt_verbose).position, 4);
    p = parse({"/lclk", "fast"});
    EXPECT_FLOAT_EQ(opt(p, opt_lclk).value.f, 30.0f);
    p = parse({"/interface", "0x"});
    EXPECT_EQ(opt(p, opt_interface).value.u, 0u);
}

TEST(ArgParse, ReservedPathWordsAreCleaned) {
    const Parsed p = parse({"/bitdir", "C:/bits/", "-sdk", "  /opt/sdk//  "});
    EXPECT_FALSE(p.exit_status);
    EXPECT_EQ(p.block.bit_dir, "C:\\bits");
    EXPECT_EQ(p.block.sdk_root, "\\opt\\sdk\\");
}

TEST(ArgNormalisePath, CleansInPlace) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"C:/dir/", "C:\\dir"}, {"\\", "\\"},       {"/", "\\"},      {"a\\\\", "a\\"},
        {" \t\n", ""},          {"", ""},           {"\r x \v", "x"}, {" C:\\a b\\ ", "C:\\a b"},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        normalise_path(s);
        EXPECT_EQ(s, c.out) << "input: [" << c.in << "]";
    }
}

TEST(ArgDefaults, FormattedByType) {
    arg_option o;
    o.type = arg_hex;
    o.default_value.u = 0x1f;
    EXPECT_EQ(format_default(o), "0x1f");
    o.type = arg_int;
    o.default_value.i = -5;
    EXPECT_EQ(format_default(o), "-5");
    o.type = arg_double;
    o.default_value.d = 2.5;
    EXPECT_EQ(format_default(o), "2.500000");
    o.type = arg_boolean;
    o.default_value.b = true;
    EXPECT_EQ(format_default(o), "TRUE");
    o.type = arg_path;
    o.default_value.text.reset();
    EXPECT_EQ(format_default(o), "");
    o.type = arg_string;
    o.default_value.text = std::string(500, 'd');
    EXPECT_EQ(format_default(o), std::string(127, 'd'));
}

TEST(ArgOptions, SetAndResetKeepTheirOwnCopies) {
    arg_option o;
    o.name = "p";
    o.type = arg_path;
    o.default_value.text = "def";
    reset_option(o);
    set_option_value(" x/y/ ", o, 7);
    EXPECT_EQ(o.value.text, "x\\y");
    EXPECT_EQ(o.default_value.text, "def");
    EXPECT_TRUE(o.given);
    EXPECT_EQ(o.position, 7);
    reset_option(o);
    EXPECT_EQ(o.value.text, "def");
    EXPECT_FALSE(o.given);
    EXPECT_EQ(o.position, 7);

    option_table table;
    build_option_table(table);
    EXPECT_EQ(find_option(23, "bank", table.data()), &table[opt_bank]);
    EXPECT_EQ(find_option(23, "bitfile", table.data()), &table[opt_bitfile]);
    EXPECT_EQ(find_option(23, "ban", table.data()), nullptr);
    EXPECT_EQ(find_option(22, "bitfile", table.data()), nullptr);
}

TEST(ArgUsage, ListsEveryOptionButBank0) {
    const Parsed p = parse({"/help"});
    const std::string& u = p.output;
    const std::string head =
        "Usage: Kestrel [option ...]\n\n"
        "      Option     Type       Default  Meaning\n\n";
    ASSERT_EQ(u.rfind(head, 0), 0u);
    std::vector<std::string> rows;
    for (std::size_t at = head.size(), nl; (nl = u.find('\n', at)) != std::string::npos;
         at = nl + 1) {
        rows.push_back(u.substr(at, nl - at));
    }
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(rows[0], " /h /? /help                         Show this help");
    EXPECT_EQ(rows[1], "    /version                         Show version");
    EXPECT_EQ(rows[2],
              "       /bank     uint             0  Specific Bank for the operation. "
              "Default the new bank");
    EXPECT_EQ(rows[5], "     -/+boot  boolean         FALSE  Boot unit to specificed bank");
    EXPECT_EQ(rows[3], "    /load_sw   string                Software file to load");
    EXPECT_EQ(rows[17], "    /verbose     uint             0  Verbose level. Default none verbose");
    EXPECT_EQ(rows[22], "       /lclk    float     30.000000  local bus clock frequency (MHz)");
    EXPECT_EQ(rows[23], "    /bitfile   string    top_V5.bit  bitstream");
    EXPECT_EQ(rows[25], "-/+list_ports  boolean         FALSE  List the serial ports present");
    EXPECT_EQ(u.find("bank0"), std::string::npos);
}
