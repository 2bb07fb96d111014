#include "backends/linux/camera/V4l2CameraService.hpp"

#include "backends/linux/camera/ClipFrameSource.hpp"
#include "backends/linux/camera/LinuxCameraSession.hpp"
#include "backends/linux/camera/SystemV4l2Io.hpp"
#include "backends/linux/camera/V4l2Discovery.hpp"
#include "backends/linux/camera/V4l2FrameSource.hpp"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace orvane::linuxbackend {

struct V4l2CameraService::Shared {
    Shared(std::shared_ptr<V4l2Io> io, Options options)
        : io(io), options(std::move(options)),
          discovery(std::move(io), this->options.devRoot, this->options.sysRoot) {}

    std::variant<std::unique_ptr<FrameSource>, std::string>
    openSource(const CameraDevice& device) const {
        const std::string_view id = device.uniqueID;
        if (id.substr(0, clipIdPrefix.size()) == clipIdPrefix) {
            auto clip = std::make_unique<ClipFrameSource>(
                std::string(id.substr(clipIdPrefix.size())), options.frameFormat);
            if (auto problem = clip->load()) {
                return *problem;
            }
            return clip;
        }
        const auto path = nodePath(device.uniqueID);
        if (!path) {
            return std::system_category().message(ENODEV); // unplugged since it was listed
        }
        auto camera = std::make_unique<V4l2FrameSource>(io, *path, options.releaseTimeout,
                                                        options.frameFormat);
        if (auto problem = camera->acquire()) {
            return *problem;
        }
        return camera;
    }

    // The node a camera id stands for, by the one name every route to it resolves to (the
    // registry of held devices is keyed by it).
    std::optional<std::string> nodePath(const std::string& id) const {
        std::error_code error;
        const auto link = options.devRoot / "v4l" / "by-id" / id;
        if (id.find('/') == std::string::npos && std::filesystem::is_symlink(link, error)) {
            // A by-id link leads to its node even when we may not open it: the open then says
            // why, rather than "no such device".
            auto linked = std::filesystem::canonical(link, error);
            if (!error) {
                return linked.string();
            }
        }
        for (const auto& node : discovery.captureNodes()) {
            if (node.device.uniqueID == id) {
                auto resolved = std::filesystem::canonical(node.path, error);
                return error ? node.path : resolved.string();
            }
        }
        return std::nullopt;
    }

    std::shared_ptr<V4l2Io> io;
    Options options;
    V4l2Discovery discovery;
};

V4l2CameraService::V4l2CameraService(std::shared_ptr<V4l2Io> io, Options options)
    : shared_(std::make_shared<const Shared>(std::move(io), std::move(options))) {}

CameraAuthorization V4l2CameraService::authorizationStatus() const {
    return shared_->discovery.authorization();
}

void V4l2CameraService::requestAccess(std::function<void(bool granted)> completion) {
    if (completion) {
        completion(authorizationStatus() == CameraAuthorization::authorized);
    }
}

std::vector<CameraDevice> V4l2CameraService::devices() const {
    std::vector<CameraDevice> devices;
    for (auto& node : shared_->discovery.captureNodes()) {
        devices.push_back(std::move(node.device));
    }
    for (const auto& path : shared_->options.clipPaths) {
        devices.push_back(clipDevice(path));
    }
    return devices;
}

std::unique_ptr<CameraSession> V4l2CameraService::makeSession() {
    return std::make_unique<LinuxCameraSession>(
        [shared = shared_](const CameraDevice& device) { return shared->openSource(device); },
        shared_->options.reportProblem);
}

std::vector<std::string> V4l2CameraService::clipPathsFrom(const char* variable) {
    std::vector<std::string> paths;
    if (variable == nullptr) {
        return paths;
    }
    const std::string_view list = variable;
    std::size_t start = 0;
    while (start <= list.size()) {
        auto end = list.find(':', start);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        if (end > start) {
            paths.emplace_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return paths;
}

CameraDevice V4l2CameraService::clipDevice(const std::string& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    if (error) {
        absolute = path;
    }
    absolute = absolute.lexically_normal();
    return {std::string(clipIdPrefix) + absolute.string(),
            "Recorded clip (" + absolute.filename().string() + ")"};
}

std::shared_ptr<CameraService>
makeLinuxCameraService(std::function<void(const std::string&)> reportProblem) {
    V4l2CameraService::Options options;
    options.clipPaths = V4l2CameraService::clipPathsFrom(std::getenv("ORVANE_CAMERA_FILES"));
    options.reportProblem = std::move(reportProblem);
    // The face detector reads grey: decoding straight to it skips the colour planes.
    options.frameFormat = PixelFormat::gray8;
    return std::make_shared<V4l2CameraService>(std::make_shared<SystemV4l2Io>(),
                                               std::move(options));
}

} // namespace orvane::linuxbackend
