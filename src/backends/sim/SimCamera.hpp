#pragma once

#include "backends/sim/SimClock.hpp"
#include "orvane/platform/CameraService.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane::sim {

// A camera plugged into the simulated desktop, and how it behaves.
struct SimCameraDevice {
    std::string uniqueID;
    std::string name;
    // The active format's supported frame durations; only the first is ever consulted.
    std::vector<FrameRateRange> frameRateRanges;
    // Frames per second while no frame duration has been set.
    double nativeFrameRate = 30;
    // Seconds between `startRunning` and the start of the first frame period.
    double startupDelay = 0;
    // Opening fails with this description.
    std::optional<std::string> openFailure;
    // The session refuses the camera as an input.
    bool unavailable = false;
    // Locking for configuration fails with this description.
    std::optional<std::string> lockRefusal;
    // Frames arrive without an image (a null `data`).
    bool imageless = false;
};

// The camera service of the simulated desktop. Sessions stream on virtual time: while running,
// a session has a frame due every frame duration (the one set, else the native rate); a due
// frame becomes a task on the session's serial queue carrying a 4 x 4 gray frame. Frames are
// delivered by `deliverFramesDueBy` (the desktop's `run` calls it) or at once by
// `deliverFrame`. As on real hardware, a frame is dropped while the session's previous one is
// still waiting on the queue. Sessions hold their queue weakly.
class SimCamera : public CameraService, public std::enable_shared_from_this<SimCamera> {
public:
    // "sim-camera-0", "Simulated Camera": 30 fps, durations from 1/30 s to 1 s.
    static SimCameraDevice defaultDevice();

    // Starts with the default device plugged in and access authorised.
    explicit SimCamera(std::shared_ptr<SimClock> clock);

    CameraAuthorization authorizationStatus() const override;
    // Not yet asked: answers with the access grant and records it as the status; otherwise
    // answers whether the status is `authorized`. The completion runs inside the call unless
    // requests are held.
    void requestAccess(std::function<void(bool granted)> completion) override;
    std::vector<CameraDevice> devices() const override;
    std::unique_ptr<CameraSession> makeSession() override;

    // --- Devices ----------------------------------------------------------------------------
    void setDevices(std::vector<SimCameraDevice> devices);
    void addDevice(SimCameraDevice device);
    // Unplugged: its sessions deliver nothing more.
    void removeDevice(const std::string& uniqueID);
    // Changes a plugged-in device in place (false when there is none with that identifier).
    bool updateDevice(const std::string& uniqueID,
                      const std::function<void(SimCameraDevice&)>& change);

    // --- Permission -------------------------------------------------------------------------
    void setAuthorization(CameraAuthorization status);
    // The user's answer when asked; true unless set.
    void setAccessGrant(bool granted);
    // While held, `requestAccess` keeps its completions until `answerAccessRequests`.
    void holdAccessRequests(bool hold);
    std::size_t answerAccessRequests();

    // --- What the sessions were asked to do ----------------------------------------------------
    struct Calls {
        int opens = 0; // every `open`, successful or not
        int starts = 0;
        int stops = 0;
        int frameHandlers = 0; // `setFrameHandler` calls
        std::vector<std::string> openedIDs;
        std::optional<double> lastFrameDuration; // seconds, as set
        // Every demand a session was given, in order. Sessions take note and deliver as
        // before: the capture's throttle alone thins their frames.
        std::vector<FrameDemand> demands;
    };
    Calls calls() const;
    // The devices of the running sessions that still stream (their device plugged in and a
    // frame handler set).
    std::vector<std::string> streamingDevices() const;
    // Frames discarded because the previous one of the same session was still queued.
    std::int64_t framesDropped() const;

    // --- Frames ------------------------------------------------------------------------------
    // One frame now to every streaming session, outside their schedule.
    void deliverFrame();
    // The earliest due frame of any streaming session (monotonic); nullopt when none streams.
    std::optional<double> nextFrameDue() const;
    // Enqueues every frame due by `monotonic`, in due order per session.
    void deliverFramesDueBy(double monotonic);

private:
    friend class SimCameraSession;
    struct SessionState;

    bool decideAccess();                                                  // under mutex_
    const SimCameraDevice* findDevice(const std::string& uniqueID) const; // under mutex_
    bool isStreaming(const SessionState& session) const;                  // under mutex_
    std::vector<std::shared_ptr<SessionState>> liveSessions() const;      // under mutex_
    void enqueueFrame(SessionState& session);                             // under mutex_

    std::shared_ptr<SimClock> clock_;
    mutable std::mutex mutex_;
    std::vector<SimCameraDevice> devices_;
    CameraAuthorization authorization_ = CameraAuthorization::authorized;
    bool accessGrant_ = true;
    bool holdRequests_ = false;
    std::vector<std::function<void(bool)>> heldRequests_;
    Calls calls_;
    std::int64_t framesDropped_ = 0;
    std::vector<std::weak_ptr<SessionState>> sessions_;
};

} // namespace orvane::sim
