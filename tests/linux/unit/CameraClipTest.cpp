#include "CameraTestSupport.hpp"
#include "backends/linux/camera/LinuxCameraSession.hpp"
#include "backends/linux/camera/SystemV4l2Io.hpp"
#include "backends/linux/camera/V4l2CameraService.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

// The five frames of the test clip have these brightnesses, in order.
constexpr int clipFrames = 5;
int clipBrightness(int frame) {
    return 30 + 40 * frame;
}

// A clip of `clipFrames` frames at `clipRate` frames a second.
constexpr double clipRate = 20;
std::string writeClip(const std::filesystem::path& directory, const std::string& name, int fourcc) {
    const auto path = (directory / name).string();
    cv::VideoWriter writer(path, fourcc, clipRate, cv::Size(160, 120));
    for (int frame = 0; frame < clipFrames; ++frame) {
        writer.write(cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(clipBrightness(frame))));
    }
    return path;
}

std::string writeStill(const std::filesystem::path& directory) {
    const auto path = (directory / "face.png").string();
    cv::imwrite(path, cv::Mat(48, 64, CV_8UC3, cv::Scalar(10, 90, 200)));
    return path;
}

// A service without webcams: an empty /dev, and the given clips.
std::shared_ptr<V4l2CameraService> clipService(const CameraTestDirectory& directory,
                                               std::vector<std::string> clips,
                                               PixelFormat format = PixelFormat::bgr24) {
    V4l2CameraService::Options options;
    options.devRoot = directory.path / "no-dev";
    options.sysRoot = directory.path / "no-sys";
    options.clipPaths = std::move(clips);
    options.frameFormat = format;
    return std::make_shared<V4l2CameraService>(std::make_shared<SystemV4l2Io>(),
                                               std::move(options));
}

