#include "backends/linux/camera/V4l2CameraService.hpp"
#include "CameraTestSupport.hpp"
#include "FakeV4l2Driver.hpp"
#include "backends/linux/camera/LinuxCameraSession.hpp"
#include "backends/linux/camera/V4l2Discovery.hpp"
#include "backends/linux/camera/V4l2FrameSource.hpp"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <opencv2/imgcodecs.hpp>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

// A /dev and /sys of our own, with the fake driver behind the nodes.
class FakeCameraTree {
public:
    FakeCameraTree() : driver(std::make_shared<FakeV4l2Driver>()) {
        root = std::filesystem::canonical(directory.path);
        std::filesystem::create_directories(root / "dev" / "v4l" / "by-id");
        std::filesystem::create_directories(root / "sys" / "class" / "video4linux");
    }

    // Adds /dev/videoN, its by-id link when named, and its sysfs entry; returns the node path.
    std::string add(int number, FakeNode node, const std::string& byIdLink = {},
                    bool builtIn = false) {
        const auto name = "video" + std::to_string(number);
        const auto path = (root / "dev" / name).string();
        std::ofstream{path};
        if (!byIdLink.empty()) {
            std::filesystem::create_symlink("../../" + name,
                                            root / "dev" / "v4l" / "by-id" / byIdLink);
        }
        const auto sys = root / "sys" / "class" / "video4linux" / name;
        std::filesystem::create_directories(sys / "device");
        std::ofstream{sys / "removable"} << (builtIn ? "fixed\n" : "removable\n");
        driver->addNode(path, std::move(node));
        return path;
    }

    std::shared_ptr<V4l2CameraService> service(std::chrono::milliseconds releaseTimeout = 2s,
                                               std::vector<std::string> clips = {}) {
        V4l2CameraService::Options options;
        options.devRoot = root / "dev";
        options.sysRoot = root / "sys";
        options.clipPaths = std::move(clips);
        options.releaseTimeout = releaseTimeout;
        options.reportProblem = [problems = problems](const std::string& problem) {
            std::lock_guard lock(problems->mutex);
            problems->texts.push_back(problem);
            problems->reported.notify_all();
        };
        return std::make_shared<V4l2CameraService>(driver, std::move(options));
    }

    // What the sessions reported while streaming, with nobody to ask.
    struct Problems {
        std::mutex mutex;
        std::condition_variable reported;
        std::vector<std::string> texts;
    };
    bool waitForProblem(const std::string& text, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(problems->mutex);
        return problems->reported.wait_for(lock, timeout, [&] {
            return std::find(problems->texts.begin(), problems->texts.end(), text) !=
                   problems->texts.end();
        });
    }
    std::shared_ptr<Problems> problems = std::make_shared<Problems>();

    CameraTestDirectory directory;
    std::filesystem::path root;
    std::shared_ptr<FakeV4l2Driver> driver;
};

FakeNode camera(const std::string& card, std::vector<FakeFormat> formats = {FakeFormat{}}) {
    FakeNode node;
    node.card = card;
    node.formats = std::move(formats);
    return node;
}

FakeFormat format(std::uint32_t fourcc,
                  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes) {
    FakeFormat result;
    result.fourcc = fourcc;
    result.sizes = std::move(sizes);
    return result;
}

// A uniform YUYV frame: every pixel has luminance `luma` and no colour.
std::vector<std::uint8_t> yuyvFrame(int width, int height, std::uint8_t luma) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width * height * 2));
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        bytes[i] = luma;
        bytes[i + 1] = 128;
    }
    return bytes;
}

CameraDevice deviceNamed(CameraService& service, const std::string& id) {
    for (const auto& device : service.devices()) {
        if (device.uniqueID == id) {
            return device;
        }
    }
    return {id, "?"};
}

