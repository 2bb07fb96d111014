#include "SessionBusTestSupport.hpp"

#include "backends/linux/session/SessionNotifier.hpp"
#include "backends/linux/session/SessionWatcher.hpp"

#include "orvane/platform/Platform.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace orvane::linuxbackend::test {
namespace {

using Events = std::vector<WorkspaceEvent>;
constexpr auto willSleep = WorkspaceEvent::willSleep;
constexpr auto didWake = WorkspaceEvent::didWake;
constexpr auto locked = WorkspaceEvent::screenLocked;
constexpr auto unlocked = WorkspaceEvent::screenUnlocked;

// Collects what a watcher reports, from its thread, for the test thread to wait on.
class Recorder {
public:
    SessionWatcher::Report report() {
        return [this](WorkspaceEvent event) {
            {
                std::lock_guard lock(mutex_);
                events_.push_back(event);
            }
            changed_.notify_all();
        };
    }

    std::function<void()> watching() {
        return [this] {
            {
                std::lock_guard lock(mutex_);
                watching_ = true;
            }
            changed_.notify_all();
        };
    }

    bool waitUntilWatching() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, busTimeout, [&] { return watching_; });
    }

    bool isWatching() {
        std::lock_guard lock(mutex_);
        return watching_;
    }

    // Waits until `count` events have come; the events then, whatever their number.
    Events waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, busTimeout, [&] { return events_.size() >= count; });
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Events events_;
    bool watching_ = false;
};

// Both buses on `system` and `session`, and no session id from the environment.
void pointAtBuses(ScopedEnvironment& environment, const std::string& system,
                  const std::string& session) {
    environment.set("DBUS_SYSTEM_BUS_ADDRESS", system);
    environment.set("DBUS_SESSION_BUS_ADDRESS", session);
    environment.set("XDG_SESSION_ID", std::nullopt);
}

TEST(SessionWatcher, FollowsLogindsSleepAndTheLockOfItsOwnSessionOncePerChange) {
    LogCapture log;
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    pointAtBuses(environment, bus.address(), bus.address());
    FakeLogind logind(bus.address(), {});
    ASSERT_TRUE(logind.isReady());
    BusClient other(bus.address()); // neither logind nor a screen saver
    ASSERT_TRUE(other.isConnected());

    Recorder recorder;
    SessionWatcher watcher(recorder.report(), recorder.watching());
    ASSERT_TRUE(logind.serveUntilCalls(1));
    ASSERT_TRUE(recorder.waitUntilWatching());
    EXPECT_EQ(logind.calls(),
              std::vector<std::string>{"GetSessionByPID " + std::to_string(getpid())});

    ASSERT_TRUE(logind.prepareForSleep(true));
    ASSERT_EQ(recorder.waitFor(1), (Events{willSleep}));
    // A client that only claims logind's interface is not believed; another session's lock is
    // not ours; a sleep signal of the wrong shape is dropped. The wake after them comes alone.
    ASSERT_TRUE(
        other.emit(FakeLogind::managerPath, FakeLogind::managerInterface, "PrepareForSleep", true));
    ASSERT_TRUE(other.emit(FakeLogind::sessionPath, FakeLogind::sessionInterface, "Lock"));
    ASSERT_TRUE(other.sync());
    ASSERT_TRUE(logind.lock("/org/freedesktop/login1/session/c8"));
    ASSERT_TRUE(logind.client().emitText(FakeLogind::managerPath, FakeLogind::managerInterface,
                                         "PrepareForSleep", "yes"));
    ASSERT_TRUE(logind.prepareForSleep(false));
    ASSERT_EQ(recorder.waitFor(2), (Events{willSleep, didWake}));

    // Lock and unlock through the signals and the hint, each change reported once.
    ASSERT_TRUE(logind.lock());
    ASSERT_EQ(recorder.waitFor(3).back(), locked);
    ASSERT_TRUE(logind.lockedHint(true));
    ASSERT_TRUE(logind.unlock());
    ASSERT_EQ(recorder.waitFor(4).back(), unlocked);
    ASSERT_TRUE(logind.lockedHint(false));
    ASSERT_TRUE(logind.lockedHint(true));
    ASSERT_EQ(recorder.waitFor(5).back(), locked);
    // Properties without the hint, or with a hint that is not a boolean, change nothing.
    ASSERT_TRUE(logind.client().emitSessionProperties(FakeLogind::sessionPath, std::nullopt));
    ASSERT_TRUE(logind.client().emitSessionProperties(FakeLogind::sessionPath, false, true));
    ASSERT_TRUE(logind.prepareForSleep(true));
    ASSERT_EQ(recorder.waitFor(6).back(), willSleep);
    ASSERT_TRUE(logind.lockedHint(false));
    ASSERT_EQ(recorder.waitFor(7).back(), unlocked);

    // Logind and the screen saver telling the same lock make one change.
    ASSERT_TRUE(logind.lock());
    ASSERT_EQ(recorder.waitFor(8).back(), locked);
    ASSERT_TRUE(ScreenSaver::activeChanged(other, ScreenSaver::freedesktop, true));
    ASSERT_TRUE(ScreenSaver::activeChanged(other, ScreenSaver::gnome, false));
    EXPECT_EQ(recorder.waitFor(9), (Events{willSleep, didWake, locked, unlocked, locked, willSleep,
                                           unlocked, locked, unlocked}));
    EXPECT_TRUE(log.sink->lines(LogLevel::info).empty());
    EXPECT_TRUE(log.sink->lines(LogLevel::error).empty());
}

