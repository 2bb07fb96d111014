// The clips Orvane's cost is measured on must look as a webcam's stream does: a clip of
// identical or flat frames would flatter the decoder and the face pipeline alike.
#include "CameraTestSupport.hpp"
#include "backends/linux/face/DlibFaceDetector.hpp"
#include "linux/support/FacePhotos.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cmath>
#include <vector>

namespace orvane::linuxbackend {
namespace {

constexpr int clipFrames = 6;
constexpr int mirrored = 5; // what the head-pose tracker always asks for

struct Clip {
    double width = 0, height = 0, fps = 0;
    int fourcc = 0;
    std::vector<cv::Mat> frames; // in grey, as the pipeline takes them
};

Clip readClip(const std::string& path) {
    Clip clip;
    cv::VideoCapture video(path, cv::CAP_OPENCV_MJPEG);
    if (!video.isOpened()) {
        ADD_FAILURE() << "cannot read " << path;
        return clip;
    }
    clip.width = video.get(cv::CAP_PROP_FRAME_WIDTH);
    clip.height = video.get(cv::CAP_PROP_FRAME_HEIGHT);
    clip.fps = video.get(cv::CAP_PROP_FPS);
    clip.fourcc = static_cast<int>(video.get(cv::CAP_PROP_FOURCC));
    for (cv::Mat frame; video.read(frame) && !frame.empty();) {
        cv::Mat gray;
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        clip.frames.push_back(gray);
    }
    return clip;
}

class WebcamClips : public testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = std::make_unique<CameraTestDirectory>();
        const auto facePath = (directory->path / "face.avi").string();
        const auto emptyPath = (directory->path / "empty.avi").string();
        const auto failure = test::writeWebcamClips(facePath, emptyPath, clipFrames);
        ASSERT_EQ(failure, std::nullopt) << *failure;
        face = readClip(facePath);
        empty = readClip(emptyPath);
    }
    static void TearDownTestSuite() { directory.reset(); }

    static inline std::unique_ptr<CameraTestDirectory> directory;
    static inline Clip face, empty;
};

TEST_F(WebcamClips, AreWebcamSizedMotionJpegAtFifteenFramesASecond) {
    for (const auto* clip : {&face, &empty}) {
        EXPECT_EQ(clip->width, 1280);
        EXPECT_EQ(clip->height, 720);
        EXPECT_EQ(clip->fps, 15);
        EXPECT_EQ(clip->fourcc, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'));
        EXPECT_EQ(clip->frames.size(), static_cast<std::size_t>(clipFrames));
    }
}

// Each frame is shaken by up to 3 pixels and noisy: no two are alike, and any two line up
// again within twice the shake.
TEST_F(WebcamClips, NoTwoFramesAreAlikeAndTheyShakeByAFewPixels) {
    for (const auto* clip : {&face, &empty}) {
        for (std::size_t i = 0; i < clip->frames.size(); ++i) {
            for (std::size_t j = i + 1; j < clip->frames.size(); ++j) {
                EXPECT_GT(cv::norm(clip->frames[i], clip->frames[j], cv::NORM_L1), 0)
                    << "frames " << i << " and " << j;
            }
        }
    }
    double largestShift = 0;
    for (std::size_t i = 1; i < empty.frames.size(); ++i) {
        cv::Mat a, b;
        empty.frames[i - 1].convertTo(a, CV_64F);
        empty.frames[i].convertTo(b, CV_64F);
        const auto shift = cv::phaseCorrelate(a, b);
        EXPECT_LE(std::hypot(shift.x, shift.y), 2 * std::hypot(3.0, 3.0) + 0.5) << "frame " << i;
        largestShift = std::max(largestShift, std::hypot(shift.x, shift.y));
    }
    EXPECT_GT(largestShift, 0.5) << "the camera never shook";
}

TEST_F(WebcamClips, TheFaceClipShowsTheFaceAndTheEmptyOneNobody) {
    DlibFaceDetector detector;
    ASSERT_FALSE(face.frames.empty());
    const auto first = detector.detect(test::pixelBuffer(face.frames.front()), mirrored);
    ASSERT_EQ(first.error, std::nullopt);
    EXPECT_EQ(first.faces.size(), 1u);
    for (const auto& frame : empty.frames) {
        detector.forgetFaces();
        const auto result = detector.detect(test::pixelBuffer(frame), mirrored);
        ASSERT_EQ(result.error, std::nullopt);
        EXPECT_TRUE(result.faces.empty());
    }
}

TEST_F(WebcamClips, AnEmptyRoomIsSearchedOnlyNowAndThenAndSomeoneComingInAtOnce) {
    // A webcam's noise and shake are no one coming in; the room seen at the half size the
    // camera gives while nobody is there reads the same.
    for (const int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        DlibFaceDetector detector;
        const auto sized = [scale](const cv::Mat& frame) {
            cv::Mat smaller;
            cv::resize(frame, smaller, frame.size() / scale, 0, 0, cv::INTER_AREA);
            return smaller;
        };
        const int frames = 4 * DlibFaceDetector::idleSearchInterval;
        for (int index = 0; index < frames; ++index) {
            const auto frame = sized(empty.frames[index % empty.frames.size()]);
            const auto result = detector.detect(test::pixelBuffer(frame), mirrored);
            ASSERT_EQ(result.error, std::nullopt);
            EXPECT_TRUE(result.faces.empty());
        }
        EXPECT_EQ(detector.fullSearches(), frames / DlibFaceDetector::idleSearchInterval);
        const auto frame = sized(face.frames.front());
        EXPECT_EQ(detector.detect(test::pixelBuffer(frame), mirrored).faces.size(), 1u);
    }
}

} // namespace
} // namespace orvane::linuxbackend
