#include "backends/linux/x11/X11PostedKeys.hpp"

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;
using Clock = X11PostedKeys::Clock;

constexpr unsigned int altKey = 64;
constexpr unsigned int rightKey = 114;

TEST(X11PostedKeysTest, EachPostedEventIsTakenOnceAsRawAndOnceAsAStateChange) {
    X11PostedKeys posted;
    const Clock::time_point t0{};
    posted.posted(altKey, true, t0);
    posted.posted(rightKey, true, t0);
    posted.posted(rightKey, false, t0);
    posted.posted(altKey, false, t0);

    EXPECT_TRUE(posted.takeRaw(rightKey, true, t0 + 1ms));
    EXPECT_FALSE(posted.takeRaw(rightKey, true, t0 + 1ms)); // the user's second press
    EXPECT_TRUE(posted.takeRaw(altKey, true, t0 + 1ms));
    EXPECT_TRUE(posted.takeStateChange(altKey, true, t0 + 1ms));
    EXPECT_FALSE(posted.takeStateChange(altKey, true, t0 + 1ms));
    EXPECT_TRUE(posted.takeRaw(rightKey, false, t0 + 1ms));
    EXPECT_TRUE(posted.takeStateChange(altKey, false, t0 + 2ms));
    EXPECT_TRUE(posted.takeRaw(altKey, false, t0 + 2ms));
    EXPECT_FALSE(posted.takeRaw(altKey, false, t0 + 2ms));
}

TEST(X11PostedKeysTest, AnEventThatNeverCameDoesNotHideTheUsersLaterKey) {
    X11PostedKeys posted;
    const Clock::time_point t0{};
    posted.posted(rightKey, true, t0); // refused by the server: no event follows
    EXPECT_FALSE(posted.takeRaw(rightKey, true, t0 + X11PostedKeys::lifetime + 1ms));
    // Nor does a key's state entry, which only modifier keys ever use.
    posted.posted(rightKey, false, t0);
    EXPECT_TRUE(posted.takeRaw(rightKey, false, t0 + 1ms));
    EXPECT_FALSE(posted.takeStateChange(rightKey, false, t0 + X11PostedKeys::lifetime + 1ms));
}

} // namespace
} // namespace orvane::linuxbackend