TEST(SessionWatcher, WithoutLogindTheScreenSaversAloneReportTheLockAndOneLineSaysSo) {
    LogCapture log;
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    pointAtBuses(environment, bus.address(), bus.address());
    BusClient saver(bus.address());
    ASSERT_TRUE(saver.isConnected());

    Recorder recorder;
    SessionWatcher watcher(recorder.report(), recorder.watching());
    ASSERT_TRUE(recorder.waitUntilWatching());
    const auto info = log.sink->lines(LogLevel::info);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_NE(info[0].find("no login session"), std::string::npos) << info[0];

    // Either interface, from any object path; a repeated state is not a change.
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::freedesktop, true));
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::freedesktop, true, "/"));
    ASSERT_TRUE(
        ScreenSaver::activeChanged(saver, ScreenSaver::gnome, false, "/org/gnome/ScreenSaver"));
    ASSERT_EQ(recorder.waitFor(2), (Events{locked, unlocked}));
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::gnome, true));
    // Another interface's ActiveChanged, and one without its boolean, are not the screen saver's.
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, "org.example.ScreenSaver", false));
    ASSERT_TRUE(
        saver.emit("/org/freedesktop/ScreenSaver", ScreenSaver::freedesktop, "ActiveChanged"));
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::freedesktop, false));
    EXPECT_EQ(recorder.waitFor(4), (Events{locked, unlocked, locked, unlocked}));
    EXPECT_EQ(log.sink->lines(LogLevel::info).size(), 1u);
    EXPECT_TRUE(log.sink->lines(LogLevel::error).empty());
}

TEST(SessionWatcher, FindsItsSessionByPidElseAutomaticallyElseByTheEnvironment) {
    const std::string pid = std::to_string(getpid());
    struct Case {
        const char* name;
        LoginAnswers answers;
        std::optional<std::string> environmentId;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"by pid", {true, false, "", true}, "c7", {"GetSessionByPID " + pid}},
        {"automatic", {false, true, "", true}, "c7", {"GetSessionByPID " + pid, "GetSession auto"}},
        {"environment",
         {false, false, "c7", true},
         "c7",
         {"GetSessionByPID " + pid, "GetSession auto", "GetSession c7"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        LogCapture log;
        PrivateBus bus;
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        ScopedEnvironment environment;
        pointAtBuses(environment, bus.address(), bus.address());
        environment.set("XDG_SESSION_ID", test.environmentId);
        FakeLogind logind(bus.address(), test.answers);
        ASSERT_TRUE(logind.isReady());

        Recorder recorder;
        SessionWatcher watcher(recorder.report(), recorder.watching());
        ASSERT_TRUE(logind.serveUntilCalls(test.calls.size()));
        ASSERT_TRUE(recorder.waitUntilWatching());
        EXPECT_EQ(logind.calls(), test.calls);
        ASSERT_TRUE(logind.lock());
        ASSERT_TRUE(logind.unlock());
        EXPECT_EQ(recorder.waitFor(2), (Events{locked, unlocked}));
        EXPECT_TRUE(log.sink->lines(LogLevel::info).empty());
    }
}

TEST(SessionWatcher, KeepsWatchingTheSessionBusWhenTheSystemBusGoesAway) {
    LogCapture log;
    PrivateBus system;
    PrivateBus session;
    ASSERT_FALSE(system.address().empty()) << "dbus-daemon did not start";
    ASSERT_FALSE(session.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    pointAtBuses(environment, system.address(), session.address());
    FakeLogind logind(system.address(), {});
    ASSERT_TRUE(logind.isReady());
    BusClient saver(session.address());
    ASSERT_TRUE(saver.isConnected());

    Recorder recorder;
    auto watcher = std::make_unique<SessionWatcher>(recorder.report(), recorder.watching());
    ASSERT_TRUE(logind.serveUntilCalls(1));
    ASSERT_TRUE(recorder.waitUntilWatching());
    ASSERT_TRUE(logind.lock());
    ASSERT_EQ(recorder.waitFor(1), (Events{locked}));

    system.stop();
    ASSERT_TRUE(log.sink->waitForLine(LogLevel::info, "system bus connection lost"));
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::freedesktop, false));
    ASSERT_TRUE(ScreenSaver::activeChanged(saver, ScreenSaver::freedesktop, true));
    EXPECT_EQ(recorder.waitFor(3), (Events{locked, unlocked, locked}));
    watcher.reset();
    EXPECT_EQ(log.sink->lines(LogLevel::info).size(), 1u);
}

