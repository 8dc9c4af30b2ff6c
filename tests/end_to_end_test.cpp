// Runs the built program as a user would, with real sleeps: everything it
// writes to standard output, its exit code, and how long it takes.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "expected_trace.h"

#ifndef EXERCISE_PROGRAM
#error "EXERCISE_PROGRAM must name the program under test"
#endif

namespace {

TEST(EndToEndTest, RealRunPrintsTheTraceExitsZeroAndTakesItsSixtySixSeconds) {
    const auto start = std::chrono::steady_clock::now();
    FILE* program = popen(EXERCISE_PROGRAM, "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, program)) > 0;) output.append(chunk, n);
    const int status = pclose(program);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string marker = "0x40e00000 mapped to: 0x";
    const auto at = output.find(marker);
    ASSERT_NE(at, std::string::npos) << output.substr(0, 200);
    const auto base = static_cast<std::uint32_t>(std::stoul(output.substr(at + marker.size(), 8), nullptr, 16));
    EXPECT_EQ(output, expected::WholeRun(base, 0));
    EXPECT_GE(elapsed, std::chrono::seconds(66));
}

}  // namespace
