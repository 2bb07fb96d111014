#pragma once

#include "backends/linux/camera/FrameSource.hpp"
#include "orvane/platform/SerialQueue.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace orvane::linuxbackend {

// Hands frames to a serial queue so that at most one frame task waits there: a newer frame
// takes the place of the one not yet delivered. A busy consumer sees the newest frame next and
// never a backlog. Any thread.
class NewestFramePoster {
public:
    using Handler = std::function<void(const PixelBuffer&)>;

    NewestFramePoster();
    // Frames still waiting are dropped.
    ~NewestFramePoster();
    NewestFramePoster(const NewestFramePoster&) = delete;
    NewestFramePoster& operator=(const NewestFramePoster&) = delete;

    void setTarget(std::shared_ptr<SerialQueue> queue, Handler handler);
    void post(CameraFrame frame);
    // Forgets the frame not yet delivered (after a stop, an old frame is no news).
    void dropPending();

private:
    struct State {
        std::mutex mutex;
        std::shared_ptr<SerialQueue> queue;
        std::shared_ptr<const Handler> handler;
        std::optional<CameraFrame> pending;
        bool scheduled = false;
        bool closed = false;
    };
    static void deliver(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
};

} // namespace orvane::linuxbackend
