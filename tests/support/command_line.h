// A real command line parsed in a test, so that every option's position is the one the parser
// gives, with a refusal reported as a test failure instead of ending the test program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/arg.h"
#include "app/options.h"
#include "support/capture.h"

// Parses "kestrel" followed by `args` into a fresh option table and its argument block. On
// success `out` is emptied of what the parsing printed; a refusal fails the test with the exit
// status and that text.
inline void parse_test_command_line(option_table& options, arg_block& block, OutputCapture& out,
                                    const std::vector<std::string>& args) {
    build_option_table(options);
    block = make_arg_block(options);
    std::vector<const char*> argv{"kestrel"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    ExitTrap trap;
    try {
        ASSERT_EQ(parse_command_line(block, static_cast<int>(argv.size()), argv.data()), 0);
    } catch (const ProcessExited& e) {
        FAIL() << "the command line was refused, status " << e.status << ": " << out.text();
    }
    out.take();
}
