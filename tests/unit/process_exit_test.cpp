// The ways out of the process: when two threads end the run at once, the second waits until
// the first has run every exit handler, so no handler is cut off half-way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/process.h"

namespace {

// Either thread's status may be the one the process ends with.
bool ended_by_either(int status) {
    return ::testing::ExitedWithCode(2)(status) || ::testing::ExitedWithCode(3)(status);
}

}  // namespace

TEST(ProcessExitDeathTest, ASecondThreadOnItsWayOutWaitsForTheHandlers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            process_at_exit([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                std::fputs("handlers done\n", stderr);
                std::fflush(stderr);
            });
            std::thread first([] { process_exit(2); });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            process_exit_now(3);
        },
        ended_by_either, "handlers done");
}
