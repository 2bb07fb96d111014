#include "backends/linux/LinuxProcessInfo.hpp"
#include "backends/linux/ProcessExit.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(LinuxProcessInfo, AStrangelyNamedProgramGetsItsArgumentsAsTheyStandAndNoBlockedSignal) {
    test::TemporaryDirectory scratch("orvane-process");
    // A directory name that would run commands, or break apart, if a shell ever read it.
    const auto directory = scratch.path / "My Apps $(touch pwned) `touch pwned2` it's \"q\"";
    std::filesystem::create_directories(directory);
    const auto program = directory / "orvane";
    const auto written = scratch.path / "arguments";
    const auto done = scratch.path / "done";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$ORVANE_TEST_OUT\"\n"
                  // Read by the shell itself: while it forks a reader, it blocks every signal.
                  "while IFS= read -r line; do case $line in SigBlk:*)\n"
                  "printf '%s\\n' \"$line\" > \"$ORVANE_TEST_OUT.signals\";; esac\n"
                  "done < /proc/$$/status\n"
                  ": > \"$ORVANE_TEST_DONE\"\n";
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ::setenv("ORVANE_TEST_OUT", written.c_str(), 1);
    ::setenv("ORVANE_TEST_DONE", done.c_str(), 1);

    // As the application does, to read them from a descriptor.
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stop, &previous);
    LinuxProcessInfo processes;
    std::string failure;
    const bool spawned =
        processes.spawnDetached({program.string(), "--after", "12 $HOME"}, &failure);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(spawned) << failure;
    // The spawned program is not our child: watch for its last file, within a bound.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(done) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(std::filesystem::exists(done));
    EXPECT_EQ(readLines(written),
              (std::vector<std::string>{program.string(), "--after", "12 $HOME"}));
    EXPECT_EQ(readLines(written.string() + ".signals"),
              std::vector<std::string>{"SigBlk:\t0000000000000000"});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "pwned"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "pwned2"));
}

TEST(LinuxProcessInfo, AProgramThatCannotStartSaysWhy) {
    LinuxProcessInfo processes;
    std::string failure;
    EXPECT_FALSE(processes.spawnDetached({"/nonexistent/orvane", "--after", "1"}, &failure));
    EXPECT_EQ(failure, "/nonexistent/orvane: No such file or directory");
    EXPECT_FALSE(processes.spawnDetached({}, &failure));
    EXPECT_EQ(processes.processID(), ::getpid());
}

TEST(LinuxProcessInfo, ReadsTheStartTimeAfterTheLastParenthesisOfTheName) {
    using orvane::linuxbackend::startTicksFromStat;
    const std::string after = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 99 100\n";
    // A name may hold spaces and parentheses of its own, even a fake field list.
    EXPECT_EQ(startTicksFromStat("77 (orvane)" + after), 4242);
    EXPECT_EQ(startTicksFromStat("77 (a) b (S 1 2 3)" + after), 4242);
    EXPECT_EQ(startTicksFromStat("77 (x)  S  1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18  5"), 5);
    // Cut short, no name, or a field that is no number.
    EXPECT_FALSE(startTicksFromStat("77 (orvane) S 1 2 3"));
    EXPECT_FALSE(startTicksFromStat("77 orvane S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 9"));
    EXPECT_FALSE(startTicksFromStat("77 (o) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 -9"));
    EXPECT_FALSE(startTicksFromStat("77 (o) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 1e9"));
    EXPECT_FALSE(startTicksFromStat(""));

    const auto elapsed = orvane::linuxbackend::secondsSinceProcessStart();
    ASSERT_TRUE(elapsed);
    EXPECT_GE(*elapsed, 0.0);
}

TEST(ProcessExit, WaitsForTheProcessToEndAndNoLonger) {
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(gate[1]);
        char byte;
        [[maybe_unused]] auto got = ::read(gate[0], &byte, 1); // until the parent closes it
        ::_exit(0);
    }
    ::close(gate[0]);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForProcessExit(child, 100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

    ::close(gate[1]);
    // Ended but not yet reaped still counts as ended.
    EXPECT_TRUE(waitForProcessExit(child, 10s));
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    // Gone altogether: answered at once.
    EXPECT_TRUE(waitForProcessExit(child, 0ms));
}

} // namespace
} // namespace orvane::linuxbackend
