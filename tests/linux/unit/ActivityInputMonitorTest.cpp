#include "backends/linux/wayland/client/ActivityInputMonitor.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/PostedKeys.hpp"
#include "backends/sim/ManualMainQueue.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using Kind = ActivitySignal::Kind;
constexpr double window = 0.166; // a 100 ms timer and a 66 ms pointer sample

std::vector<int> types(const std::vector<InputEvent>& events) {
    std::vector<int> result;
    for (const auto& event : events) {
        result.push_back(event.type);
    }
    return result;
}

const std::vector<int> oneKey = {InputEventType::keyDown};
const std::vector<int> oneMove = {InputEventType::mouseMoved};
const std::vector<int> none = {};

TEST(ActivityDerivation, WithoutThePointerActivityIsTypingWhileTheTimerHasNotIdled) {
    ActivityDerivation state;
    const auto derive = [&](Kind kind, double at, bool ours = false) {
        return types(ActivityInputMonitor::derive(state, {kind, at, {}}, window, false, ours));
    };
    const auto key =
        ActivityInputMonitor::derive(state, {Kind::resumed, 10, {}}, window, false, false);
    ASSERT_EQ(key.size(), 1u);
    EXPECT_EQ(key[0].key, Key::unknown);
    EXPECT_EQ(key[0].modifierFlags, 0u); // no chord check may match it
    EXPECT_EQ(derive(Kind::tick, 10.25), oneKey);
    EXPECT_EQ(derive(Kind::idled, 10.4), none);
    EXPECT_EQ(derive(Kind::tick, 10.5), none);
    // Our own posted keys resume the timer as the user's do.
    EXPECT_EQ(derive(Kind::resumed, 11, true), none);
    EXPECT_EQ(derive(Kind::tick, 11.25, true), none);
}

TEST(ActivityDerivation, UnbrokenActivityStopsCountingAsTyping) {
    // An idle inhibitor (a video playing) keeps the timer from idling as steady input would:
    // it must not hold the typing guard for as long as the video plays.
    ActivityDerivation state;
    ActivityInputMonitor::derive(state, {Kind::resumed, 0, {}}, window, false, false);
    EXPECT_EQ(
        types(ActivityInputMonitor::derive(state, {Kind::tick, 4.9, {}}, window, false, false)),
        oneKey);
    EXPECT_EQ(
        types(ActivityInputMonitor::derive(state, {Kind::tick, 5.1, {}}, window, false, false)),
        none);
    // The next burst counts again.
    ActivityInputMonitor::derive(state, {Kind::idled, 6, {}}, window, false, false);
    EXPECT_EQ(
        types(ActivityInputMonitor::derive(state, {Kind::resumed, 7, {}}, window, false, false)),
        oneKey);
}

TEST(ActivityDerivation, APointerMoveExplainsActivityOnlyNearIt) {
    ActivityDerivation state;
    const auto derive = [&](Kind kind, double at, plinth::Point pointer = {}) {
        return types(ActivityInputMonitor::derive(state, {kind, at, pointer}, window, true, false));
    };
    EXPECT_EQ(derive(Kind::pointer, 1, {100, 100}), none); // the first sample moves nothing
    EXPECT_EQ(derive(Kind::pointer, 1.1, {100, 100}), none);
    // The pointer's sample comes just after the timer resumed: the move explains the activity.
    EXPECT_EQ(derive(Kind::resumed, 2), none);
    EXPECT_EQ(derive(Kind::pointer, 2.05, {140, 100}), oneMove);
    EXPECT_EQ(derive(Kind::settle, 2.1), none);
    EXPECT_TRUE(state.undecided.empty());
    EXPECT_EQ(derive(Kind::idled, 2.2), none);
    // Seconds later, with the pointer still, activity is the keyboard.
    EXPECT_EQ(derive(Kind::resumed, 5), none);
    EXPECT_EQ(derive(Kind::pointer, 5.05, {140, 100}), none);
    EXPECT_EQ(derive(Kind::settle, 5.1), oneKey);
    // What is heard after the settle began waits for the next one.
    EXPECT_EQ(derive(Kind::tick, 5.25), none);
    EXPECT_EQ(derive(Kind::settle, 5.3), none);
    EXPECT_EQ(derive(Kind::settle, 5.35), oneKey);
    // A link that went forgets the pointer: its first sample after coming back moves nothing.
    EXPECT_EQ(derive(Kind::unavailable, 6), none);
    EXPECT_FALSE(state.active);
    EXPECT_EQ(derive(Kind::pointer, 7, {500, 500}), none);
}

