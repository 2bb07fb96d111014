#include "backends/sim/SimCamera.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <utility>

namespace orvane::sim {

struct SimCamera::SessionState {
    std::optional<std::string> deviceID; // the input
    std::weak_ptr<SerialQueue> queue;
    std::shared_ptr<const std::function<void(const PixelBuffer&)>> handler;
    bool running = false;
    std::optional<double> frameDuration;
    // Frame n (from 1) is due at origin + n * period.
    double origin = 0;
    std::int64_t scheduled = 0;
    // Set while a frame waits on the queue.
    std::shared_ptr<std::atomic<bool>> inFlight = std::make_shared<std::atomic<bool>>(false);
};

namespace {

constexpr double shortestPeriod = 1e-3;

double periodOf(const std::optional<double>& frameDuration, double nativeFrameRate) {
    const double period =
        frameDuration ? *frameDuration : (nativeFrameRate > 0 ? 1.0 / nativeFrameRate : 1.0);
    return std::isfinite(period) ? std::max(period, shortestPeriod) : 1.0;
}

} // namespace

// One session of the simulated camera; its state lives with the camera so that the camera can
// stream it, and goes when the session does.
class SimCameraSession : public CameraSession {
public:
    SimCameraSession(std::weak_ptr<SimCamera> camera,
                     std::shared_ptr<SimCamera::SessionState> state)
        : camera_(std::move(camera)), state_(std::move(state)) {}

    OpenResult open(const CameraDevice& device) override {
        auto camera = camera_.lock();
        if (!camera) {
            return {OpenStatus::failed, "The camera service has gone away."};
        }
        std::lock_guard lock(camera->mutex_);
        ++camera->calls_.opens;
        camera->calls_.openedIDs.push_back(device.uniqueID);
        state_->deviceID.reset();
        state_->frameDuration.reset();
        const auto* found = camera->findDevice(device.uniqueID);
        if (!found) {
            return {OpenStatus::failed, "The camera is not connected."};
        }
        if (found->openFailure) {
            return {OpenStatus::failed, *found->openFailure};
        }
        if (found->unavailable) {
            return {OpenStatus::unavailable, {}};
        }
        state_->deviceID = device.uniqueID;
        restartSchedule(*camera);
        return {};
    }

    std::optional<FrameRateRange> firstFrameRateRange() override {
        auto camera = camera_.lock();
        if (!camera) {
            return std::nullopt;
        }
        std::lock_guard lock(camera->mutex_);
        const auto* device = state_->deviceID ? camera->findDevice(*state_->deviceID) : nullptr;
        if (!device || device->frameRateRanges.empty()) {
            return std::nullopt;
        }
        return device->frameRateRanges.front();
    }

    std::optional<std::string> setFrameDuration(double seconds) override {
        auto camera = camera_.lock();
        if (!camera) {
            return "The camera service has gone away.";
        }
        std::lock_guard lock(camera->mutex_);
        const auto* device = state_->deviceID ? camera->findDevice(*state_->deviceID) : nullptr;
        if (!device) {
            return "No camera is open.";
        }
        if (device->lockRefusal) {
            return *device->lockRefusal;
        }
        // The frame in progress finishes at the old rate; the new one runs from there.
        if (state_->running) {
            state_->origin += static_cast<double>(state_->scheduled) *
                              periodOf(state_->frameDuration, device->nativeFrameRate);
            state_->scheduled = 0;
        }
        state_->frameDuration = seconds;
        camera->calls_.lastFrameDuration = seconds;
        return std::nullopt;
    }

    void setFrameHandler(std::shared_ptr<SerialQueue> queue,
                         std::function<void(const PixelBuffer&)> handler) override {
        auto camera = camera_.lock();
        if (!camera) {
            return;
        }
        std::lock_guard lock(camera->mutex_);
        ++camera->calls_.frameHandlers;
        state_->queue = queue;
        state_->handler =
            std::make_shared<const std::function<void(const PixelBuffer&)>>(std::move(handler));
    }

    void setFrameDemand(const FrameDemand& demand) override {
        if (auto camera = camera_.lock()) {
            std::lock_guard lock(camera->mutex_);
            camera->calls_.demands.push_back(demand);
        }
    }

    void startRunning() override {
        auto camera = camera_.lock();
        if (!camera) {
            return;
        }
        std::lock_guard lock(camera->mutex_);
        ++camera->calls_.starts;
        if (!state_->running) {
            state_->running = true;
            restartSchedule(*camera);
        }
    }

    void stopRunning() override {
        auto camera = camera_.lock();
        if (!camera) {
            return;
        }
        std::lock_guard lock(camera->mutex_);
        ++camera->calls_.stops;
        state_->running = false;
    }

private:
    // Under the camera's mutex.
    void restartSchedule(const SimCamera& camera) {
        const auto* device = state_->deviceID ? camera.findDevice(*state_->deviceID) : nullptr;
        state_->origin = camera.clock_->monotonic() + (device ? device->startupDelay : 0);
        state_->scheduled = 0;
    }

    std::weak_ptr<SimCamera> camera_;
    std::shared_ptr<SimCamera::SessionState> state_;
};

SimCameraDevice SimCamera::defaultDevice() {
    SimCameraDevice device;
    device.uniqueID = "sim-camera-0";
    device.name = "Simulated Camera";
    device.frameRateRanges = {{1.0 / 30, 1.0}};
    device.nativeFrameRate = 30;
    return device;
}

SimCamera::SimCamera(std::shared_ptr<SimClock> clock)
    : clock_(std::move(clock)), devices_{defaultDevice()} {}

CameraAuthorization SimCamera::authorizationStatus() const {
    std::lock_guard lock(mutex_);
    return authorization_;
}

void SimCamera::requestAccess(std::function<void(bool granted)> completion) {
    bool granted = false;
    {
        std::lock_guard lock(mutex_);
        if (holdRequests_) {
            heldRequests_.push_back(std::move(completion));
            return;
        }
        granted = decideAccess();
    }
    if (completion) {
        completion(granted);
    }
}

std::size_t SimCamera::answerAccessRequests() {
    std::vector<std::function<void(bool)>> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(heldRequests_);
    }
    for (auto& request : requests) {
        bool granted = false;
        {
            std::lock_guard lock(mutex_);
            granted = decideAccess();
        }
        if (request) {
            request(granted);
        }
    }
    return requests.size();
}

