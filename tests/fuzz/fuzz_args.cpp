// The command-line parser (parse_command_line over the program's option table) with any
// argument vector: the input split at NUL bytes, after the program's name. An argument it
// refuses ends the run through the exit hook, which throws here; nothing may read or write out
// of bounds, leak or hit undefined behaviour, whether the run ends or the parse returns. After a
// parse that returns, every given option must point at the argument it came from, and the
// command-line operations are walked as a batch run walks them.
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
        operation_cursor = 0;
        if (is_batch_run(options)) {
            while (next_operation_option(options) >= 0) {
            }
        }
    } catch (const run_ended&) {
    }
    return 0;
}
