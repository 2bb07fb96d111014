#pragma once

#include "backends/linux/dbus/BusLoop.hpp"
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

// Where a worker's results go: the queue given, else the installed platform's at each post.
std::shared_ptr<MainQueue> resultQueue(const std::shared_ptr<MainQueue>& given);

} // namespace orvane::linuxbackend