TEST(V4l2Discovery, ListsDecodableCaptureNodesBuiltInFirstWithStableIds) {
    FakeCameraTree tree;
    tree.add(0, camera("USB Camera", {format(V4L2_PIX_FMT_MJPEG, {{1280, 720}})}),
             "usb-Acme_USB_Camera_123-video-index0");
    FakeNode metadata = camera("USB Camera", {});
    metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    tree.add(1, metadata, "usb-Acme_USB_Camera_123-video-index1");
    FakeNode integrated = camera("Integrated Camera: Integrated C");
    integrated.busInfo = "usb-0000:00:14.0-5";
    tree.add(2, integrated, {}, true);
    tree.add(3, camera("Integrated IR Camera"), {}, true);
    tree.add(4, camera("Depth Sensor", {format(V4L2_PIX_FMT_GREY, {{640, 480}})}));
    FakeNode locked = camera("Locked Camera");
    locked.openError = EACCES;
    tree.add(5, locked);
    tree.add(10, camera("Second Camera"), "usb-Acme_Second_9-video-index0");
    FakeNode twin = camera("Twin");
    twin.busInfo = "usb-3";
    tree.add(12, twin);
    tree.add(14, twin);

    const auto devices = tree.service()->devices();
    const std::vector<std::pair<std::string, std::string>> expected{
        {"v4l2:usb-0000:00:14.0-5:Integrated Camera: Integrated C",
         "Integrated Camera: Integrated C"},
        {"usb-Acme_USB_Camera_123-video-index0", "USB Camera"},
        {"usb-Acme_Second_9-video-index0", "Second Camera"}, // video10 after video4, not video1
        {"v4l2:usb-3:Twin", "Twin"},
        {"v4l2:usb-3:Twin#2", "Twin"},
    };
    ASSERT_EQ(devices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(devices[i].uniqueID, expected[i].first) << i;
        EXPECT_EQ(devices[i].localizedName, expected[i].second) << i;
    }
    // Discovery holds nothing open.
    EXPECT_EQ(tree.driver->observed(tree.root / "dev" / "video0").openDescriptors, 0);
}

TEST(V4l2Discovery, RecognisesInfraredNames) {
    EXPECT_TRUE(V4l2Discovery::namesInfrared("Integrated IR Camera"));
    EXPECT_TRUE(V4l2Discovery::namesInfrared("HD Webcam: IR_Cam"));
    EXPECT_TRUE(V4l2Discovery::namesInfrared("Infrared Camera"));
    EXPECT_FALSE(V4l2Discovery::namesInfrared("Integrated Camera"));
    EXPECT_FALSE(V4l2Discovery::namesInfrared("Mirror Cam"));
}

TEST(V4l2Authorization, FollowsAccessToTheCaptureNodesAndIsNeverCached) {
    FakeCameraTree tree;
    auto service = tree.service(2s, {"/nowhere/clip.avi"});
    // No node at all: nothing to refuse.
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::authorized);

    FakeNode metadata = camera("USB Camera", {});
    metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    tree.add(0, metadata);
    const auto capture = tree.add(1, camera("USB Camera"));
    tree.driver->setOpenError(capture, EACCES);
    // An open metadata node does not make up for a refused capture node; clips count not.
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::denied);
    std::optional<bool> granted;
    service->requestAccess([&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, false);

    tree.driver->setOpenError(capture, EPERM);
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::denied);

    const auto other = tree.add(2, camera("Other Camera"));
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::authorized);
    tree.driver->setOpenError(other, EACCES);
    tree.driver->setOpenError(capture, 0);
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::authorized);
    service->requestAccess([&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, true);

    // A node that fails for another reason (gone, busy) refuses nothing.
    tree.driver->setOpenError(capture, ENODEV);
    tree.driver->setOpenError(other, EBUSY);
    EXPECT_EQ(service->authorizationStatus(), CameraAuthorization::authorized);
}

