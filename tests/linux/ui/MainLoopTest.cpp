// Qt's loop and the accessibility worker in one process, as the application has them: GLib's
// default context, where libatspi hooks every program's connection, is run by the worker alone.

#include "backends/linux/atspi/AtspiWorker.hpp"

#include <QAbstractEventDispatcher>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <glib.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

TEST(X11Ui_MainLoop, GLibsDefaultContextIsRunByTheAccessibilityWorkerAlone) {
    auto& worker = AtspiWorker::shared();
    const auto workerThread =
        worker.call<std::thread::id>(5s, [] { return std::this_thread::get_id(); }).value;
    ASSERT_TRUE(workerThread.has_value());

    EXPECT_FALSE(QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"));
    EXPECT_FALSE(g_main_context_acquire(g_main_context_default()))
        << "the main thread could dispatch libatspi's connections";
    EXPECT_EQ(std::getenv("QT_NO_GLIB"), nullptr) << "the programs Orvane starts would inherit it";

    // What a library attaches there from the main thread runs on the worker, as libatspi's
    // connections do.
    struct Seen {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<std::thread::id> thread;
    } seen;
    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* seen = static_cast<Seen*>(data);
            {
                std::lock_guard lock(seen->mutex);
                seen->thread = std::this_thread::get_id();
            }
            seen->done.notify_all();
            return G_SOURCE_REMOVE;
        },
        &seen);
    std::unique_lock lock(seen.mutex);
    ASSERT_TRUE(seen.done.wait_for(lock, 5s, [&] { return seen.thread.has_value(); }));
    EXPECT_EQ(*seen.thread, *workerThread);
}

} // namespace
} // namespace orvane::linuxbackend
