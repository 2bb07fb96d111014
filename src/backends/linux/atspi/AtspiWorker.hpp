#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

typedef struct _GMainContext GMainContext;

namespace orvane::linuxbackend {

// The one thread that speaks AT-SPI. libatspi is not thread-safe and some of the programs it
// asks may hang (or be this very process, whose accessibility tree only the main thread can
// answer), so every libatspi call runs here, on GLib's default main context, which libatspi
// delivers its events on and which this thread alone iterates (Qt's loop is not GLib's); the
// main thread hands work over and waits for it a few milliseconds at most. One per process, as
// libatspi's connection is.
class AtspiWorker {
public:
    static AtspiWorker& shared();

    // Runs `task` on the worker, after those posted before it. From any thread.
    void post(std::function<void()> task);

    // Runs `task` every `interval` on the worker until it answers false.
    void every(std::chrono::milliseconds interval, std::function<bool()> task);

    enum class Outcome {
        done,
        late,   // it started but did not end within the budget
        queued, // the worker was busy with something else the whole time
    };
    template <typename T> struct Answer {
        Outcome outcome = Outcome::queued;
        std::optional<T> value;
    };

    // Runs `task` on the worker and waits at most `budget` for its value; on the worker itself
    // it runs at once. A task that misses the budget still runs to its end, its value dropped.
    template <typename T>
    Answer<T> call(std::chrono::milliseconds budget, std::function<T()> task) {
        if (isWorkerThread()) {
            return {Outcome::done, task()};
        }
        // Stuck on something longer than a budget already (a program libatspi still waits
        // for): the next questions are not worth a wait each.
        if (busyFor() > std::chrono::duration<double>(budget).count()) {
            return {Outcome::queued, std::nullopt};
        }
        struct State {
            std::mutex mutex;
            std::condition_variable done;
            bool started = false, finished = false;
            std::optional<T> value;
        };
        auto state = std::make_shared<State>();
        post([state, task = std::move(task)] {
            {
                std::lock_guard lock(state->mutex);
                state->started = true;
            }
            auto value = task();
            {
                std::lock_guard lock(state->mutex);
                state->value = std::move(value);
                state->finished = true;
            }
            state->done.notify_all();
        });
        std::unique_lock lock(state->mutex);
        state->done.wait_for(lock, budget, [&] { return state->finished; });
        if (state->finished) {
            return {Outcome::done, std::move(state->value)};
        }
        return {state->started ? Outcome::late : Outcome::queued, std::nullopt};
    }

    bool isWorkerThread() const;
    // How long the task under way has run, in seconds; 0 between tasks.
    double busyFor() const;

    // Drops one reference to a libatspi object on the worker (at once when called there).
    static void release(void* object);

    // Monotonic seconds, for the bookkeeping of who answers.
    static double monotonic();

private:
    AtspiWorker();
    ~AtspiWorker() = delete; // lives as long as the process: libatspi does too
    void run();

    GMainContext* context_;
    std::atomic<double> taskStart_{0}; // monotonic seconds; 0: idle
    std::thread thread_;
    std::thread::id id_;
};

// GLib's default context is the worker's alone, so Qt's event loop must not be GLib's. Make
// one just before the Q*Application, which is when Qt chooses its loop, and call restore()
// right after: the programs Orvane starts find the environment as it was.
class QtLoopWithoutGLib {
public:
    QtLoopWithoutGLib();
    ~QtLoopWithoutGLib() { restore(); }
    void restore();
    QtLoopWithoutGLib(const QtLoopWithoutGLib&) = delete;
    QtLoopWithoutGLib& operator=(const QtLoopWithoutGLib&) = delete;

private:
    std::optional<std::string> before_;
    bool restored_ = false;
};

} // namespace orvane::linuxbackend
