#include "backends/linux/JournaldLogSink.hpp"
#include "backends/linux/QSettingsPreferences.hpp"
#include "backends/linux/runtime/QtMainQueue.hpp"
#include "backends/linux/runtime/ThreadSerialQueue.hpp"
#include "linux/support/TemporaryDirectory.hpp"
#include "orvane/support/Prefs.hpp"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace orvane::linuxbackend {
namespace {

TEST(QSettingsPreferences, ValuesSurviveAReopenAndDefaultsAreNeverWritten) {
    test::TemporaryDirectory directory("orvane-linux");
    const auto file = (directory.path / "Orvane.conf").string();
    {
        QSettingsPreferences prefs(file);
        prefs.registerDefaults({{"settleMilliseconds", std::int64_t{300}}});
        prefs.setInteger("paneDelayMilliseconds", 450);
        prefs.setReal("turnThreshold", 72.5);
        prefs.setBool("moveCursor", false);
        prefs.setString("cameraID", "usb-0c45:6366");
        prefs.setString("free text", "%s%n = [section]");
    }
    QSettingsPreferences reopened(file);
    reopened.registerDefaults({{"settleMilliseconds", std::int64_t{300}}});
    // The INI file keeps no types: values come back as text and are converted on reading.
    EXPECT_EQ(reopened.integer("paneDelayMilliseconds"), 450);
    EXPECT_DOUBLE_EQ(reopened.real("turnThreshold"), 72.5);
    EXPECT_FALSE(reopened.boolean("moveCursor"));
    EXPECT_EQ(reopened.string("cameraID"), "usb-0c45:6366");
    EXPECT_EQ(reopened.string("free text"), "%s%n = [section]");
    EXPECT_EQ(reopened.integer("settleMilliseconds"), 300);
    EXPECT_EQ(reopened.string("missing"), std::nullopt);

    reopened.remove("cameraID");
    reopened.sync();
    QSettingsPreferences third(file);
    EXPECT_EQ(third.string("cameraID"), std::nullopt);
    std::FILE* raw = std::fopen(file.c_str(), "r");
    ASSERT_NE(raw, nullptr);
    std::string content(4096, '\0');
    content.resize(std::fread(content.data(), 1, content.size(), raw));
    std::fclose(raw);
    EXPECT_EQ(content.find("settleMilliseconds"), std::string::npos);
    EXPECT_EQ(content.find("cameraID"), std::string::npos);
}

// The INI file hands everything back as text: the typed reads must make sense of it.
TEST(QSettingsPreferences, ValuesThatMeanNothingReadAsTheDefaultAfterAReopen) {
    test::TemporaryDirectory directory("orvane-linux");
    const auto file = (directory.path / "Orvane.conf").string();
    {
        QSettingsPreferences store(file);
        store.setReal(PrefKey::typingPauseSeconds, std::numeric_limits<double>::quiet_NaN());
        store.setReal(PrefKey::turnThreshold, std::numeric_limits<double>::infinity());
        store.setString(PrefKey::settleMilliseconds, "soon");
        store.setReal(PrefKey::paneDelayMilliseconds, 1e300);
        store.setBool(PrefKey::showGazeDot, true);
        store.setString(PrefKey::moveCursor, "Off");
        store.setString(PrefKey::focusPanes, "perhaps");
        store.setString(PrefKey::learnFromClicks, "2");
        store.setReal(PrefKey::edgeMarginPoints, 12.5);
    }
    const Prefs prefs(std::make_shared<QSettingsPreferences>(file));
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 3.0);
    EXPECT_DOUBLE_EQ(prefs.turnThreshold(), 50.0);
    EXPECT_EQ(prefs.settleMilliseconds(), 300);
    EXPECT_EQ(prefs.paneDelayMilliseconds(), Prefs::longestMilliseconds);
    EXPECT_TRUE(prefs.showGazeDot());
    EXPECT_FALSE(prefs.moveCursor());
    EXPECT_TRUE(prefs.focusPanes());
    EXPECT_TRUE(prefs.learnFromClicks());
    EXPECT_DOUBLE_EQ(prefs.edgeMarginPoints(), 12.5);
}

