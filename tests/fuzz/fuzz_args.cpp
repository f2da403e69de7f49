// The command-line parser (parse_command_line over the program's option table) with any
// argument vector: the input split at NUL bytes, after the program's name. An argument it
// refuses ends the run through the exit hook, which throws here; nothing may read or write out
// of bounds, leak or hit undefined behaviour, whether the run ends or the parse returns. After a
// parse that returns, every given option must point at the argument it came from, every number
// must be the one its text holds (checked against the C library's reading) and none may lie
// beyond its type, and the command-line operations are walked as a batch run walks them.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/arg.h"
#include "app/batch_operations.h"
#include "app/options.h"
#include "fuzz_input.h"
#include "platform/process.h"

namespace {

struct run_ended {
    int status;
};

void throw_on_exit(int status) { throw run_ended{status}; }

[[noreturn]] void fail(const char* what, const char* name) {
    std::fprintf(stderr, "fuzz_args: option %s: %s\n", name, what);
    std::abort();
}

// What the C library makes of a number's text, as a reference that shares no code with the
// parser: nothing, a value, or a number beyond 32 bits (which the parser must have refused).
enum class reference { none, value, beyond };

reference unsigned_reference(const char* text, int base, std::uint32_t& value) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    char* end = nullptr;
    errno = 0;
    const unsigned long long read = std::strtoull(text, &end, base);
    if (end == text) return reference::none;
    // strtoull negates a number after '-' modulo 2^64: only -0 stays in range.
    if (errno == ERANGE || (negative && read != 0) || read > 0xFFFFFFFFULL) return reference::beyond;
    value = static_cast<std::uint32_t>(read);
    return reference::value;
}

reference float_reference(const char* text, float& value) {
    char* end = nullptr;
    errno = 0;
    const double read = std::strtod(text, &end);
    if (end == text) return reference::none;
    const bool overflow = errno == ERANGE && std::isinf(read);
    if (overflow || (std::isfinite(read) && std::fabs(read) > FLT_MAX)) return reference::beyond;
    value = static_cast<float>(read);
    return reference::value;
}

// A number option whose last text holds a number has exactly that value; one beyond its type's
// range never gets through.
void check_number(const arg_option& option, const char* text) {
    reference found = reference::none;
    if (option.type == arg_uint) {
        std::uint32_t value = 0;
        const bool hex = text[0] == '0' && text[1] == 'x';
        found = unsigned_reference(hex ? text + 2 : text, hex ? 16 : 10, value);
        if (found == reference::value && option.value.u != value) fail("number differs from its text", option.name);
    } else if (option.type == arg_float) {
        float value = 0.0f;
        found = float_reference(text, value);
        const bool same = option.value.f == value || (std::isnan(value) && std::isnan(option.value.f));
        if (found == reference::value && !same) fail("number differs from its text", option.name);
    }
    if (found == reference::beyond) fail("a number beyond its type was taken", option.name);
}

// A given boolean stands at its position as -name or +name; any other option's value is the
// argument at its position (a text copied as typed).
void check_given(const arg_option& option, const std::vector<const char*>& argv) {
    if (!option.given) return;
    const std::size_t at = static_cast<std::size_t>(option.position);
    if (option.position < 1 || at + 1 >= argv.size()) fail("position outside the arguments", option.name);
    const char* argument = argv[at];
    if (option.type == arg_boolean) {
        if (std::strcmp(argument + 1, option.name) != 0) fail("position is not the option", option.name);
        if (option.value.b != (argument[0] == '+')) fail("value differs from its prefix", option.name);
    } else if (option.type == arg_string && (!option.value.text || *option.value.text != argument)) {
        fail("text differs from its argument", option.name);
    } else {
        check_number(option, argument);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    process_set_exit_hook(&throw_on_exit);

    // Each argument its own heap block, so that a read past its NUL is caught.
    std::vector<std::vector<char>> arguments;
    arguments.push_back({'k', 'e', 's', 't', 'r', 'e', 'l', '\0'});
    std::vector<char> current;
    for (std::size_t k = 0; k < size; ++k) {
        current.push_back(static_cast<char>(data[k]));
        if (data[k] == 0) {
            arguments.push_back(std::move(current));
            current.clear();
        }
    }
    if (size != 0) {
        current.push_back('\0');
        arguments.push_back(std::move(current));
    }
    std::vector<const char*> argv;
    for (const std::vector<char>& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    option_table options;
    build_option_table(options);
    arg_block block = make_arg_block(options);
    try {
        parse_command_line(block, static_cast<int>(arguments.size()), argv.data());
        for (const arg_option& option : options) check_given(option, argv);
        int cursor = 0;
        if (is_batch_run(options)) {
            while (next_operation_option(options, cursor) >= 0) {
            }
        }
    } catch (const run_ended&) {
    }
    return 0;
}
