#include "backends/linux/camera/NewestFramePoster.hpp"

namespace orvane::linuxbackend {

NewestFramePoster::NewestFramePoster() : state_(std::make_shared<State>()) {}

NewestFramePoster::~NewestFramePoster() {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->pending.reset();
    state_->handler.reset();
}

void NewestFramePoster::setTarget(std::shared_ptr<SerialQueue> queue, Handler handler) {
    std::lock_guard lock(state_->mutex);
    state_->queue = std::move(queue);
    state_->handler = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
}

void NewestFramePoster::post(CameraFrame frame) {
    std::shared_ptr<SerialQueue> queue;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closed || !state_->queue) {
            return;
        }
        state_->pending = std::move(frame);
        if (state_->scheduled) {
            return; // the task already waiting will take this frame instead
        }
        state_->scheduled = true;
        queue = state_->queue;
    }
    queue->async([state = state_] { deliver(state); });
}

void NewestFramePoster::dropPending() {
    std::lock_guard lock(state_->mutex);
    state_->pending.reset();
}

void NewestFramePoster::deliver(const std::shared_ptr<State>& state) {
    CameraFrame frame;
    std::shared_ptr<const Handler> handler;
    {
        std::lock_guard lock(state->mutex);
        state->scheduled = false;
        if (state->closed || !state->pending) {
            return;
        }
        frame = std::move(*state->pending);
        state->pending.reset();
        handler = state->handler;
    }
    if (!handler || !*handler) {
        return;
    }
    PixelBuffer buffer;
    buffer.width = frame.image.cols;
    buffer.height = frame.image.rows;
    buffer.bytesPerRow = frame.image.step[0];
    buffer.data = frame.image.data;
    buffer.format = frame.format;
    buffer.pictureRows = frame.pictureRows;
    (*handler)(buffer);
}

} // namespace orvane::linuxbackend
