#include "backends/linux/camera/LinuxCameraSession.hpp"

#include <pthread.h>

namespace orvane::linuxbackend {

LinuxCameraSession::LinuxCameraSession(SourceOpener openSource, ProblemReporter reportProblem)
    : openSource_(std::move(openSource)), reportProblem_(std::move(reportProblem)) {}

LinuxCameraSession::~LinuxCameraSession() {
    std::lock_guard lock(mutex_);
    stopStreamingLocked();
    source_.reset();
}

void LinuxCameraSession::stopStreamingLocked() {
    if (streamer_.joinable()) {
        streamer_.request_stop();
        streamer_.join();
    }
    if (source_) {
        source_->stopStreaming();
    }
    poster_.dropPending();
}

CameraSession::OpenResult LinuxCameraSession::open(const CameraDevice& device) {
    std::lock_guard lock(mutex_);
    // The old input goes first: reopening the same camera must not wait for ourselves.
    stopStreamingLocked();
    source_.reset();
    auto opened = openSource_(device);
    if (auto* problem = std::get_if<std::string>(&opened)) {
        return {OpenStatus::failed, *problem};
    }
    source_ = std::move(std::get<std::unique_ptr<FrameSource>>(opened));
    return {OpenStatus::opened, {}};
}

std::optional<FrameRateRange> LinuxCameraSession::firstFrameRateRange() {
    std::lock_guard lock(mutex_);
    return source_ ? source_->frameRateRange() : std::nullopt;
}

std::optional<std::string> LinuxCameraSession::setFrameDuration(double seconds) {
    std::lock_guard lock(mutex_);
    if (!source_) {
        return "No camera is open.";
    }
    return source_->setFrameDuration(seconds);
}

void LinuxCameraSession::setFrameHandler(std::shared_ptr<SerialQueue> queue,
                                         std::function<void(const PixelBuffer&)> handler) {
    poster_.setTarget(std::move(queue), std::move(handler));
}

void LinuxCameraSession::setFrameDemand(const FrameDemand& demand) {
    pacer_.setDemand(demand);
}

void LinuxCameraSession::startRunning() {
    std::lock_guard lock(mutex_);
    if (!source_ || streamer_.joinable()) {
        return;
    }
    if (auto problem = source_->startStreaming()) {
        if (reportProblem_) {
            reportProblem_("camera did not start: " + *problem);
        }
        return;
    }
    pacer_.restart();
    streamer_ = std::jthread([source = source_.get(), poster = &poster_, pacer = &pacer_,
                              report = reportProblem_](std::stop_token stop) {
        pthread_setname_np(pthread_self(), "camera-stream");
        while (!stop.stop_requested()) {
            auto read = source->readFrame(stop, *pacer);
            if (read.ended) {
                if (report) {
                    report("camera stopped delivering frames");
                }
                return;
            }
            if (read.frame) {
                poster->post(std::move(*read.frame));
            }
        }
    });
}

void LinuxCameraSession::stopRunning() {
    std::lock_guard lock(mutex_);
    stopStreamingLocked();
}

} // namespace orvane::linuxbackend
