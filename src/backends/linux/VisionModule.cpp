#include "backends/linux/VisionModule.hpp"

#include "backends/linux/vision/VisionEntry.hpp"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <system_error>

#ifndef ORVANE_VISION_MODULE_FROM_BINDIR
#define ORVANE_VISION_MODULE_FROM_BINDIR "../lib/orvane/liborvane-vision.so"
#endif

namespace orvane::linuxbackend {

struct VisionModuleState {
    std::vector<std::string> paths;
    std::function<void(const std::string&)> reportProblem;
    std::once_flag once;
    // Set once, inside `once`; read only after it.
    std::string problem;
    std::shared_ptr<CameraService> camera;
    std::shared_ptr<FaceDetector> detector;

    void load() {
        std::call_once(once, [this] {
            problem = open();
            if (!problem.empty() && reportProblem) {
                reportProblem(problem);
            }
        });
    }

private:
    std::string open() {
        std::string tried;
        for (const auto& path : paths) {
            std::error_code error;
            if (!std::filesystem::is_regular_file(path, error)) {
                tried += (tried.empty() ? "" : ", ") + path;
                continue;
            }
            return openAt(path);
        }
        return "Orvane's camera and face module is missing (looked for " +
               (tried.empty() ? std::string(VisionModule::fileName) : tried) +
               "): reinstall Orvane";
    }

    std::string openAt(const std::string& path) {
        // Kept open once used: its threads and objects live as long as the process.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            return "Orvane's camera and face module " + path +
                   " could not be loaded: " + (why ? why : "unknown error");
        }
        auto entry = reinterpret_cast<VisionEntryFunction>(::dlsym(handle, visionEntrySymbol));
        const VisionEntry* offered = entry ? entry() : nullptr;
        if (offered == nullptr || offered->abi == nullptr ||
            std::strcmp(offered->abi, visionAbi) != 0 || !offered->makeCameraService ||
            !offered->makeFaceDetector) {
            // Its text is gone with it: the reason is written first.
            std::string problem =
                path + " is not the camera and face module of this Orvane (" +
                (offered && offered->abi ? "built as \"" + std::string(offered->abi) + "\""
                                         : std::string("no entry point")) +
                "): reinstall Orvane";
            ::dlclose(handle);
            return problem;
        }
        camera = offered->makeCameraService(reportProblem);
        detector = offered->makeFaceDetector();
        return {};
    }
};

namespace {

using State = std::shared_ptr<VisionModuleState>;

// Stands for the cameras when the module could not be opened: opening fails with the reason.
class MissingSession final : public CameraSession {
public:
    explicit MissingSession(std::string problem) : problem_(std::move(problem)) {}
    OpenResult open(const CameraDevice&) override { return {OpenStatus::failed, problem_}; }
    std::optional<FrameRateRange> firstFrameRateRange() override { return std::nullopt; }
    std::optional<std::string> setFrameDuration(double) override { return problem_; }
    void setFrameHandler(std::shared_ptr<SerialQueue>,
                         std::function<void(const PixelBuffer&)>) override {}
    void startRunning() override {}
    void stopRunning() override {}

private:
    std::string problem_;
};

class LazyCameraService final : public CameraService {
public:
    explicit LazyCameraService(State state) : state_(std::move(state)) {}

    // Nothing to ask permission for when the module is missing: the cameras fail on their own.
    CameraAuthorization authorizationStatus() const override {
        auto* camera = real();
        return camera ? camera->authorizationStatus() : CameraAuthorization::authorized;
    }
    void requestAccess(std::function<void(bool)> completion) override {
        if (auto* camera = real()) {
            camera->requestAccess(std::move(completion));
        } else if (completion) {
            completion(true);
        }
    }
    std::vector<CameraDevice> devices() const override {
        auto* camera = real();
        return camera ? camera->devices() : std::vector<CameraDevice>{};
    }
    std::unique_ptr<CameraSession> makeSession() override {
        if (auto* camera = real()) {
            return camera->makeSession();
        }
        return std::make_unique<MissingSession>(state_->problem);
    }

private:
    CameraService* real() const {
        state_->load();
        return state_->camera.get();
    }
    State state_;
};

class LazyFaceDetector final : public FaceDetector {
public:
    explicit LazyFaceDetector(State state) : state_(std::move(state)) {}

    FaceDetectionResult detect(const PixelBuffer& frame, int orientation) override {
        if (auto* detector = real()) {
            return detector->detect(frame, orientation);
        }
        return {state_->problem, {}};
    }
    int searchFrameSide() const override {
        auto* detector = real();
        return detector ? detector->searchFrameSide() : 0;
    }
    int followFrameSide() const override {
        auto* detector = real();
        return detector ? detector->followFrameSide() : 0;
    }
    double followFrameRows() const override {
        auto* detector = real();
        return detector ? detector->followFrameRows() : 1;
    }
    bool isLoading() const override {
        auto* detector = real();
        return detector && detector->isLoading();
    }

private:
    FaceDetector* real() const {
        state_->load();
        return state_->detector.get();
    }
    State state_;
};

} // namespace

VisionModule::VisionModule(std::vector<std::string> paths,
                           std::function<void(const std::string&)> reportProblem)
    : state_(std::make_shared<VisionModuleState>()) {
    state_->paths = std::move(paths);
    state_->reportProblem = std::move(reportProblem);
    camera_ = std::make_shared<LazyCameraService>(state_);
    detector_ = std::make_shared<LazyFaceDetector>(state_);
}

VisionModule::~VisionModule() = default;

std::shared_ptr<CameraService> VisionModule::cameraService() const {
    return camera_;
}

std::shared_ptr<FaceDetector> VisionModule::faceDetector() const {
    return detector_;
}

std::string VisionModule::load() const {
    state_->load();
    return state_->problem;
}

std::vector<std::string> VisionModule::pathsBeside(const std::string& program,
                                                   const std::string& relativeInstall) {
    const std::filesystem::path folder = std::filesystem::path(program).parent_path();
    return {(folder / fileName).string(), (folder / relativeInstall).lexically_normal().string()};
}

std::vector<std::string> VisionModule::defaultPaths() {
    std::error_code error;
    // After an upgrade the link names the old file with " (deleted)": its folder is the same.
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return pathsBeside(program.string(), ORVANE_VISION_MODULE_FROM_BINDIR);
}

} // namespace orvane::linuxbackend