TEST(V4l2CameraSession, ChoosesMjpegAt720pElseYuyvAndTakesTheDriversSize) {
    struct Case {
        std::vector<FakeFormat> formats;
        std::uint32_t fourcc;
        std::uint32_t width;
        std::uint32_t height;
    };
    const std::vector<Case> cases{
        {{format(V4L2_PIX_FMT_YUYV, {{1280, 720}, {640, 480}}),
          format(V4L2_PIX_FMT_MJPEG, {{1920, 1080}, {1280, 720}})},
         V4L2_PIX_FMT_MJPEG,
         1280,
         720},
        // 720p only raw: raw it is.
        {{format(V4L2_PIX_FMT_MJPEG, {{640, 480}}), format(V4L2_PIX_FMT_YUYV, {{1280, 720}})},
         V4L2_PIX_FMT_YUYV,
         1280,
         720},
        // No 720p at all: compressed is still preferred, at the size the driver offers.
        {{format(V4L2_PIX_FMT_YUYV, {{640, 480}}), format(V4L2_PIX_FMT_MJPEG, {{800, 600}})},
         V4L2_PIX_FMT_MJPEG,
         800,
         600},
        {{format(V4L2_PIX_FMT_NV12, {{1280, 720}}), format(V4L2_PIX_FMT_YUYV, {{640, 480}})},
         V4L2_PIX_FMT_YUYV,
         640,
         480},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        FakeCameraTree tree;
        const auto path = tree.add(0, camera("Camera", cases[i].formats), "usb-camera");
        auto service = tree.service();
        auto session = service->makeSession();
        ASSERT_EQ(session->open(deviceNamed(*service, "usb-camera")).status,
                  CameraSession::OpenStatus::opened)
            << i;
        const auto chosen = tree.driver->observed(path).format;
        EXPECT_EQ(chosen.pixelformat, cases[i].fourcc) << i;
        EXPECT_EQ(chosen.width, cases[i].width) << i;
        EXPECT_EQ(chosen.height, cases[i].height) << i;
    }
}

TEST(V4l2CameraSession, ANodeWithoutAReadableFormatFailsAndLetsGo) {
    FakeCameraTree tree;
    const auto path =
        tree.add(0, camera("Encoder", {format(V4L2_PIX_FMT_H264, {{1280, 720}})}), "usb-h264");
    EXPECT_TRUE(tree.service()->devices().empty());
    V4l2FrameSource source(tree.driver, path, 0ms, PixelFormat::bgr24);
    EXPECT_EQ(source.acquire(), "The camera offers neither Motion-JPEG nor YUYV video.");
    // Released: a second try fails the same way at once instead of finding the node busy.
    EXPECT_EQ(source.acquire(), "The camera offers neither Motion-JPEG nor YUYV video.");
    EXPECT_EQ(tree.driver->observed(path).openDescriptors, 0);
}

TEST(V4l2CameraSession, FrameRateRangeSpansTheIntervalsOfTheChosenFormat) {
    auto rangeOf = [](FakeFormat offered) {
        FakeCameraTree tree;
        tree.add(0, camera("Camera", {std::move(offered)}), "usb-camera");
        auto service = tree.service();
        auto session = service->makeSession();
        EXPECT_EQ(session->open(deviceNamed(*service, "usb-camera")).status,
                  CameraSession::OpenStatus::opened);
        return session->firstFrameRateRange();
    };
    FakeFormat discrete = format(V4L2_PIX_FMT_MJPEG, {{1280, 720}});
    discrete.discreteIntervals = {{1, 15}, {1, 30}, {1, 5}, {1, 0}};
    const auto fromList = rangeOf(discrete);
    ASSERT_TRUE(fromList);
    EXPECT_DOUBLE_EQ(fromList->minFrameDuration, 1.0 / 30);
    EXPECT_DOUBLE_EQ(fromList->maxFrameDuration, 1.0 / 5);

    FakeFormat continuous = format(V4L2_PIX_FMT_YUYV, {{1280, 720}});
    continuous.continuousIntervals = {{{1, 60}, {1, 1}}};
    const auto fromRange = rangeOf(continuous);
    ASSERT_TRUE(fromRange);
    EXPECT_DOUBLE_EQ(fromRange->minFrameDuration, 1.0 / 60);
    EXPECT_DOUBLE_EQ(fromRange->maxFrameDuration, 1.0);

    FakeFormat none = format(V4L2_PIX_FMT_YUYV, {{1280, 720}});
    none.discreteIntervals.clear();
    EXPECT_EQ(rangeOf(none), std::nullopt);
}

