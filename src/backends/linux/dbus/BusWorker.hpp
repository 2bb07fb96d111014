#pragma once

#include "orvane/platform/MainQueue.hpp"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct sd_event;
struct sd_event_source;

namespace orvane::linuxbackend {

class BusLoop;

// A thread of its own running an sd-event loop, for one D-Bus client: its connections, timers
// and calls live there, so that nothing on the main thread ever waits for a peer. The client's
// state is made, used and destroyed on that thread, inside `body`.
class BusWorker {
public:
    // `whenDown` names what goes unwatched when the worker cannot run; it heads that log line.
    explicit BusWorker(std::string whenDown);
    // Stops the loop and joins the thread.
    ~BusWorker();
    BusWorker(const BusWorker&) = delete;
    BusWorker& operator=(const BusWorker&) = delete;

    // Starts the thread, which makes its loop and hands it to `body`; `body` sets up and calls
    // `BusLoop::run`. When the thread or its loop cannot be had, the reason is logged and given
    // to `failed` (on the worker's thread, or on the caller's when there is none), and `body`
    // is never called. False when there is no thread.
    bool start(std::function<void(BusLoop&)> body,
               std::function<void(const std::string&)> failed = {});
    // Ends the loop and joins the thread; returns at once even while a peer has not answered.
    // Tasks not yet run are dropped.
    void stop();
    // Any thread but the worker's: runs `task` on the worker; false when it does not run.
    bool post(std::function<void()> task);
    bool isRunning() const { return thread_.joinable(); }

private:
    void run();
    void fail(const std::string& problem);
    static int onWake(sd_event_source* source, int fd, std::uint32_t events, void* userdata);

    std::string whenDown_;
    std::function<void(BusLoop&)> body_;
    std::function<void(const std::string&)> failed_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_; // guarded by mutex_
    std::atomic<bool> stopping_{false};
    int wakeFd_ = -1; // an eventfd: a task came, or the loop is to end
    std::thread thread_;
};

// The worker's loop as its thread sees it; valid inside the worker's body only.
class BusLoop {
public:
    explicit BusLoop(sd_event* event) : event_(event) {}
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    sd_event* event() const { return event_; }
    // Runs until the worker stops or `exit` is called; a negative errno when the loop failed.
    int run();
    void exit();
    // The loop's monotonic time, in microseconds.
    std::uint64_t now() const;

private:
    sd_event* event_;
};

// A timer on a worker's loop, calling `fire` on its thread; off until armed.
class BusTimer {
public:
    BusTimer(BusLoop& loop, std::function<void()> fire);
    ~BusTimer();
    BusTimer(const BusTimer&) = delete;
    BusTimer& operator=(const BusTimer&) = delete;

    // Fires once, `microseconds` from now, replacing an earlier arming.
    void once(std::uint64_t microseconds);
    // Fires every `microseconds`, the first time that long from now.
    void every(std::uint64_t microseconds);
    void cancel();
    bool isArmed() const;

private:
    static int onTime(sd_event_source* source, std::uint64_t usec, void* userdata);
    void arm(std::uint64_t microseconds, int mode);

    BusLoop& loop_;
    std::function<void()> fire_;
    sd_event_source* source_ = nullptr;
    std::uint64_t period_ = 0; // 0: once
};

// Where a worker's results go: the queue given, else the installed platform's at each post.
std::shared_ptr<MainQueue> resultQueue(const std::shared_ptr<MainQueue>& given);

} // namespace orvane::linuxbackend
