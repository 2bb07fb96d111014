#include "backends/sim/SimDesktop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane::sim {
namespace {

using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::Pair;

TEST(ManualMainQueue, RunsPostedTasksInOrderIncludingThoseTheyPost) {
    SimDesktop desktop;
    std::vector<int> ran;
    desktop.mainQueue->post([&] {
        ran.push_back(1);
        desktop.mainQueue->post([&] { ran.push_back(3); });
    });
    desktop.mainQueue->post([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty()) << "nothing runs until the test drives the queue";
    EXPECT_EQ(desktop.mainQueue->runPending(), 3u);
    EXPECT_THAT(ran, ElementsAre(1, 2, 3));
}

TEST(ManualMainQueue, TimersFireInDueOrderWithTheClockAtTheirDueTime) {
    SimDesktop desktop;
    const double start = desktop.clock->monotonic();
    std::vector<std::pair<char, double>> fired;
    auto record = [&](char name) {
        return [&, name] {
            fired.emplace_back(name, desktop.clock->monotonic() - start);
        };
    };
    desktop.mainQueue->after(0.5, record('b'));
    desktop.mainQueue->after(0.2, record('a'));
    auto cancelled = desktop.mainQueue->after(0.3, record('x'));
    cancelled->cancel();
    desktop.mainQueue->advance(0.49);
    EXPECT_THAT(fired, ElementsAre(Pair('a', DoubleNear(0.2, 1e-9))));
    desktop.mainQueue->advance(1.0);
    EXPECT_THAT(fired,
                ElementsAre(Pair('a', DoubleNear(0.2, 1e-9)), Pair('b', DoubleNear(0.5, 1e-9))));
    EXPECT_NEAR(desktop.clock->monotonic() - start, 1.49, 1e-9);
}

TEST(ManualMainQueue, RepeatingTimersTickUntilCancelledEvenFromTheirOwnTask) {
    SimDesktop desktop;
    int ticks = 0;
    TimerHandle timer;
    timer = desktop.mainQueue->repeating(1.5, 0.5, [&] {
        if (++ticks == 3) {
            timer->cancel();
        }
    });
    desktop.mainQueue->advance(1.4);
    EXPECT_EQ(ticks, 0);
    desktop.mainQueue->advance(10);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(desktop.mainQueue->activeTimerCount(), 0u);
}

TEST(ManualMainQueue, StopEndsRunUntilEarly) {
    SimDesktop desktop;
    const double start = desktop.clock->monotonic();
    desktop.mainQueue->after(2, [&] { desktop.mainQueue->stop(); });
    desktop.mainQueue->after(3, [] { FAIL() << "runs after stop"; });
    desktop.mainQueue->runUntil(start + 10);
    EXPECT_DOUBLE_EQ(desktop.clock->monotonic() - start, 2);
}

TEST(SimClock, NeverRunsBackwards) {
    SimClock clock;
    const double wall = clock.now();
    clock.advance(-5);
    EXPECT_EQ(clock.now(), wall);
    clock.advance(0.25);
    EXPECT_DOUBLE_EQ(clock.now() - wall, 0.25);
    EXPECT_LT(Clock::distantPast + 1e9, clock.now() - 1e9);
}

TEST(SimDesktop, InstallsItselfForItsLifetimeOnly) {
    EXPECT_FALSE(hasPlatform());
    std::filesystem::path directory;
    {
        SimDesktop desktop;
        directory = desktop.supportDirectory;
        EXPECT_EQ(platform().clock, desktop.services->clock);
        EXPECT_TRUE(std::filesystem::is_directory(directory));
        {
            SimDesktop nested;
            EXPECT_EQ(platform().clock, nested.services->clock);
        }
        EXPECT_EQ(platform().clock, desktop.services->clock);
    }
    EXPECT_FALSE(hasPlatform());
    EXPECT_FALSE(std::filesystem::exists(directory));
}

} // namespace
} // namespace orvane::sim