TEST(V4l2CameraSession, SetsTheFrameDurationOrSaysWhyNot) {
    FakeCameraTree tree;
    const auto path = tree.add(0, camera("Camera"), "usb-good");
    FakeNode busy = camera("Busy");
    busy.sParmError = EBUSY;
    tree.add(1, busy, "usb-busy");
    FakeNode fixed = camera("Fixed");
    fixed.adjustableRate = false;
    tree.add(2, fixed, "usb-fixed");
    auto service = tree.service();

    auto session = service->makeSession();
    EXPECT_EQ(session->setFrameDuration(1.0 / 15), "No camera is open.");
    ASSERT_EQ(session->open(deviceNamed(*service, "usb-good")).status,
              CameraSession::OpenStatus::opened);
    EXPECT_EQ(session->setFrameDuration(1.0 / 15), std::nullopt);
    auto set = tree.driver->observed(path).timePerFrame;
    ASSERT_TRUE(set);
    EXPECT_EQ(set->numerator, 1u);
    EXPECT_EQ(set->denominator, 15u);
    EXPECT_EQ(session->setFrameDuration(0.1), std::nullopt);
    EXPECT_EQ(tree.driver->observed(path).timePerFrame->denominator, 10u);
    EXPECT_EQ(session->setFrameDuration(-1), "The frame duration is out of range.");

    ASSERT_EQ(session->open(deviceNamed(*service, "usb-busy")).status,
              CameraSession::OpenStatus::opened);
    EXPECT_EQ(session->setFrameDuration(1.0 / 15), "Device or resource busy");
    ASSERT_EQ(session->open(deviceNamed(*service, "usb-fixed")).status,
              CameraSession::OpenStatus::opened);
    EXPECT_EQ(session->setFrameDuration(1.0 / 15),
              "The camera does not let its frame rate be set.");
}

