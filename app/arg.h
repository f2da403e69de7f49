// Table-driven command-line parser. The caller describes every option in a table of arg_option
// records; parse_command_line walks the arguments once, left to right, fills each record's value,
// given flag and position, answers the built-in words (help, version, /sdk, /bitdir) itself, and
// ends the program with a message at the first argument it cannot accept. The same table drives
// the usage listing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/output.h"

// How a value is read, stored and shown. The numbers are part of the table's contract.
enum arg_type : std::int32_t {
    arg_float = 0,
    arg_double = 1,
    arg_int = 2,
    arg_uint = 3,
    arg_hex = 4,
    arg_string = 5,
    arg_boolean = 6,
    arg_path = 7,
};

// One value slot. Only the member that belongs to the record's type is meaningful.
struct arg_value {
    float f = 0.0f;
    double d = 0.0;
    std::int32_t i = 0;
    std::uint32_t u = 0;
    bool b = false;
    // Text types: an empty text is present (""), which differs from no text at all.
    std::optional<std::string> text;
};

struct arg_option {
    const char* name = nullptr;     // the option word without prefix, matched exactly
    arg_type type = arg_float;
    const char* meaning = nullptr;  // help text, also used in the missing-parameter message
    // Index in the argument vector of the option itself (booleans) or of its value (all other
    // types); 0 while the option has not been given.
    std::int32_t position = 0;
    arg_value default_value;
    bool given = false;
    arg_value value;
};

struct arg_block {
    std::int32_t option_count = 0;
    arg_option* options = nullptr;
    std::optional<std::string> sdk_root;  // set by /sdk
    std::optional<std::string> bit_dir;   // set by /bitdir
};

// Returns 0 when every argument was accepted; otherwise the program has ended with a message.
// argv[0], the program's own name, is skipped.
int parse_command_line(arg_block& block, int argc, const char* const* argv);

// Writes the usage table to standard output.
void print_usage(const arg_block& block);

// The first of `count` records whose name equals `word` byte for byte, or nullptr.
arg_option* find_option(int count, std::string_view word, arg_option* options);

// value := default_value, given := false; position is left as it is.
void reset_option(arg_option& option);

// Converts `text` by the rule of the record's type into its value and marks the option given
// at argument `index`. Text that holds no number leaves the previous value in place. A number
// beyond the range of the type is refused: false, and the record is left as it was.
bool set_option_value(const char* text, arg_option& option, int index);

// The default as the usage table shows it (at most 127 characters).
std::string format_default(const arg_option& option);

// Cleans a path in place: '/' becomes '\', surrounding white space goes, and one trailing '\'
// is dropped unless the path is that '\' alone.
void normalise_path(std::string& path);

// Prints the formatted message (at most 1023 characters) verbatim and ends the program.
[[noreturn]] void arg_fatal(int status, const char* format, ...) KESTREL_PRINTF(2, 3);