class FakeActivity : public ActivitySource {
public:
    Subscription listen(std::function<void(const ActivityChange&)> listener) override {
        listener_ = std::move(listener);
        return Subscription([this] { listener_ = nullptr; });
    }
    unsigned timeoutMilliseconds() const override { return 100; }
    bool available() const override { return offered; }
    void emit(ActivityChange::Kind kind) {
        if (listener_) {
            listener_({kind});
        }
    }
    bool listened() const { return static_cast<bool>(listener_); }
    bool offered = true;

private:
    std::function<void(const ActivityChange&)> listener_;
};

class FakeLink : public CompositorLink {
public:
    CompositorSnapshot snapshot() const override { return snapshot_; }
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override {
        listener_ = std::move(listener);
        return Subscription([this] { listener_ = nullptr; });
    }
    std::optional<std::uint64_t> activateWindow(std::uint64_t) override { return std::nullopt; }
    bool warpPointer(int, int) override { return false; }
    std::optional<plinth::Point> queryPointer() override { return std::nullopt; }
    bool postKey(std::uint32_t, bool) override { return false; }
    bool watchInput(unsigned milliseconds) override {
        watching = milliseconds;
        return true;
    }
    bool waitUntilSettled(std::chrono::milliseconds) const override { return true; }

    void pointerAt(int x, int y) {
        CompositorEvent event(CompositorEvent::Kind::input);
        event.input.x = x;
        event.input.y = y;
        if (listener_) {
            listener_(event);
        }
    }
    void focusOwnWindow() {
        CompositorWindow own;
        own.id = 7;
        own.pid = static_cast<std::uint32_t>(::getpid());
        snapshot_.windows = std::make_shared<const std::vector<CompositorWindow>>(std::vector{own});
        snapshot_.focusWindow = 7;
    }

    unsigned watching = 0;

private:
    CompositorSnapshot snapshot_;
    std::function<void(const CompositorEvent&)> listener_;
};

class ActivityInputMonitorTest : public ::testing::Test {
protected:
    std::shared_ptr<sim::SimClock> clock_ = std::make_shared<sim::SimClock>();
    std::shared_ptr<sim::ManualMainQueue> queue_ = std::make_shared<sim::ManualMainQueue>(clock_);
    std::shared_ptr<FakeActivity> activity_ = std::make_shared<FakeActivity>();
    std::vector<int> seen_;

    MonitorToken install(InputMonitor& monitor) {
        const auto token = monitor.addGlobalMonitor(
            eventMask(InputEventType::keyDown) | eventMask(InputEventType::mouseMoved),
            [this](const InputEvent& event) { seen_.push_back(event.type); });
        EXPECT_TRUE(token);
        return token.value_or(0);
    }
};

TEST_F(ActivityInputMonitorTest, TypingHoldsWhileTheTimerRunsAndStopsWithIt) {
    ActivityInputMonitor monitor(activity_, nullptr, nullptr, queue_, clock_);
    EXPECT_NE(monitor.reducedGuards().find("pointer use holds it as typing does"),
              std::string::npos);
    activity_->offered = false; // a compositor with no idle timer for us tells nothing
    EXPECT_NE(monitor.reducedGuards().find("nothing of typing"), std::string::npos);
    activity_->offered = true;
    const auto token = install(monitor);
    activity_->emit(ActivityChange::Kind::resumed);
    EXPECT_EQ(seen_, oneKey);
    queue_->advance(1.0); // four ticks, the timer not idled
    EXPECT_EQ(seen_.size(), 5u);
    activity_->emit(ActivityChange::Kind::idled);
    queue_->advance(1.0);
    EXPECT_EQ(seen_.size(), 5u);
    EXPECT_EQ(queue_->activeTimerCount(), 0u);
    // An inhibited timer never idles: the ticks end by themselves.
    activity_->emit(ActivityChange::Kind::resumed);
    queue_->advance(ActivityInputMonitor::longestActivitySeconds + 1);
    EXPECT_EQ(queue_->activeTimerCount(), 0u);
    activity_->emit(ActivityChange::Kind::resumed);
    monitor.removeMonitor(token);
    EXPECT_FALSE(activity_->listened());
    EXPECT_EQ(queue_->activeTimerCount(), 0u);
}

