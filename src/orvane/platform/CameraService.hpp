#pragma once

#include "orvane/platform/SerialQueue.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

enum class CameraAuthorization { notDetermined, restricted, denied, authorized };

struct CameraDevice {
    std::string uniqueID; // stable across runs and reconnections; stored as "cameraID"
    std::string localizedName;
};

// How the bytes of a frame are laid out. Cameras hand over what they decode to most cheaply;
// the face detector reads each of these.
enum class PixelFormat {
    bgra32, // 4 bytes a pixel: blue, green, red, alpha
    bgr24,  // 3 bytes a pixel: blue, green, red
    gray8,  // 1 byte a pixel: luminance
};

// One video frame, valid only for the duration of the call it is passed to.
struct PixelBuffer {
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    const std::uint8_t* data = nullptr;
    PixelFormat format = PixelFormat::bgra32;
    // The rows from the top that hold the picture, the rest black (see FrameDemand::topRows);
    // 0: all of them.
    int pictureRows = 0;
};

// Supported frame durations of the active format, in seconds.
struct FrameRateRange {
    double minFrameDuration = 0;
    double maxFrameDuration = 0;
};

// What the consumer needs of the frames to come. A session may deliver fewer and smaller frames
// than its camera gives, and should then not decode the rest; one that cannot is still right.
struct FrameDemand {
    // At most this many frames a second; 0: every frame that comes.
    double framesPerSecond = 0;
    // Frames may be scaled down so long as their longer side keeps at least this many pixels;
    // 0: full size.
    int minimumSide = 0;
    // Only the top this fraction of each frame's rows is looked at: the rows below may be left
    // black rather than decoded (the frame says so). 1: the whole frame.
    double topRows = 1;

    bool operator==(const FrameDemand&) const = default;
};

// A capture session for one camera at a time. Configuration happens on the main thread;
// `startRunning`/`stopRunning` block and are called on the session's serial queue.
class CameraSession {
public:
    virtual ~CameraSession() = default;

    // Replaces the session's input with `device` at 1280 x 720. On failure: the localised
    // description of why the camera could not be opened.
    enum class OpenStatus { opened, failed, unavailable };
    struct OpenResult {
        OpenStatus status = OpenStatus::opened;
        std::string description; // set with `failed`
    };
    virtual OpenResult open(const CameraDevice& device) = 0;

    // The first frame-rate range of the active format; nullopt when it lists none.
    virtual std::optional<FrameRateRange> firstFrameRateRange() = 0;

    // Fixes the frame duration (min = max = `seconds`). On failure: the description of why the
    // device could not be locked for configuration.
    virtual std::optional<std::string> setFrameDuration(double seconds) = 0;

    // Frames arrive on `queue`, late ones dropped rather than queued.
    virtual void setFrameHandler(std::shared_ptr<SerialQueue> queue,
                                 std::function<void(const PixelBuffer&)> handler) = 0;

    // Applies to the frames after the one being delivered. Any thread.
    virtual void setFrameDemand(const FrameDemand&) {}

    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;
};

class CameraService {
public:
    virtual ~CameraService() = default;

    // Asked afresh at every use, never cached.
    virtual CameraAuthorization authorizationStatus() const = 0;

    // Asks the user; `completion` gets the answer on an arbitrary thread.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;

    // Connected cameras in a stable order (built-in first).
    virtual std::vector<CameraDevice> devices() const = 0;

    virtual std::unique_ptr<CameraSession> makeSession() = 0;
};

} // namespace orvane