bool SimCamera::decideAccess() {
    if (authorization_ == CameraAuthorization::notDetermined) {
        authorization_ =
            accessGrant_ ? CameraAuthorization::authorized : CameraAuthorization::denied;
    }
    return authorization_ == CameraAuthorization::authorized;
}

void SimCamera::holdAccessRequests(bool hold) {
    std::lock_guard lock(mutex_);
    holdRequests_ = hold;
}

std::vector<CameraDevice> SimCamera::devices() const {
    std::lock_guard lock(mutex_);
    std::vector<CameraDevice> list;
    for (const auto& device : devices_) {
        list.push_back({device.uniqueID, device.name});
    }
    return list;
}

std::unique_ptr<CameraSession> SimCamera::makeSession() {
    auto state = std::make_shared<SessionState>();
    {
        std::lock_guard lock(mutex_);
        std::erase_if(sessions_, [](const auto& session) { return session.expired(); });
        sessions_.push_back(state);
    }
    return std::make_unique<SimCameraSession>(weak_from_this(), std::move(state));
}

void SimCamera::setDevices(std::vector<SimCameraDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void SimCamera::addDevice(SimCameraDevice device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
}

void SimCamera::removeDevice(const std::string& uniqueID) {
    std::lock_guard lock(mutex_);
    std::erase_if(devices_, [&](const auto& device) { return device.uniqueID == uniqueID; });
}

bool SimCamera::updateDevice(const std::string& uniqueID,
                             const std::function<void(SimCameraDevice&)>& change) {
    std::lock_guard lock(mutex_);
    for (auto& device : devices_) {
        if (device.uniqueID == uniqueID) {
            change(device);
            return true;
        }
    }
    return false;
}

void SimCamera::setAuthorization(CameraAuthorization status) {
    std::lock_guard lock(mutex_);
    authorization_ = status;
}

void SimCamera::setAccessGrant(bool granted) {
    std::lock_guard lock(mutex_);
    accessGrant_ = granted;
}

SimCamera::Calls SimCamera::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> SimCamera::streamingDevices() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& session : liveSessions()) {
        if (isStreaming(*session)) {
            ids.push_back(*session->deviceID);
        }
    }
    return ids;
}

std::int64_t SimCamera::framesDropped() const {
    std::lock_guard lock(mutex_);
    return framesDropped_;
}

void SimCamera::deliverFrame() {
    std::lock_guard lock(mutex_);
    for (const auto& session : liveSessions()) {
        if (isStreaming(*session)) {
            enqueueFrame(*session);
        }
    }
}

std::optional<double> SimCamera::nextFrameDue() const {
    std::lock_guard lock(mutex_);
    std::optional<double> next;
    for (const auto& session : liveSessions()) {
        if (!isStreaming(*session)) {
            continue;
        }
        const auto* device = findDevice(*session->deviceID);
        const double due =
            session->origin + static_cast<double>(session->scheduled + 1) *
                                  periodOf(session->frameDuration, device->nativeFrameRate);
        if (!next || due < *next) {
            next = due;
        }
    }
    return next;
}

void SimCamera::deliverFramesDueBy(double monotonic) {
    std::lock_guard lock(mutex_);
    for (const auto& session : liveSessions()) {
        if (!isStreaming(*session)) {
            continue;
        }
        const double period =
            periodOf(session->frameDuration, findDevice(*session->deviceID)->nativeFrameRate);
        while (session->origin + static_cast<double>(session->scheduled + 1) * period <=
               monotonic) {
            ++session->scheduled;
            enqueueFrame(*session);
        }
    }
}

const SimCameraDevice* SimCamera::findDevice(const std::string& uniqueID) const {
    auto found = std::find_if(devices_.begin(), devices_.end(),
                              [&](const auto& device) { return device.uniqueID == uniqueID; });
    return found == devices_.end() ? nullptr : &*found;
}

bool SimCamera::isStreaming(const SessionState& session) const {
    return session.running && session.handler && session.deviceID &&
           findDevice(*session.deviceID) != nullptr;
}

std::vector<std::shared_ptr<SimCamera::SessionState>> SimCamera::liveSessions() const {
    std::vector<std::shared_ptr<SessionState>> live;
    for (const auto& weak : sessions_) {
        if (auto session = weak.lock()) {
            live.push_back(std::move(session));
        }
    }
    return live;
}

void SimCamera::enqueueFrame(SessionState& session) {
    auto queue = session.queue.lock();
    if (!queue || session.inFlight->exchange(true)) {
        ++framesDropped_;
        return;
    }
    const auto* device = findDevice(*session.deviceID);
    const bool imageless = device && device->imageless;
    queue->async([handler = session.handler, inFlight = session.inFlight, imageless] {
        inFlight->store(false);
        static constexpr std::array<std::uint8_t, 16> gray{128, 128, 128, 128, 128, 128, 128, 128,
                                                           128, 128, 128, 128, 128, 128, 128, 128};
        const PixelBuffer frame{4, 4, 4, imageless ? nullptr : gray.data(), PixelFormat::gray8};
        if (*handler) {
            (*handler)(frame);
        }
    });
}

} // namespace orvane::sim