TEST(V4l2CameraSession, OpenFailuresSayWhy) {
    FakeCameraTree tree;
    const auto path = tree.add(0, camera("Camera"), "usb-camera");
    auto service = tree.service();
    const auto device = deviceNamed(*service, "usb-camera");
    tree.driver->setOpenError(path, EACCES);
    auto session = service->makeSession();
    const auto refused = session->open(device);
    EXPECT_EQ(refused.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(refused.description, "Permission denied");
    EXPECT_EQ(session->firstFrameRateRange(), std::nullopt);

    const auto gone = session->open({"usb-unplugged", "Camera"});
    EXPECT_EQ(gone.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(gone.description, "No such device");
}

// A 320 x 240 YUYV camera, streaming into a counting queue.
class StreamingCamera : public ::testing::Test {
protected:
    void SetUp() override {
        path =
            tree.add(0, camera("Camera", {format(V4L2_PIX_FMT_YUYV, {{320, 240}})}), "usb-camera");
    }
    std::unique_ptr<CameraSession> startedSession(CameraService& service,
                                                  FrameCollector& collector) {
        auto session = service.makeSession();
        EXPECT_EQ(session->open(deviceNamed(service, "usb-camera")).status,
                  CameraSession::OpenStatus::opened);
        session->setFrameHandler(queue, collector.handler());
        session->startRunning();
        return session;
    }
    void deliver(std::uint8_t luma) {
        ASSERT_TRUE(tree.driver->pushFrame(path, yuyvFrame(320, 240, luma)));
        ASSERT_TRUE(tree.driver->waitUntilDrained(path, 5s));
    }
    void expectReleased() {
        const auto observed = tree.driver->observed(path);
        EXPECT_FALSE(observed.streaming);
        EXPECT_EQ(observed.mappedBuffers, 0);
        EXPECT_EQ(observed.openDescriptors, 0);
    }

    FakeCameraTree tree;
    std::string path;
    std::shared_ptr<CountingQueue> queue = std::make_shared<CountingQueue>();
};

TEST_F(StreamingCamera, DeliversOnlyTheNewestFrameWhileTheQueueIsBusy) {
    auto service = tree.service();
    FrameCollector collector;
    auto session = startedSession(*service, collector);
    deliver(100);
    ASSERT_TRUE(collector.waitFor(1));
    const auto first = collector.frames().front();
    EXPECT_EQ(first.width, 320);
    EXPECT_EQ(first.height, 240);
    EXPECT_EQ(first.format, PixelFormat::bgr24);
    EXPECT_GE(first.bytesPerRow, 320u * 3);

    std::promise<void> gate;
    auto opened = gate.get_future().share();
    queue->async([opened] { opened.wait(); });
    const int posted = queue->posted();
    for (std::uint8_t luma : {40, 80, 120, 160, 200}) {
        deliver(luma);
    }
    EXPECT_EQ(queue->posted(), posted + 1); // one frame task waits; the others replaced its frame
    gate.set_value();
    ASSERT_TRUE(queue->drain());
    const auto frames = collector.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_GT(frames[1].centre, 200); // luma 200, the newest

    session->stopRunning();
    expectReleased();
}

TEST_F(StreamingCamera, AStoppedSessionStartsAgainWithItsFrameRate) {
    auto service = tree.service();
    FrameCollector collector;
    auto session = service->makeSession();
    ASSERT_EQ(session->open(deviceNamed(*service, "usb-camera")).status,
              CameraSession::OpenStatus::opened);
    ASSERT_EQ(session->setFrameDuration(1.0 / 15), std::nullopt);
    session->setFrameHandler(queue, collector.handler());
    session->startRunning();
    deliver(100);
    ASSERT_TRUE(collector.waitFor(1));
    session->stopRunning();
    expectReleased();

    session->startRunning();
    const auto reopened = tree.driver->observed(path);
    EXPECT_TRUE(reopened.streaming);
    ASSERT_TRUE(reopened.timePerFrame);
    EXPECT_EQ(reopened.timePerFrame->denominator, 15u);
    deliver(150);
    ASSERT_TRUE(collector.waitFor(2));
    session.reset();
    expectReleased();
}

TEST_F(StreamingCamera, ASecondSessionOpensTheCameraOnceTheFirstLetsGo) {
    auto service = tree.service();
    FrameCollector firstFrames;
    auto first = startedSession(*service, firstFrames);
    deliver(100);
    ASSERT_TRUE(firstFrames.waitFor(1));

    auto second = service->makeSession();
    auto opening = std::async(std::launch::async,
                              [&] { return second->open(deviceNamed(*service, "usb-camera")); });
    EXPECT_EQ(opening.wait_for(100ms), std::future_status::timeout); // waiting, not failing
    first->stopRunning();
    ASSERT_EQ(opening.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(opening.get().status, CameraSession::OpenStatus::opened);
    EXPECT_EQ(tree.driver->observed(path).ownershipConflicts, 0);

    FrameCollector secondFrames;
    second->setFrameHandler(queue, secondFrames.handler());
    second->startRunning();
    deliver(150);
    EXPECT_TRUE(secondFrames.waitFor(1));
    EXPECT_EQ(firstFrames.frames().size(), 1u);
}

TEST_F(StreamingCamera, ASecondSessionGivesUpAfterTheBoundAndADestroyedSessionLetsGo) {
    auto service = tree.service(100ms);
    FrameCollector collector;
    auto first = startedSession(*service, collector);
    deliver(100);
    ASSERT_TRUE(collector.waitFor(1));

    auto second = service->makeSession();
    const auto busy = second->open(deviceNamed(*service, "usb-camera"));
    EXPECT_EQ(busy.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(busy.description, "Device or resource busy");

    first.reset(); // destroyed while streaming
    expectReleased();
    EXPECT_EQ(second->open(deviceNamed(*service, "usb-camera")).status,
              CameraSession::OpenStatus::opened);
}

// Unplugged mid-stream: the session says so, lets go when stopped, fails to open while the
// node is gone and streams again once it is back.
TEST_F(StreamingCamera, UnderADemandForLessBuffersGoBackUndecodedAndMotionJpegComesSmaller) {
    const auto mjpeg =
        tree.add(1, camera("Camera", {format(V4L2_PIX_FMT_MJPEG, {{320, 240}})}), "usb-mjpeg");
    auto service = tree.service();
    FrameCollector collector;
    auto session = service->makeSession();
    ASSERT_EQ(session->open(deviceNamed(*service, "usb-mjpeg")).status,
              CameraSession::OpenStatus::opened);
    auto* linuxSession = dynamic_cast<LinuxCameraSession*>(session.get());
    ASSERT_NE(linuxSession, nullptr);
    session->setFrameHandler(queue, collector.handler());
    // One frame every two seconds: far more than the test takes between its frames.
    session->setFrameDemand({0.5, 80});
    session->startRunning();
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(150)), jpeg));
    const auto push = [&] {
        ASSERT_TRUE(tree.driver->pushFrame(mjpeg, jpeg));
        ASSERT_TRUE(tree.driver->waitUntilDrained(mjpeg, 5s));
    };
    push();
    ASSERT_TRUE(collector.waitFor(1));
    // More than the driver has buffers: each passed over went back to it.
    for (std::uint32_t i = 0; i <= V4l2FrameSource::bufferCount; ++i) {
        push();
    }
    ASSERT_TRUE(queue->drain());
    EXPECT_EQ(collector.frames().size(), 1u);
    EXPECT_EQ(linuxSession->framesSkipped(), V4l2FrameSource::bufferCount + 1);
    // A quarter of 320 x 240 keeps the 80 pixels asked for.
    EXPECT_EQ(collector.frames().front().width, 80);
    EXPECT_EQ(collector.frames().front().height, 60);
    EXPECT_NEAR(collector.frames().front().centre, 150, 4);

    session->setFrameDemand({});
    push();
    ASSERT_TRUE(collector.waitFor(2));
    EXPECT_EQ(collector.frames().back().width, 320);
    EXPECT_EQ(collector.frames().back().height, 240);
    session->stopRunning();
}

TEST_F(StreamingCamera, ANodeThatFailsMidStreamIsReportedReleasedAndOpensAgainOnceBack) {
    auto service = tree.service();
    FrameCollector collector;
    auto session = startedSession(*service, collector);
    deliver(100);
    ASSERT_TRUE(collector.waitFor(1));

    tree.driver->setGone(path, true);
    EXPECT_TRUE(tree.waitForProblem("camera stopped delivering frames"));
    session->stopRunning();
    expectReleased();
    const auto gone = session->open(deviceNamed(*service, "usb-camera"));
    EXPECT_EQ(gone.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(gone.description, "No such device");

    tree.driver->setGone(path, false);
    ASSERT_EQ(session->open(deviceNamed(*service, "usb-camera")).status,
              CameraSession::OpenStatus::opened);
    session->startRunning();
    deliver(150);
    EXPECT_TRUE(collector.waitFor(2));
    session.reset();
    expectReleased();
}

} // namespace
} // namespace orvane::linuxbackend