// Earlier versions wrote Orvane.ini: a user's settings there must not be lost on upgrade.
TEST(QSettingsPreferences, TheEarlierSettingsFileIsCarriedOverButNeverOverANewerOne) {
    test::TemporaryDirectory directory("orvane-linux");
    const std::string previous =
        std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("XDG_CONFIG_HOME", directory.path.c_str(), 1);
    const auto folder = directory.path / "Orvane";
    std::filesystem::create_directories(folder);
    const auto write = [](const std::filesystem::path& file, const char* text) {
        std::FILE* raw = std::fopen(file.c_str(), "w");
        ASSERT_NE(raw, nullptr);
        std::fputs(text, raw);
        std::fclose(raw);
    };
    write(folder / "Orvane.ini", "[General]\nturnThreshold=61\n");
    EXPECT_DOUBLE_EQ(QSettingsPreferences().real("turnThreshold"), 61);
    EXPECT_TRUE(std::filesystem::exists(folder / "Orvane.conf"));
    EXPECT_FALSE(std::filesystem::exists(folder / "Orvane.ini"));

    write(folder / "Orvane.ini", "[General]\nturnThreshold=40\n");
    EXPECT_DOUBLE_EQ(QSettingsPreferences().real("turnThreshold"), 61);
    EXPECT_TRUE(std::filesystem::exists(folder / "Orvane.ini"));
    if (previous.empty()) {
        ::unsetenv("XDG_CONFIG_HOME");
    } else {
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    }
}

TEST(JournaldLogSink, WithoutAJournalWritesFinishedTextsToTheFallback) {
    std::FILE* fallback = std::tmpfile();
    ASSERT_NE(fallback, nullptr);
    JournaldLogSink sink(fallback, /*useJournal=*/false);
    sink.write(LogLevel::info, "net.orvane.Orvane", "core", "focus %s%n%d moved");
    sink.write(LogLevel::error, "net.orvane.Orvane", "core", "refit failed");
    std::rewind(fallback);
    char buffer[256] = {};
    const auto length = std::fread(buffer, 1, sizeof buffer - 1, fallback);
    std::fclose(fallback);
    EXPECT_EQ(std::string(buffer, length), "net.orvane.Orvane [info] focus %s%n%d moved\n"
                                           "net.orvane.Orvane [error] refit failed\n");
}

TEST(ThreadSerialQueue, RunsTasksInOrderOffTheCallingThread) {
    ThreadSerialQueueFactory factory;
    auto queue = factory.makeSerialQueue("net.orvane.Orvane.camera");
    std::vector<int> order;
    std::promise<std::thread::id> done;
    for (int i = 0; i < 100; ++i) {
        queue->async([&order, i] { order.push_back(i); });
    }
    queue->async([&done] { done.set_value(std::this_thread::get_id()); });
    EXPECT_NE(done.get_future().get(), std::this_thread::get_id());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(ThreadSerialQueue, ATaskMayReleaseTheLastReferenceToItsQueue) {
    auto queue = std::make_shared<ThreadSerialQueue>("self-release");
    std::promise<void> released;
    auto* raw = queue.get();
    raw->async([owned = std::move(queue), &released]() mutable {
        owned.reset();
        released.set_value();
    });
    released.get_future().get();
}

class FixedClock : public Clock {
public:
    double now() const override { return 0; }
    double monotonic() const override { return 0; }
};

TEST(QtMainQueue, RunsPostsAndTimersOnTheMainThreadUntilStopped) {
    int argc = 1;
    char name[] = "orvane_linux_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    QtMainQueue queue(std::make_shared<FixedClock>());
    std::vector<std::string> ran;
    const auto mainThread = std::this_thread::get_id();
    std::thread poster([&] { queue.post([&] { ran.push_back("from another thread"); }); });
    poster.join();
    queue.post([&] { ran.push_back("posted"); });
    auto cancelled = queue.after(0, [&] { ran.push_back("cancelled"); });
    cancelled->cancel();
    queue.after(0, [&] {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        ran.push_back("timer");
        queue.stop();
    });
    queue.runUntil(60); // the stop above ends it long before
    EXPECT_EQ(ran, (std::vector<std::string>{"from another thread", "posted", "timer"}));
}

} // namespace
} // namespace orvane::linuxbackend
