#include "orvane/support/Relaunch.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/support/LaunchArguments.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RelaunchTest : public ::testing::Test {
protected:
    RelaunchTest() {
        Relaunch::setTerminate([this] { ++terminations; });
    }
    ~RelaunchTest() override { Relaunch::setTerminate(nullptr); }

    int terminations = 0;
    sim::SimDesktop desktop;
};

TEST_F(RelaunchTest, StartsACopyThatWaitsForUsThenTerminates) {
    Relaunch::now();
    EXPECT_THAT(desktop.processInfo->spawned(),
                ElementsAre(ElementsAre("/opt/orvane/bin/orvane", "--after", "4242")));
    EXPECT_EQ(terminations, 1);
    // The copy reads its own command line as a relaunched application.
    auto arguments = desktop.processInfo->spawned().front();
    const auto mode = LaunchMode::parse(arguments);
    EXPECT_EQ(mode.kind, LaunchMode::Kind::application);
    EXPECT_EQ(mode.afterProcess, sim::SimProcessInfo::ownID);
}

TEST_F(RelaunchTest, AnyPathTravelsAsOneUntouchedArgument) {
    // Each of these would run a command, split the path or end a quoted string in a shell.
    const std::vector<std::string> paths{
        "/home/ann/My Apps/orvane", "/opt/$(touch pwned)/orvane", "/opt/`id`/orvane",
        "/opt/it\"s/orvane",        "/opt/it's/orvane",           "/opt/a;b|c&d/orvane",
    };
    for (const auto& path : paths) {
        desktop.processInfo->setOwnExecutablePath(path);
        Relaunch::now();
    }
    const auto spawned = desktop.processInfo->spawned();
    ASSERT_EQ(spawned.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_THAT(spawned[i], ElementsAre(paths[i], "--after", "4242"));
    }
}

TEST_F(RelaunchTest, WithoutAnExecutableNothingIsStarted) {
    desktop.processInfo->setOwnExecutablePath("");
    Relaunch::now();
    EXPECT_THAT(desktop.processInfo->spawned(), IsEmpty());
    EXPECT_EQ(terminations, 0);
    EXPECT_THAT(desktop.log->lines(LogLevel::error),
                ElementsAre("relaunch failed: the running executable cannot be found"));
}

TEST_F(RelaunchTest, AFailedLaunchIsLoggedAndTheApplicationCarriesOn) {
    desktop.processInfo->setSpawnFailure("No such file or directory");
    Relaunch::now();
    EXPECT_EQ(terminations, 0);
    EXPECT_THAT(desktop.processInfo->spawned(), IsEmpty());
    EXPECT_THAT(desktop.log->lines(LogLevel::error),
                ElementsAre("relaunch failed: No such file or directory"));
}

TEST(LaunchArgumentsAfter, ARelaunchedCopyKnowsWhomToWaitFor) {
    auto parse = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "/usr/bin/orvane");
        return LaunchMode::parse(arguments);
    };
    EXPECT_EQ(parse({"--after", "4242"}).afterProcess, 4242);
    EXPECT_EQ(parse({"--after", "+17"}).afterProcess, 17);
    for (const char* malformed : {"0", "-5", "abc", "12x", ""}) {
        EXPECT_EQ(parse({"--after", malformed}).afterProcess, std::nullopt) << malformed;
    }
    EXPECT_EQ(parse({"--after"}).afterProcess, std::nullopt);
    // The report modes never wait.
    EXPECT_EQ(parse({"--after", "9", "--diagnose"}).kind, LaunchMode::Kind::diagnose);
    EXPECT_EQ(parse({"--after", "9", "--diagnose"}).afterProcess, std::nullopt);
}

} // namespace
} // namespace orvane