TEST(SessionWatcher, StopsAtOnceWhateverItIsWaitingFor) {
    LogCapture log;
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    pointAtBuses(environment, bus.address(), bus.address());

    // Destroyed while still connecting and setting up, over and over.
    for (int round = 0; round < 20; ++round) {
        SessionWatcher watcher([](WorkspaceEvent) {});
    }

    // Destroyed while logind has taken the session look-up and never answers.
    LoginAnswers silent;
    silent.answersAtAll = false;
    FakeLogind logind(bus.address(), silent);
    ASSERT_TRUE(logind.isReady());
    Recorder recorder;
    auto watcher = std::make_unique<SessionWatcher>(recorder.report(), recorder.watching());
    ASSERT_TRUE(logind.serveUntilCalls(1));
    watcher.reset();
    EXPECT_FALSE(recorder.isWatching());
    EXPECT_TRUE(recorder.waitFor(0).empty());
}

TEST(SessionWatcher, WithNeitherBusLogsEachOnceAndStillStopsCleanly) {
    LogCapture log;
    ScopedEnvironment environment;
    pointAtBuses(environment, "unix:path=/nonexistent/orvane-system-bus",
                 "unix:path=/nonexistent/orvane-session-bus");
    Recorder recorder;
    {
        SessionWatcher watcher(recorder.report(), recorder.watching());
        ASSERT_TRUE(recorder.waitUntilWatching());
    }
    const auto info = log.sink->lines(LogLevel::info);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].rfind("system bus unavailable", 0), 0u) << info[0];
    EXPECT_EQ(info[1].rfind("session bus unavailable", 0), 0u) << info[1];
    EXPECT_TRUE(recorder.waitFor(0).empty());
}

TEST(SessionNotifier, CallsEachEventsObserversOnTheMainQueueUntilTheirSubscriptionEnds) {
    LogCapture log;
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ScopedEnvironment environment;
    pointAtBuses(environment, bus.address(), bus.address());
    FakeLogind logind(bus.address(), {});
    ASSERT_TRUE(logind.isReady());

    auto queue = std::make_shared<SignallingMainQueue>();
    Recorder ready;
    SessionNotifier notifier([queue] { return queue; }, ready.watching());
    const auto mainThread = std::this_thread::get_id();
    int lockedA = 0, lockedB = 0, unlockedC = 0, sleepD = 0, offThread = 0;
    auto count = [&](int& counter) {
        return [&] {
            ++counter;
            offThread += std::this_thread::get_id() != mainThread;
        };
    };
    auto a = notifier.observe(locked, count(lockedA));
    auto b = notifier.observe(locked, count(lockedB));
    auto c = notifier.observe(unlocked, count(unlockedC));
    auto d = notifier.observe(willSleep, count(sleepD));
    ASSERT_TRUE(a.isActive());
    ASSERT_TRUE(logind.serveUntilCalls(1));
    ASSERT_TRUE(ready.waitUntilWatching());

    ASSERT_TRUE(logind.lock());
    ASSERT_TRUE(queue->runTasksUntil([&] { return lockedA == 1; }));
    EXPECT_EQ(lockedB, 1);
    EXPECT_EQ(unlockedC + sleepD, 0);

    b.reset();
    ASSERT_TRUE(logind.unlock());
    ASSERT_TRUE(logind.lock());
    ASSERT_TRUE(queue->runTasksUntil([&] { return lockedA == 2; }));
    EXPECT_EQ(unlockedC, 1);
    EXPECT_EQ(lockedB, 1);

    ASSERT_TRUE(logind.prepareForSleep(true));
    ASSERT_TRUE(queue->runTasksUntil([&] { return sleepD == 1; }));
    EXPECT_EQ(offThread, 0);
    EXPECT_EQ(lockedA, 2);
    EXPECT_EQ(unlockedC, 1);
}

} // namespace
} // namespace orvane::linuxbackend::test