TEST_F(ActivityInputMonitorTest, WithThePointerSampledMovesAreNotTyping) {
    auto link = std::make_shared<FakeLink>();
    ActivityInputMonitor monitor(activity_, link, nullptr, queue_, clock_);
    install(monitor);
    EXPECT_EQ(link->watching, ActivityInputMonitor::pointerSampleMilliseconds);
    EXPECT_EQ(monitor.reducedGuards().find("pointer use"), std::string::npos);
    EXPECT_NE(monitor.reducedGuards().find("clicks"), std::string::npos);
    link->pointerAt(10, 10);
    // The user takes the mouse: the timer resumes, then the sample shows the move.
    activity_->emit(ActivityChange::Kind::resumed);
    queue_->advance(0.05);
    link->pointerAt(30, 10);
    queue_->advance(0.1);
    EXPECT_EQ(seen_, oneMove);
    activity_->emit(ActivityChange::Kind::idled);
    queue_->advance(2);
    // A key with the pointer still.
    seen_.clear();
    activity_->emit(ActivityChange::Kind::resumed);
    EXPECT_EQ(seen_, none);
    queue_->advance(ActivityInputMonitor::settleSeconds);
    EXPECT_EQ(seen_, oneKey);
    activity_->emit(ActivityChange::Kind::idled);
    queue_->advance(2);
    // Keys typed into Orvane's own window are no other program's.
    seen_.clear();
    link->focusOwnWindow();
    activity_->emit(ActivityChange::Kind::resumed);
    queue_->advance(1);
    EXPECT_EQ(seen_, none);
}

TEST_F(ActivityInputMonitorTest, OurPostedKeysAreNotTheUsers) {
    bool posting = true;
    ActivityInputMonitor monitor(
        activity_, nullptr, [&posting] { return posting; }, queue_, clock_);
    install(monitor);
    activity_->emit(ActivityChange::Kind::resumed);
    EXPECT_EQ(seen_, none);
    posting = false;
    queue_->advance(ActivityInputMonitor::tickSeconds);
    EXPECT_EQ(seen_, oneKey);
}

// Our warp resets the idle timer as a key does, but is no key of ours: the GNOME shell's exact
// modifier state must not be ignored after one.
TEST(PostedKeys, KeysAndWarpsAreOursForAMoment) {
    auto now = PostedKeys::Clock::time_point{} + std::chrono::hours(1);
    PostedKeys posted([&now] { return now; });
    EXPECT_FALSE(posted.isRecentInput());
    posted.warped();
    EXPECT_FALSE(posted.isRecent());
    EXPECT_TRUE(posted.isRecentInput());
    now += PostedKeys::window + std::chrono::milliseconds(1);
    EXPECT_FALSE(posted.isRecentInput());
    posted.posted();
    EXPECT_TRUE(posted.isRecent());
    EXPECT_TRUE(posted.isRecentInput());
    now -= std::chrono::seconds(1); // a clock gone back proves nothing
    EXPECT_FALSE(posted.isRecent());
}

// A sample read long after its input (a busy machine) is judged by when the input was.
TEST(PostedKeys, InputDatedJustAfterAPostedKeyIsOursHoweverLateItIsRead) {
    auto now = PostedKeys::Clock::time_point{} + std::chrono::hours(1);
    PostedKeys posted([&now] { return now; });
    const auto at = now;
    EXPECT_FALSE(posted.explains(at));
    posted.posted();
    now += std::chrono::seconds(5);
    EXPECT_FALSE(posted.isRecent());
    EXPECT_TRUE(posted.explains(at + std::chrono::milliseconds(40)));
    EXPECT_TRUE(posted.explains(at - std::chrono::milliseconds(10)));   // dated a little early
    EXPECT_FALSE(posted.explains(at - std::chrono::milliseconds(100))); // before we posted
    EXPECT_FALSE(posted.explains(at + PostedKeys::window + std::chrono::milliseconds(1)));
}

} // namespace
} // namespace orvane::linuxbackend
