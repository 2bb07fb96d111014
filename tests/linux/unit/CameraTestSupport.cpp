#include "CameraTestSupport.hpp"

#include <cstdlib>
#include <future>

namespace orvane::linuxbackend {

FrameCollector::FrameCollector() : state_(std::make_shared<State>()) {}

std::function<void(const PixelBuffer&)> FrameCollector::handler() {
    return [state = state_](const PixelBuffer& buffer) {
        SeenFrame seen{buffer.width,
                       buffer.height,
                       buffer.bytesPerRow,
                       buffer.format,
                       0,
                       std::chrono::steady_clock::now()};
        const int channels = buffer.format == PixelFormat::gray8   ? 1
                             : buffer.format == PixelFormat::bgr24 ? 3
                                                                   : 4;
        const auto brightness = [&](int row) {
            const auto* pixel = buffer.data + row * buffer.bytesPerRow +
                                static_cast<std::size_t>(buffer.width / 2 * channels);
            int sum = 0;
            for (int channel = 0; channel < std::min(channels, 3); ++channel) {
                sum += pixel[channel];
            }
            return sum / std::min(channels, 3);
        };
        seen.centre = brightness(buffer.height / 2);
        seen.bottom = brightness(buffer.height - 1);
        seen.pictureRows = buffer.pictureRows;
        std::lock_guard lock(state->mutex);
        state->frames.push_back(seen);
        state->arrived.notify_all();
    };
}

bool FrameCollector::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->arrived.wait_for(lock, timeout, [&] { return state_->frames.size() >= count; });
}

std::vector<SeenFrame> FrameCollector::frames() const {
    std::lock_guard lock(state_->mutex);
    return state_->frames;
}

void CountingQueue::async(Task task) {
    ++posted_;
    inner_->async(std::move(task));
}

bool CountingQueue::drain(std::chrono::milliseconds timeout) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    inner_->async([done] { done->set_value(); });
    return finished.wait_for(timeout) == std::future_status::ready;
}

} // namespace orvane::linuxbackend
