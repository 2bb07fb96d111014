#include <gtest/gtest.h>

#include "backends/linux/atspi/AtspiResponsiveness.hpp"

namespace orvane::linuxbackend {
namespace {

using R = AtspiResponsiveness;

TEST(AtspiResponsiveness, skipsAProgramFromItsMissUntilItAnswersAgain) {
    AtspiResponsiveness programs;
    EXPECT_FALSE(programs.isSkipped(41));
    programs.missed(41, 100.0);
    EXPECT_TRUE(programs.isSkipped(41));
    EXPECT_FALSE(programs.isSkipped(42)); // others are still asked
    programs.answered(41);
    EXPECT_FALSE(programs.isSkipped(41));
    EXPECT_EQ(programs.skippedCount(), 0u);
}

TEST(AtspiResponsiveness, probesASilentProgramEverLessOftenAndNoMoreThanTheLongestInterval) {
    AtspiResponsiveness programs;
    programs.missed(7, 10.0);
    EXPECT_TRUE(programs.dueForProbe(10.0).empty());
    EXPECT_TRUE(programs.dueForProbe(10.0 + R::firstProbeAfter - 0.01).empty());
    double now = 10.0 + R::firstProbeAfter;
    double expected = R::firstProbeAfter;
    std::vector<double> intervals;
    double last = now;
    for (int probes = 0; probes < 8;) {
        auto due = programs.dueForProbe(now);
        if (!due.empty()) {
            ASSERT_EQ(due, std::vector<pid_t>{7});
            if (probes > 0) {
                intervals.push_back(now - last);
            }
            last = now;
            ++probes;
            // Not due twice for one moment.
            EXPECT_TRUE(programs.dueForProbe(now).empty());
        }
        now += 0.125;
    }
    ASSERT_FALSE(intervals.empty());
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        EXPECT_NEAR(intervals[i], expected, 0.13) << "probe " << i + 1;
        expected = std::min(expected * 2, R::longestProbeInterval);
    }
    EXPECT_NEAR(intervals.back(), R::longestProbeInterval, 0.13);
}

TEST(AtspiResponsiveness, aSecondMissDoesNotPutOffTheProbeAndAnAnswerStartsAfresh) {
    AtspiResponsiveness programs;
    programs.missed(7, 0.0);
    programs.missed(7, 0.4); // the main thread gave up again meanwhile
    EXPECT_EQ(programs.dueForProbe(R::firstProbeAfter), std::vector<pid_t>{7});
    EXPECT_TRUE(programs.dueForProbe(R::firstProbeAfter * 1.5).empty());
    programs.answered(7);
    programs.missed(7, 20.0);
    EXPECT_EQ(programs.dueForProbe(20.0 + R::firstProbeAfter), std::vector<pid_t>{7});
}

TEST(AtspiResponsiveness, forgetsProgramsThatAreGoneAndProbesEachDueOne) {
    AtspiResponsiveness programs;
    programs.missed(1, 0.0);
    programs.missed(2, 0.0);
    programs.missed(3, 5.0);
    auto due = programs.dueForProbe(1.0);
    EXPECT_EQ(due, (std::vector<pid_t>{1, 2}));
    programs.forget(2);
    EXPECT_FALSE(programs.isSkipped(2));
    EXPECT_EQ(programs.skippedCount(), 2u);
}

TEST(AtspiAnswerCache, asksOnceForAMissingAnswerAndKeepsTheOldOneUntilTheNewArrives) {
    AtspiAnswerCache<int, bool> cache(0.1);
    auto first = cache.read(5, 1.0);
    EXPECT_FALSE(first.value);
    EXPECT_TRUE(first.refresh);
    // Every frame until the worker answers: no second request piles up behind the first.
    EXPECT_FALSE(cache.read(5, 1.02).refresh);
    EXPECT_FALSE(cache.read(5, 1.5).refresh);
    cache.store(5, true, 1.5);
    auto fresh = cache.read(5, 1.55);
    EXPECT_EQ(fresh.value, true);
    EXPECT_FALSE(fresh.refresh);
    auto stale = cache.read(5, 1.6);
    EXPECT_EQ(stale.value, true);
    EXPECT_TRUE(stale.refresh);
    // The worker could not tell: the old answer stays, and the next read asks again.
    cache.store(5, std::nullopt, 1.7);
    auto kept = cache.read(5, 1.71);
    EXPECT_EQ(kept.value, true);
    EXPECT_TRUE(kept.refresh);
}

TEST(AtspiAnswerCache, keepsEachKeyApartAndTreatsATimeBeforeTheAnswerAsStale) {
    AtspiAnswerCache<int, bool> cache(0.1);
    cache.read(1, 0.0);
    cache.store(1, false, 0.0);
    EXPECT_TRUE(cache.read(2, 0.01).refresh);
    EXPECT_FALSE(cache.read(1, 0.01).refresh);
    EXPECT_TRUE(cache.read(1, -5.0).refresh);
    cache.clear();
    EXPECT_FALSE(cache.read(1, 0.02).value);
}

} // namespace
} // namespace orvane::linuxbackend
