#include "backends/linux/atspi/AtspiWorker.hpp"

#include <glib-object.h>
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace orvane::linuxbackend {
namespace {

struct Posted {
    std::function<bool()> task; // true: again
};

std::atomic<double>* taskStart = nullptr;

constexpr const char* variable = "QT_NO_GLIB";

gboolean runPosted(gpointer data) {
    // Tasks may nest (libatspi dispatches while it waits): the outermost one is timed.
    const bool outermost = *taskStart == 0;
    if (outermost) {
        *taskStart = AtspiWorker::monotonic();
    }
    const bool again = static_cast<Posted*>(data)->task();
    if (outermost) {
        *taskStart = 0;
    }
    return again ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void deletePosted(gpointer data) {
    delete static_cast<Posted*>(data);
}

} // namespace

AtspiWorker& AtspiWorker::shared() {
    // Never destroyed: the thread may be inside libatspi when the process exits.
    static AtspiWorker* worker = new AtspiWorker();
    return *worker;
}

// GLib's default context: libatspi puts the private connections of the programs it asks there,
// whatever context it is told to use.
AtspiWorker::AtspiWorker() : context_(g_main_context_ref(g_main_context_default())) {
    taskStart = &taskStart_;
    std::mutex started;
    std::condition_variable ready;
    bool running = false;
    thread_ = std::thread([&] {
        {
            std::lock_guard lock(started);
            id_ = std::this_thread::get_id();
            running = true;
        }
        ready.notify_all();
        run();
    });
    std::unique_lock lock(started);
    ready.wait(lock, [&] { return running; });
    thread_.detach();
}

void AtspiWorker::run() {
    // Held for good, so that no other thread can ever dispatch libatspi's connections: one
    // that iterates this context blocks, or returns at once if it does not wait.
    if (!g_main_context_acquire(context_)) {
        std::fputs("orvane: another thread runs GLib's default main context; accessibility "
                   "answers may be late\n",
                   stderr);
    }
    for (;;) {
        g_main_context_iteration(context_, TRUE);
    }
}

double AtspiWorker::busyFor() const {
    const double start = taskStart_;
    return start == 0 ? 0 : monotonic() - start;
}

bool AtspiWorker::isWorkerThread() const {
    return std::this_thread::get_id() == id_;
}

void AtspiWorker::post(std::function<void()> task) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runPosted, new Posted{[task = std::move(task)] {
                              task();
                              return false;
                          }},
                          deletePosted);
    g_source_attach(source, context_);
    g_source_unref(source);
}

void AtspiWorker::every(std::chrono::milliseconds interval, std::function<bool()> task) {
    GSource* source = g_timeout_source_new(static_cast<guint>(interval.count()));
    g_source_set_callback(source, runPosted, new Posted{std::move(task)}, deletePosted);
    g_source_attach(source, context_);
    g_source_unref(source);
}

void AtspiWorker::release(void* object) {
    if (!object) {
        return;
    }
    auto& worker = shared();
    if (worker.isWorkerThread()) {
        g_object_unref(object);
    } else {
        worker.post([object] { g_object_unref(object); });
    }
}

QtLoopWithoutGLib::QtLoopWithoutGLib() {
    if (const char* value = std::getenv(variable)) {
        before_ = value;
    }
    setenv(variable, "1", 1);
}

void QtLoopWithoutGLib::restore() {
    if (std::exchange(restored_, true)) {
        return;
    }
    if (before_) {
        setenv(variable, before_->c_str(), 1);
    } else {
        unsetenv(variable);
    }
}

double AtspiWorker::monotonic() {
    return static_cast<double>(g_get_monotonic_time()) / 1e6;
}

} // namespace orvane::linuxbackend
