#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <thread>

namespace orvane::linuxbackend {

class X11Connection;

// Reads one X connection's events on a thread of its own, so that a watcher never waits on the
// main thread. The connection must outlive the thread: stop (or destroy) this first.
class X11EventThread {
public:
    X11EventThread() = default;
    ~X11EventThread() { stop(); }
    X11EventThread(const X11EventThread&) = delete;
    X11EventThread& operator=(const X11EventThread&) = delete;

    // Calls `onEvent` for every event and then `afterBatch` (if set) whenever the queue has been
    // drained, both on the thread. Ends by itself when the connection is lost. False when the
    // thread could not be started.
    bool start(X11Connection& connection, std::function<void(XEvent&)> onEvent,
               std::function<void()> afterBatch = {});

    // Wakes the thread and waits for it; no callback runs after this returns.
    void stop();

    bool isRunning() const { return thread_.joinable(); }

private:
    void run(X11Connection& connection);

    std::function<void(XEvent&)> onEvent_;
    std::function<void()> afterBatch_;
    std::thread thread_;
    int wakeFd_ = -1;
};

} // namespace orvane::linuxbackend