// The clip in Motion-JPEG, taken in grey: the format whose frames are decoded as asked.
std::shared_ptr<V4l2CameraService> greyMotionJpegService(const CameraTestDirectory& directory) {
    const auto clip =
        writeClip(directory.path, "head turn.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'));
    return clipService(directory, {clip}, PixelFormat::gray8);
}

double secondsBetween(const SeenFrame& first, const SeenFrame& last) {
    return std::chrono::duration<double>(last.at - first.at).count();
}

TEST(CameraClips, AreListedFromTheEnvironmentAfterTheCameras) {
    EXPECT_EQ(V4l2CameraService::clipPathsFrom(nullptr), std::vector<std::string>{});
    EXPECT_EQ(V4l2CameraService::clipPathsFrom("a.avi::/srv/b c.png:"),
              (std::vector<std::string>{"a.avi", "/srv/b c.png"}));

    const auto relative = V4l2CameraService::clipDevice("clips/../a.avi");
    EXPECT_EQ(relative.uniqueID, "file:" + (std::filesystem::current_path() / "a.avi").string());
    EXPECT_EQ(relative.localizedName, "Recorded clip (a.avi)");

    ::setenv("ORVANE_CAMERA_FILES", "/srv/one.avi:/srv/two.png", 1);
    const auto devices = makeLinuxCameraService()->devices();
    ::unsetenv("ORVANE_CAMERA_FILES");
    ASSERT_GE(devices.size(), 2u); // any webcams of this machine come first
    EXPECT_EQ(devices[devices.size() - 2].uniqueID, "file:/srv/one.avi");
    EXPECT_EQ(devices[devices.size() - 2].localizedName, "Recorded clip (one.avi)");
    EXPECT_EQ(devices.back().uniqueID, "file:/srv/two.png");
    EXPECT_EQ(devices.back().localizedName, "Recorded clip (two.png)");
}

TEST(CameraClips, AVideoPlaysAtItsOwnRateAndStartsOverAtItsEnd) {
    CameraTestDirectory directory;
    const std::vector<std::string> clips{
        writeClip(directory.path, "head turn.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G')),
        writeClip(directory.path, "head turn.mp4", cv::VideoWriter::fourcc('m', 'p', '4', 'v')),
    };
    // Grey Motion-JPEG is decoded from the clip's packets, everything else by the reader.
    for (const auto format : {PixelFormat::bgr24, PixelFormat::gray8}) {
        auto service = clipService(directory, clips, format);
        for (const auto& device : service->devices()) {
            SCOPED_TRACE(device.localizedName + (format == PixelFormat::gray8 ? " in grey" : ""));
            auto session = service->makeSession();
            ASSERT_EQ(session->open(device).status, CameraSession::OpenStatus::opened);
            const auto range = session->firstFrameRateRange();
            ASSERT_TRUE(range);
            EXPECT_NEAR(range->minFrameDuration, 1 / clipRate, 1e-6);
            EXPECT_NEAR(range->maxFrameDuration, 1 / clipRate, 1e-6);
            EXPECT_EQ(session->setFrameDuration(1 / clipRate), std::nullopt);

            auto queue = std::make_shared<CountingQueue>();
            FrameCollector collector;
            session->setFrameHandler(queue, collector.handler());
            session->startRunning();
            const std::size_t wanted = clipFrames + 3;
            ASSERT_TRUE(collector.waitFor(wanted));
            session->stopRunning();

            // A frame not yet taken when the next is ready gives way to it, as a camera's
            // does on a busy machine: frames may be passed over, never repeated or reordered.
            const auto frames = collector.frames();
            int played = 0; // clip frames since the first, those passed over included
            int previous = -1;
            for (std::size_t i = 0; i < wanted; ++i) {
                EXPECT_EQ(frames[i].width, 160);
                EXPECT_EQ(frames[i].height, 120);
                EXPECT_EQ(frames[i].format, format);
                EXPECT_GE(frames[i].bytesPerRow, format == PixelFormat::gray8 ? 160u : 160u * 3);
                int index = 0;
                for (int candidate = 1; candidate < clipFrames; ++candidate) {
                    if (std::abs(frames[i].centre - clipBrightness(candidate)) <
                        std::abs(frames[i].centre - clipBrightness(index))) {
                        index = candidate;
                    }
                }
                EXPECT_NEAR(frames[i].centre, clipBrightness(index), 6) << i;
                if (i == 0) {
                    EXPECT_EQ(index, 0); // from the start
                } else {
                    const int step = (index - previous + clipFrames) % clipFrames;
                    EXPECT_GE(step, 1) << i;
                    played += step;
                }
                previous = index;
            }
            EXPECT_GE(played, clipFrames); // started over
            // Paced, not read as fast as the file decodes.
            EXPECT_GE(secondsBetween(frames.front(), frames[wanted - 1]),
                      static_cast<double>(played) / clipRate - 0.02);
        }
    }
}

TEST(CameraClips, UnderADemandForLessFramesArePassedOverUndecodedAndTheRestDecodedSmaller) {
    CameraTestDirectory directory;
    auto service = greyMotionJpegService(directory);
    auto session = service->makeSession();
    ASSERT_EQ(session->open(service->devices().front()).status, CameraSession::OpenStatus::opened);
    auto* linuxSession = dynamic_cast<LinuxCameraSession*>(session.get());
    ASSERT_NE(linuxSession, nullptr);
    auto queue = std::make_shared<CountingQueue>();
    FrameCollector collector;
    session->setFrameHandler(queue, collector.handler());
    constexpr double rate = 5;
    session->setFrameDemand({rate, 40});
    session->startRunning();
    constexpr std::size_t away = 6;
    ASSERT_TRUE(collector.waitFor(away));

    session->setFrameDemand({});
    const auto skipped = linuxSession->framesSkipped();
    ASSERT_TRUE(collector.waitFor(away + clipFrames + 1));
    session->stopRunning();
    EXPECT_EQ(linuxSession->framesSkipped(), skipped) << "every frame once asked for every frame";

    const auto frames = collector.frames();
    for (std::size_t i = 0; i < away; ++i) {
        // A quarter of 160 x 120 keeps the 40 pixels asked for.
        EXPECT_EQ(frames[i].width, 40) << i;
        EXPECT_EQ(frames[i].height, 30) << i;
    }
    EXPECT_GE(secondsBetween(frames.front(), frames[away - 1]),
              static_cast<double>(away - 1) * FramePacer::spacingFactor / rate - 0.05);
    // The clip plays at 20 fps; at 5 fps about three of every four frames are passed over,
    // and the place in the clip moves on through them.
    EXPECT_GE(skipped, static_cast<std::int64_t>(away - 1) * 2);
    const auto& last = frames.back();
    EXPECT_EQ(last.width, 160);
    EXPECT_EQ(last.height, 120);
}

// Grey Motion-JPEG asked for its top rows alone is decoded down to the first whole row of
// blocks past them, the rest left black, and the frame says how far; asked for whole frames
// again, it comes whole.
TEST(CameraClips, UnderADemandForTheTopRowsTheRestIsLeftBlackAndSaidSo) {
    CameraTestDirectory directory;
    auto service = greyMotionJpegService(directory);
    auto session = service->makeSession();
    ASSERT_EQ(session->open(service->devices().front()).status, CameraSession::OpenStatus::opened);
    auto queue = std::make_shared<CountingQueue>();
    FrameCollector collector;
    session->setFrameHandler(queue, collector.handler());
    session->setFrameDemand({0, 0, 0.4});
    session->startRunning();
    constexpr std::size_t topOnly = clipFrames + 1;
    ASSERT_TRUE(collector.waitFor(topOnly));
    session->setFrameDemand({});
    // Frames decoded before the new demand may still come: wait for a whole one.
    ASSERT_TRUE(collector.waitFor(topOnly + 4));
    session->stopRunning();

    const auto frames = collector.frames();
    // The first frame of a clip is read whole when it opens; every one after follows the demand.
    for (std::size_t i = 1; i < topOnly; ++i) {
        // 40 % of 120 rows is 48, three rows of 16-line blocks.
        EXPECT_EQ(frames[i].pictureRows, 48) << i;
        EXPECT_EQ(frames[i].height, 120) << i;
        EXPECT_NEAR(frames[i].bottom, 0, 2) << i;
    }
    const auto& last = frames.back();
    EXPECT_EQ(last.pictureRows, 0);
    EXPECT_NEAR(last.bottom, last.centre, 6);
    EXPECT_GT(last.bottom, 20);
}

TEST(CameraClips, AStillImageArrivesThirtyTimesASecondToEverySessionThatOpensIt) {
    CameraTestDirectory directory;
    const auto still = writeStill(directory.path);
    auto service = clipService(directory, {still}, PixelFormat::gray8);
    const auto device = service->devices().front();
    auto session = service->makeSession();
    ASSERT_EQ(session->open(device).status, CameraSession::OpenStatus::opened);
    const auto range = session->firstFrameRateRange();
    ASSERT_TRUE(range);
    EXPECT_DOUBLE_EQ(range->minFrameDuration, 1.0 / 30);
    EXPECT_DOUBLE_EQ(range->maxFrameDuration, 1.0 / 30);
    auto other = service->makeSession();
    EXPECT_EQ(other->open(device).status, CameraSession::OpenStatus::opened);

    auto queue = std::make_shared<CountingQueue>();
    FrameCollector collector;
    session->setFrameHandler(queue, collector.handler());
    session->startRunning();
    ASSERT_TRUE(collector.waitFor(16));
    session->stopRunning();

    const auto frames = collector.frames();
    EXPECT_EQ(frames.front().width, 64);
    EXPECT_EQ(frames.front().height, 48);
    EXPECT_EQ(frames.front().format, PixelFormat::gray8);
    // Grey of (B 10, G 90, R 200): 0.114 * 10 + 0.587 * 90 + 0.299 * 200.
    EXPECT_NEAR(frames.front().centre, 113, 2);
    const double elapsed = secondsBetween(frames.front(), frames[15]);
    EXPECT_GE(elapsed, 15 / 30.0 - 0.02);
    EXPECT_LT(elapsed, 2.0); // about half a second; generous for a loaded machine
}

TEST(CameraClips, AFileThatIsNoClipFailsToOpenSayingWhy) {
    CameraTestDirectory directory;
    const auto missing = (directory.path / "missing.avi").string();
    const auto text = (directory.path / "notes.avi").string();
    std::ofstream{text} << "not a video\n";
    auto service = clipService(directory, {missing, text, directory.path.string()});
    const auto devices = service->devices();
    ASSERT_EQ(devices.size(), 3u);
    auto session = service->makeSession();

    const auto absent = session->open(devices[0]);
    EXPECT_EQ(absent.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(absent.description, missing + ": No such file or directory");
    const auto garbage = session->open(devices[1]);
    EXPECT_EQ(garbage.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(garbage.description, text + ": neither a video nor an image that can be decoded");
    EXPECT_EQ(session->open(devices[2]).description, directory.path.string() + ": Is a directory");
    EXPECT_EQ(session->firstFrameRateRange(), std::nullopt);
}

// A playlist is a file that FFmpeg would follow elsewhere: a clip reaches no address. The
// playlist names a listener on this machine, which must never be called.
TEST(CameraClips, APlaylistNamingAnAddressIsRefusedWithoutReachingIt) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    // Whoever calls is hung up on at once, so a reader that does call fails rather than waits.
    std::atomic<int> calls = 0;
    std::jthread answering([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            pollfd ready{listener, POLLIN, 0};
            if (::poll(&ready, 1, 20) == 1) {
                const int call = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (call >= 0) {
                    ++calls;
                    ::close(call);
                }
            }
        }
    });

    CameraTestDirectory directory;
    const auto video =
        writeClip(directory.path, "inner.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'));
    const auto playlist = (directory.path / "remote.m3u8").string();
    std::ofstream{playlist} << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nhttp://127.0.0.1:"
                            << ntohs(address.sin_port) << "/segment.ts\n#EXT-X-ENDLIST\n";
    auto service = clipService(directory, {playlist, video});
    const auto devices = service->devices();
    ASSERT_EQ(devices.size(), 2u);
    auto session = service->makeSession();
    const auto opened = session->open(devices[0]);
    EXPECT_EQ(opened.status, CameraSession::OpenStatus::failed);
    EXPECT_EQ(opened.description, playlist + ": neither a video nor an image that can be decoded");
    // The control: the same reader plays the clip itself.
    EXPECT_EQ(session->open(devices[1]).status, CameraSession::OpenStatus::opened);
    answering.request_stop();
    answering.join();
    ::close(listener);
    EXPECT_EQ(calls.load(), 0);
}

} // namespace
} // namespace orvane::linuxbackend
