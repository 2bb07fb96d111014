#include "backends/linux/VisionModule.hpp"

#include "backends/linux/camera/V4l2CameraService.hpp"
#include "linux/support/FacePhotos.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;

// Every report the module makes, counted.
struct Reports {
    std::atomic<int> count{0};
    std::string last;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& problem) {
            last = problem;
            ++count;
        };
    }
};

fs::path scratchFile(const std::string& name, const std::string& text) {
    const auto path = fs::temp_directory_path() / (name + std::to_string(::getpid()));
    std::ofstream(path) << text;
    return path;
}

// Whatever went wrong, the stand-ins fail with the reason instead of crashing: no cameras,
// a session that fails to open with it, a detector that answers every frame with it.
void expectFailsWith(const VisionModule& module, const std::string& problem) {
    auto camera = module.cameraService();
    EXPECT_TRUE(camera->devices().empty());
    auto session = camera->makeSession();
    ASSERT_NE(session, nullptr);
    const auto opened = session->open({"file:/nowhere", "clip"});
    EXPECT_EQ(opened.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(opened.description, problem);
    session->startRunning();
    session->stopRunning();

    auto detector = module.faceDetector();
    EXPECT_FALSE(detector->isLoading());
    const std::uint8_t pixel = 0;
    const auto result = detector->detect({1, 1, 1, &pixel, PixelFormat::gray8}, 5);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(*result.error, problem);
    EXPECT_TRUE(result.faces.empty());
}

TEST(VisionModule, AMissingModuleIsNamedOnceAndEveryUseFailsWithTheReason) {
    Reports reports;
    const std::string path = "/nonexistent/orvane/liborvane-vision.so";
    const VisionModule module({path}, reports.sink());
    EXPECT_EQ(reports.count, 0) << "nothing is opened before it is used";

    // From several threads at once, as the engine's and the camera's may.
    std::vector<std::thread> users;
    for (int i = 0; i < 4; ++i) {
        users.emplace_back([&module] { (void)module.cameraService()->devices(); });
    }
    for (auto& user : users) {
        user.join();
    }
    const std::string problem = module.load();
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    EXPECT_NE(problem.find("reinstall"), std::string::npos) << problem;
    expectFailsWith(module, problem);
    EXPECT_EQ(reports.count, 1);
    EXPECT_EQ(reports.last, problem);
}

TEST(VisionModule, AFileThatIsNoLibraryOrAnotherBuildsModuleIsRefused) {
    const auto text = scratchFile("orvane-vision-text", "not a library\n");
    {
        Reports reports;
        const VisionModule module({text.string()}, reports.sink());
        const std::string problem = module.load();
        EXPECT_NE(problem.find("could not be loaded"), std::string::npos) << problem;
        expectFailsWith(module, problem);
        EXPECT_EQ(reports.count, 1);
    }
    fs::remove(text);

    // Its factories abort if called: it is refused by its name alone.
    Reports reports;
    const VisionModule module({ORVANE_TEST_FOREIGN_VISION_MODULE}, reports.sink());
    const std::string problem = module.load();
    EXPECT_NE(problem.find("is not the camera and face module of this Orvane"), std::string::npos)
        << problem;
    EXPECT_NE(problem.find("another compiler"), std::string::npos) << problem;
    expectFailsWith(module, problem);
    EXPECT_EQ(reports.count, 1);
}

TEST(VisionModule, TheFirstModuleFoundServesTheCamerasAndTheDetector) {
    const auto clip = scratchFile("orvane-vision-clip", "");
    ::setenv("ORVANE_CAMERA_FILES", clip.c_str(), 1);
    Reports reports;
    const VisionModule module({"/nonexistent/liborvane-vision.so", ORVANE_TEST_VISION_MODULE},
                              reports.sink());
    EXPECT_EQ(module.load(), "");
    ::unsetenv("ORVANE_CAMERA_FILES");
    EXPECT_EQ(reports.count, 0);

    const auto devices = module.cameraService()->devices();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.back().uniqueID, V4l2CameraService::clipDevice(clip.string()).uniqueID);
    EXPECT_GT(module.faceDetector()->searchFrameSide(), 0);
    const std::uint8_t pixels[64 * 64] = {};
    EXPECT_FALSE(module.faceDetector()
                     ->detect({64, 64, 64, pixels, PixelFormat::gray8}, 5)
                     .error.has_value());
    fs::remove(clip);

    // What the camera may shrink frames to while a face is followed, and the rows it may
    // leave out, come through as well.
    auto& detector = *module.faceDetector();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (detector.isLoading() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto face = test::standardFaceFrame();
    ASSERT_EQ(detector.detect(test::pixelBuffer(face), 5).faces.size(), 1u);
    EXPECT_EQ(detector.followFrameSide(), face.cols / 2);
    EXPECT_LT(detector.followFrameRows(), 1);
    EXPECT_GT(detector.followFrameRows(), 0.5);
}

TEST(VisionModule, IsLookedForBesideTheProgramThenWhereItIsInstalled) {
    const std::string installed = "../lib/x86_64-linux-gnu/orvane/liborvane-vision.so";
    EXPECT_EQ(VisionModule::pathsBeside("/usr/bin/orvane", installed),
              (std::vector<std::string>{"/usr/bin/liborvane-vision.so",
                                        "/usr/lib/x86_64-linux-gnu/orvane/liborvane-vision.so"}));
    // The running program after an upgrade replaced its file.
    EXPECT_EQ(VisionModule::pathsBeside("/opt/o/bin/orvane (deleted)", installed).back(),
              "/opt/o/lib/x86_64-linux-gnu/orvane/liborvane-vision.so");
    // This test program's own folder comes first.
    const auto paths = VisionModule::defaultPaths();
    ASSERT_EQ(paths.size(), 2U);
    EXPECT_EQ(fs::path(paths.front()).parent_path(),
              fs::read_symlink("/proc/self/exe").parent_path());
}

} // namespace
} // namespace orvane::linuxbackend
