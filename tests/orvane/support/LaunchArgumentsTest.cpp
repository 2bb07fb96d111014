#include "orvane/support/LaunchArguments.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

LaunchMode parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/usr/bin/orvane");
    return LaunchMode::parse(arguments);
}

TEST(LaunchArguments, TheProbeFlagWinsAndTakesAWholeNumberOfSeconds) {
    EXPECT_EQ(parse({"--probe-camera"}).kind, LaunchMode::Kind::probeCamera);
    EXPECT_EQ(parse({"--probe-camera"}).probeSeconds, 8);
    EXPECT_EQ(parse({"--probe-camera", "20"}).probeSeconds, 20);
    EXPECT_EQ(parse({"--probe-camera", "+3"}).probeSeconds, 3);
    EXPECT_EQ(parse({"--probe-camera", "-4"}).probeSeconds, -4);
    for (const char* malformed :
         {"abc", "2.5", " 5", "5 ", "", "+", "-", "+-3", "0x10", "99999999999999999999"}) {
        EXPECT_EQ(parse({"--probe-camera", malformed}).probeSeconds, 8) << malformed;
    }
    const auto both = parse({"--diagnose", "--probe-camera", "5", "--diagnose"});
    EXPECT_EQ(both.kind, LaunchMode::Kind::probeCamera);
    EXPECT_EQ(both.probeSeconds, 5);
}

TEST(LaunchArguments, FlagsMatchWholeAndCaseSensitively) {
    EXPECT_EQ(parse({"--diagnose"}).kind, LaunchMode::Kind::diagnose);
    EXPECT_EQ(parse({"--Diagnose"}).kind, LaunchMode::Kind::application);
    EXPECT_EQ(parse({"--probe-camera=5"}).kind, LaunchMode::Kind::application);
    EXPECT_EQ(parse({}).kind, LaunchMode::Kind::application);
    EXPECT_EQ(parse({"--verbose"}).kind, LaunchMode::Kind::application);
    // The program path itself is never a flag's value.
    EXPECT_EQ(LaunchMode::parse({"--probe-camera"}).kind, LaunchMode::Kind::probeCamera);
}

TEST(LaunchArguments, TheToggleGivesWayToTheReportsAndIsNoApplicationFlag) {
    EXPECT_EQ(parse({"--toggle-pause"}).kind, LaunchMode::Kind::togglePause);
    EXPECT_EQ(parse({"--report-gaze", "--toggle-pause"}).kind, LaunchMode::Kind::togglePause);
    EXPECT_EQ(parse({"--toggle-pause", "--diagnose"}).kind, LaunchMode::Kind::diagnose);
    EXPECT_EQ(parse({"--toggle-pause=1"}).kind, LaunchMode::Kind::application);
    // As the value of "--after" it is still the toggle: nothing starts from a key binding.
    EXPECT_EQ(parse({"--after", "--toggle-pause"}).kind, LaunchMode::Kind::togglePause);
    EXPECT_EQ(LaunchMode::parse({"--toggle-pause"}).kind, LaunchMode::Kind::application);
}

TEST(LaunchArguments, TheGazeReportGoesWithTheApplicationWhereverItStands) {
    EXPECT_TRUE(parse({"--report-gaze"}).reportsGaze);
    const auto relaunched = parse({"--after", "42", "--report-gaze"});
    EXPECT_TRUE(relaunched.reportsGaze);
    EXPECT_EQ(relaunched.afterProcess, 42);
    EXPECT_FALSE(parse({}).reportsGaze);
    EXPECT_FALSE(parse({"--report-gaze=yes"}).reportsGaze);
    EXPECT_FALSE(LaunchMode::parse({"--report-gaze"}).reportsGaze); // the program path
}

} // namespace
} // namespace orvane
