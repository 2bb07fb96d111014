#include "backends/linux/face/DlibFaceDetector.hpp"

#include "backends/sim/CapturingLogSink.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "linux/support/FacePhotos.hpp"
#include "linux/support/TemporaryDirectory.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/CameraProbe.hpp"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

namespace orvane::linuxbackend {
namespace {

constexpr double degree = CV_PI / 180;
constexpr int mirrored = 5; // what the head-pose tracker always asks for

double centerX(const FaceObservation& face) {
    return face.boundingBox.x + face.boundingBox.width / 2;
}

double centerY(const FaceObservation& face) {
    return face.boundingBox.y + face.boundingBox.height / 2;
}

double area(const FaceObservation& face) {
    return face.boundingBox.width * face.boundingBox.height;
}

cv::Mat photo(test::Photo which) {
    return test::loadPhoto(which);
}

cv::Mat flipped(const cv::Mat& image) {
    cv::Mat result;
    cv::flip(image, result, 1);
    return result;
}

// One detector for the suite: reading the landmark model takes a while.
class DlibFaceDetectorTest : public testing::Test {
protected:
    static void SetUpTestSuite() { shared = std::make_unique<DlibFaceDetector>(); }
    static void TearDownTestSuite() { shared.reset(); }
    void SetUp() override {
        // The photos come from Debian packages that CI installs: fail, clearly, without them.
        for (const auto which :
             {test::Photo::graceHopper, test::Photo::astronaut, test::Photo::coffee}) {
            std::string problem;
            ASSERT_FALSE(test::loadPhoto(which, &problem).empty()) << problem;
        }
        shared->forgetFaces();
    }

    // The faces of one frame, which must not fail.
    static std::vector<FaceObservation> faces(const cv::Mat& frame, int orientation = mirrored) {
        const auto result = shared->detect(test::pixelBuffer(frame), orientation);
        EXPECT_EQ(result.error, std::nullopt);
        return result.faces;
    }

    // The one face of a frame, searched for afresh.
    static FaceObservation searchedFace(const cv::Mat& frame) {
        shared->forgetFaces();
        const auto found = faces(frame);
        if (found.size() != 1) {
            ADD_FAILURE() << found.size() << " faces";
            return {};
        }
        return found.front();
    }

    static inline std::unique_ptr<DlibFaceDetector> shared;
};

TEST_F(DlibFaceDetectorTest, FindsTheFaceInEachPortraitAndNoneInACupOfCoffee) {
    for (const auto which : {test::Photo::graceHopper, test::Photo::astronaut}) {
        const auto found = faces(photo(which));
        ASSERT_EQ(found.size(), 1u);
        const auto& box = found.front().boundingBox;
        EXPECT_GE(box.x, 0);
        EXPECT_GE(box.y, 0);
        EXPECT_LE(box.maxX(), 1);
        EXPECT_LE(box.maxY(), 1);
        EXPECT_GT(area(found.front()), 0.01);
        for (const auto& angle : {found.front().yaw, found.front().pitch, found.front().roll}) {
            ASSERT_TRUE(angle.has_value());
            EXPECT_LT(std::abs(*angle), 35 * degree);
        }
    }
    shared->forgetFaces();
    EXPECT_TRUE(faces(photo(test::Photo::coffee)).empty());
}

TEST_F(DlibFaceDetectorTest, AnEmptyViewIsSearchedNowAndThenAndSomeoneComingInAtOnce) {
    const auto empty = test::composed({1280, 720}, {});
    const auto someone =
        test::composed({1280, 720}, {{photo(test::Photo::graceHopper), 1.1, {0.5, 0.5}}});
    shared->forgetFaces();
    const auto before = shared->fullSearches();
    for (int frame = 0; frame < 2 * DlibFaceDetector::idleSearchInterval; ++frame) {
        EXPECT_TRUE(faces(empty).empty());
    }
    EXPECT_EQ(shared->fullSearches() - before, 2) << "the first frame, and one interval later";
    EXPECT_EQ(faces(someone).size(), 1u) << "someone coming in changes the view";
    // Forgetting the faces searches the next frame at once.
    shared->forgetFaces();
    EXPECT_EQ(faces(someone).size(), 1u);
}

TEST_F(DlibFaceDetectorTest, SomeoneTooFaintToChangeTheViewIsFoundWithinTheIdleInterval) {
    // A face at a tenth of its contrast on the empty view: plain to the detector, hardly a
    // change to the view, as a person who sat down still in a dim room.
    const auto empty = test::composed({1280, 720}, {});
    const auto someone =
        test::composed({1280, 720}, {{photo(test::Photo::graceHopper), 1.1, {0.5, 0.5}}});
    cv::Mat faint;
    cv::addWeighted(empty, 0.9, someone, 0.1, 0, faint);
    shared->forgetFaces();
    ASSERT_EQ(faces(faint).size(), 1u) << "the faint face must be one the detector finds";

    shared->forgetFaces();
    EXPECT_TRUE(faces(empty).empty());
    int unsearched = 0;
    while (faces(faint).empty() && ++unsearched < 3 * DlibFaceDetector::idleSearchInterval) {
    }
    EXPECT_EQ(unsearched, DlibFaceDetector::idleSearchInterval - 1);
}

TEST_F(DlibFaceDetectorTest, BoxesCountFromTheLowerLeftOfTheMirroredImage) {
    // The portrait's face is in the upper part of the image, so its box must be too; and a
    // face on the camera's left is on the mirrored image's right.
    const auto portrait = photo(test::Photo::graceHopper);
    const auto upright = searchedFace(portrait);
    EXPECT_GT(centerY(upright), 0.5);

    const cv::Mat onCameraLeft = test::composed({1280, 720}, {{portrait, 1.1, {0.3, 0.5}}});
    EXPECT_GT(centerX(searchedFace(onCameraLeft)), 0.6);
}

TEST_F(DlibFaceDetectorTest, AMirroredFrameFlipsYawRollAndTheHorizontalCentre) {
    for (const auto which : {test::Photo::graceHopper, test::Photo::astronaut}) {
        SCOPED_TRACE(static_cast<int>(which));
        const auto image = photo(which);
        const auto face = searchedFace(image);
        const auto reflected = searchedFace(flipped(image));
        ASSERT_TRUE(face.yaw && face.pitch && face.roll);
        ASSERT_TRUE(reflected.yaw && reflected.pitch && reflected.roll);
        EXPECT_NEAR(*reflected.yaw, -*face.yaw, 3 * degree);
        EXPECT_NEAR(*reflected.roll, -*face.roll, 3 * degree);
        EXPECT_NEAR(*reflected.pitch, *face.pitch, 5 * degree);
        EXPECT_NEAR(centerX(reflected), 1 - centerX(face), 0.02);
        EXPECT_NEAR(centerY(reflected), centerY(face), 0.02);
        EXPECT_NEAR(area(reflected), area(face), 0.15 * area(face));

        // Orientation 5 is the mirror, exactly: the same pixels give the same answer.
        shared->forgetFaces();
        const auto asIs = faces(flipped(image), 1);
        ASSERT_EQ(asIs.size(), 1u);
        EXPECT_EQ(asIs.front().yaw, face.yaw);
        EXPECT_EQ(asIs.front().boundingBox.x, face.boundingBox.x);
    }
}

TEST_F(DlibFaceDetectorTest, ReadsBgraBgrAndGrayFramesAlike) {
    const auto frame = test::standardFaceFrame();
    cv::Mat bgra, gray;
    cv::cvtColor(frame, bgra, cv::COLOR_BGR2BGRA);
    cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
    // Camera buffers often pad their rows.
    cv::Mat wide(bgra.rows, bgra.cols + 16, CV_8UC4, cv::Scalar::all(255));
    bgra.copyTo(wide(cv::Rect(0, 0, bgra.cols, bgra.rows)));
    const auto reference = searchedFace(frame);
    for (const auto& image : {cv::Mat(wide(cv::Rect(0, 0, bgra.cols, bgra.rows))), gray}) {
        const auto face = searchedFace(image);
        EXPECT_EQ(face.yaw, reference.yaw);
        EXPECT_EQ(face.boundingBox.width, reference.boundingBox.width);
    }
}

// The camera turns about its centre by the rotation that, seen in the mirrored frame, turns
// the head to the user's own right (positive yaw), up (positive pitch) or toward the right
// shoulder (positive roll); the warped frame shows exactly that head pose to a detector that
// assumes the same focal length.
TEST_F(DlibFaceDetectorTest, SyntheticHeadTurnsReadWithTheirSignAndSize) {
    const auto frame = test::standardFaceFrame();
    const auto straight = searchedFace(frame);
    ASSERT_TRUE(straight.yaw && straight.pitch && straight.roll);

    struct Turn {
        double yaw, pitch, roll;
    };
    for (const auto& turn : {Turn{20, 0, 0}, Turn{-20, 0, 0}, Turn{0, 12, 0}, Turn{0, -8, 0},
                             Turn{0, 0, 15}, Turn{0, 0, -15}}) {
        SCOPED_TRACE(testing::Message() << turn.yaw << " " << turn.pitch << " " << turn.roll);
        const auto face = searchedFace(
            test::headTurned(frame, turn.yaw * degree, turn.pitch * degree, turn.roll * degree));
        ASSERT_TRUE(face.yaw && face.pitch && face.roll);
        EXPECT_NEAR(*face.yaw - *straight.yaw, turn.yaw * degree, 8 * degree);
        EXPECT_NEAR(*face.pitch - *straight.pitch, turn.pitch * degree, 6 * degree);
        EXPECT_NEAR(*face.roll - *straight.roll, turn.roll * degree, 6 * degree);
    }
    // Absolute signs, not only differences: the portrait looks about straight at the camera.
    EXPECT_GT(*searchedFace(test::headTurned(frame, 20 * degree, 0, 0)).yaw, 10 * degree);
    EXPECT_LT(*searchedFace(test::headTurned(frame, -20 * degree, 0, 0)).yaw, -10 * degree);
}

TEST_F(DlibFaceDetectorTest, AStillFaceReadsTheSameFrameAfterFrame) {
    const auto frame = test::standardFaceFrame();
    std::vector<FaceObservation> readings;
    for (int i = 0; i < DlibFaceDetector::searchInterval + 5; ++i) {
        const auto found = faces(frame);
        ASSERT_EQ(found.size(), 1u) << "frame " << i;
        ASSERT_TRUE(found.front().yaw && found.front().pitch) << "frame " << i;
        readings.push_back(found.front());
    }
    // The first frames may settle the box the landmarks are looked for in; from then on,
    // through the periodic full search too, nothing moves.
    constexpr std::size_t settled = 5;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const auto& face = readings[i];
        const auto& reference = readings[settled];
        EXPECT_NEAR(*face.yaw, *reference.yaw, i < settled ? 6 * degree : 1e-6) << "frame " << i;
        EXPECT_NEAR(*face.pitch, *reference.pitch, i < settled ? 6 * degree : 1e-6);
        if (i >= settled) {
            EXPECT_EQ(face.boundingBox.x, reference.boundingBox.x) << "frame " << i;
            EXPECT_EQ(face.boundingBox.width, reference.boundingBox.width) << "frame " << i;
        }
    }
}

// Frames 1/`divisor` of their size, as a camera asked for smaller frames decodes them.
cv::Mat shrunk(const cv::Mat& frame, int divisor) {
    cv::Mat result;
    cv::resize(frame, result,
               cv::Size((frame.cols + divisor - 1) / divisor, (frame.rows + divisor - 1) / divisor),
               0, 0, cv::INTER_AREA);
    return result;
}

// In whole frames, and in the smaller ones the detector asks for while it follows this face.
TEST_F(DlibFaceDetectorTest, AHeadTurningToAndFroIsFollowedFrameByFrame) {
    const auto frame = test::standardFaceFrame();
    const auto straight = searchedFace(frame);
    ASSERT_TRUE(straight.yaw);
    const int divisor = frame.cols / std::max(shared->followFrameSide(), 1);
    EXPECT_EQ(divisor, 2) << "a face this large is followed in half-size frames";
    constexpr int frameCount = 36;
    for (const int scale : {1, 2}) {
        SCOPED_TRACE("1/" + std::to_string(scale) + " of the size");
        double squares = 0;
        for (int i = 0; i < frameCount; ++i) {
            const double yaw = test::headTurnYaw(i, frameCount, 20 * degree);
            const auto found = faces(shrunk(test::headTurned(frame, yaw, 0, 0), scale));
            ASSERT_EQ(found.size(), 1u) << "frame " << i;
            ASSERT_TRUE(found.front().yaw) << "frame " << i;
            const double error = *found.front().yaw - *straight.yaw - yaw;
            EXPECT_LT(std::abs(error), 8 * degree) << "frame " << i;
            squares += error * error;
        }
        EXPECT_LT(std::sqrt(squares / frameCount), 3 * degree);
    }
}

// The camera's frames change size as the detector asks: the face followed is carried over to
// the new scale, not searched for again, and reads as it did. Frames of another shape are
// another view, searched afresh.
TEST_F(DlibFaceDetectorTest, AFollowedFaceKeepsItsPoseWhenFramesChangeSize) {
    const auto frame = test::standardFaceFrame();
    FaceObservation whole;
    for (int i = 0; i < 6; ++i) {
        const auto found = faces(frame);
        ASSERT_EQ(found.size(), 1u);
        whole = found.front();
    }
    ASSERT_TRUE(whole.yaw && whole.pitch);
    const auto searches = shared->fullSearches();
    for (const int divisor : {2, 1, 2}) {
        SCOPED_TRACE("1/" + std::to_string(divisor) + " of the size");
        const auto found = faces(shrunk(frame, divisor));
        ASSERT_EQ(found.size(), 1u);
        ASSERT_TRUE(found.front().yaw && found.front().pitch);
        // Read in another box, or at another scale, landmarks move by their own noise.
        EXPECT_NEAR(*found.front().yaw, *whole.yaw, 5 * degree);
        EXPECT_NEAR(*found.front().pitch, *whole.pitch, 5 * degree);
        EXPECT_NEAR(centerX(found.front()), centerX(whole), 0.01);
        EXPECT_NEAR(centerY(found.front()), centerY(whole), 0.01);
    }
    EXPECT_EQ(shared->fullSearches(), searches) << "a followed face was searched for";
    EXPECT_GT(shared->followFrameSide(), 0);

    const auto squarer = frame(cv::Rect(160, 0, 960, 720)).clone();
    EXPECT_EQ(faces(squarer).size(), 1u);
    EXPECT_EQ(shared->fullSearches(), searches + 1) << "another view, searched";

    shared->forgetFaces();
    EXPECT_EQ(shared->followFrameSide(), 0) << "nobody followed: whole frames";
}

// `frame` as the camera decodes it when asked for its top `rows` (a share of its height): black
// below them, and saying so.
struct TopOfFrame {
    cv::Mat image;
    int pictureRows = 0;

    TopOfFrame(const cv::Mat& frame, double rows)
        : image(frame.clone()),
          pictureRows(std::min(frame.rows, static_cast<int>(std::ceil(rows * frame.rows)))) {
        image.rowRange(pictureRows, image.rows).setTo(0);
    }

    PixelBuffer buffer() const {
        auto buffer = test::pixelBuffer(image);
        buffer.pictureRows = pictureRows;
        return buffer;
    }
};

// While a face is followed, the frames after need only their rows down to some way below it:
// read down to there, they give the face as whole frames do. The whole frame is
// asked for again when the regular search for a newcomer is due, which a frame cut short never
// gets; and when nobody is followed, or the frames are turned.
TEST_F(DlibFaceDetectorTest, AFollowedFaceNeedsOnlyTheRowsDownToBelowItAndReadsAlikeInThem) {
    const auto frame = test::standardFaceFrame();
    EXPECT_EQ(shared->followFrameRows(), 1) << "nobody followed yet";
    FaceObservation whole;
    // As long as a still face takes to settle its box (see AStillFaceReadsTheSameFrameAfterFrame).
    for (int i = 0; i < 6; ++i) {
        const auto found = faces(frame);
        ASSERT_EQ(found.size(), 1u);
        whole = found.front();
    }
    const double rows = shared->followFrameRows();
    // Boxes count from the bottom: the face's lowest row is at 1 - y of the frame's height.
    const double faceBottom = 1 - whole.boundingBox.y;
    EXPECT_GT(rows, faceBottom + 0.5 * whole.boundingBox.height);
    EXPECT_LT(rows, 1);
    const TopOfFrame top(frame, rows);
    const auto result = shared->detect(top.buffer(), mirrored);
    ASSERT_EQ(result.faces.size(), 1u);
    const auto& cut = result.faces.front();
    ASSERT_TRUE(cut.yaw && cut.pitch && cut.roll && whole.yaw && whole.pitch && whole.roll);
    // The pose fit starts from the last frame's: as still faces go frame after frame.
    EXPECT_NEAR(*cut.yaw, *whole.yaw, 1e-6);
    EXPECT_NEAR(*cut.pitch, *whole.pitch, 1e-6);
    EXPECT_NEAR(*cut.roll, *whole.roll, 1e-6);
    EXPECT_EQ(cut.boundingBox.x, whole.boundingBox.x);
    EXPECT_EQ(cut.boundingBox.y, whole.boundingBox.y);

    // Frames cut short, whatever is asked for: the search for a newcomer waits for a whole one.
    const auto searches = shared->fullSearches();
    int askedWhole = 0;
    for (int i = 0; i < DlibFaceDetector::searchInterval + 5; ++i) {
        askedWhole += shared->followFrameRows() == 1 ? 1 : 0;
        ASSERT_EQ(shared->detect(top.buffer(), mirrored).faces.size(), 1u) << "frame " << i;
    }
    EXPECT_EQ(shared->fullSearches(), searches) << "a newcomer was looked for in part of a frame";
    EXPECT_GE(askedWhole, 1) << "the search due never asked for a whole frame";
    EXPECT_EQ(shared->followFrameRows(), 1);
    ASSERT_EQ(faces(frame).size(), 1u);
    EXPECT_EQ(shared->fullSearches(), searches + 1) << "the search waiting had its whole frame";
    EXPECT_LT(shared->followFrameRows(), 1);

    // Turned a quarter, a frame's rows are the picture's columns.
    cv::Mat turned;
    cv::rotate(frame, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
    for (int i = 0; i < 2; ++i) {
        faces(turned, 6);
    }
    EXPECT_EQ(shared->followFrameRows(), 1);

    ASSERT_EQ(faces(frame).size(), 1u);
    shared->forgetFaces();
    EXPECT_EQ(shared->followFrameRows(), 1) << "nobody followed: whole frames";
}

TEST_F(DlibFaceDetectorTest, ReportsEveryFaceWithItsOwnBox) {
    std::string problem;
    const auto grace = test::headOf(test::Photo::graceHopper, &problem);
    const auto astronaut = test::headOf(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    const auto alone = test::composed({1280, 720}, {{grace, 1.2, {0.27, 0.5}}});
    const auto together =
        test::composed({1280, 720}, {{grace, 1.2, {0.27, 0.5}}, {astronaut, 1.8, {0.72, 0.5}}});

    const auto both = faces(together);
    ASSERT_EQ(both.size(), 2u);
    const auto& large = area(both[0]) > area(both[1]) ? both[0] : both[1];
    const auto& small = area(both[0]) > area(both[1]) ? both[1] : both[0];
    // Mirrored: the larger face, on the camera's left, is on the right of the detector's view.
    EXPECT_GT(centerX(large), 0.6);
    EXPECT_LT(centerX(small), 0.45);
    EXPECT_GT(area(large), 1.2 * area(small));

    // Followed, both stay; the second is found again by the regular full search after it
    // has been out of view.
    EXPECT_EQ(faces(together).size(), 2u);
    EXPECT_EQ(faces(alone).size(), 1u);
    std::size_t most = 0;
    for (int i = 0; i < DlibFaceDetector::searchInterval; ++i) {
        most = std::max(most, faces(together).size());
    }
    EXPECT_EQ(most, 2u);
}

// While a face is followed, the regular search looks only for faces that could outweigh it:
// a larger newcomer is noticed within the search interval, a smaller one not until the
// followed face leaves, and then in the same frame.
TEST_F(DlibFaceDetectorTest, WhileFollowingOnlyALargerNewcomerIsLookedFor) {
    std::string problem;
    const auto grace = test::headOf(test::Photo::graceHopper, &problem);
    const auto astronaut = test::headOf(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    // Faces of about 300 and 190 pixels.
    const auto large = test::Placement{grace, 1.6, {0.27, 0.5}};
    const auto small = test::Placement{astronaut, 2.0, {0.75, 0.5}};
    const auto both = test::composed({1280, 720}, {large, small});
    const auto smallAlone = test::composed({1280, 720}, {small});
    const auto largeAlone = test::composed({1280, 720}, {large});

    // Both are found by a search from scratch.
    ASSERT_EQ(faces(both).size(), 2u);

    shared->forgetFaces();
    ASSERT_EQ(faces(largeAlone).size(), 1u);
    for (int i = 0; i < 2 * DlibFaceDetector::searchInterval; ++i) {
        ASSERT_EQ(faces(both).size(), 1u) << "frame " << i;
    }
    const auto left = faces(smallAlone);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_GT(centerX(left.front()), 0.1); // mirrored: the newcomer, on the left
    EXPECT_LT(centerX(left.front()), 0.4);

    // Following the small face, the large one arriving is noticed.
    std::size_t most = 0;
    for (int i = 0; i < DlibFaceDetector::searchInterval; ++i) {
        most = std::max(most, faces(both).size());
    }
    EXPECT_EQ(most, 2u);
}

TEST_F(DlibFaceDetectorTest, AFaceThatJumpsAwayIsFoundAgainInTheSameFrame) {
    const auto grace = photo(test::Photo::graceHopper);
    const auto left = test::composed({1280, 720}, {{grace, 1.1, {0.25, 0.5}}});
    const auto right = test::composed({1280, 720}, {{grace, 1.1, {0.75, 0.5}}});
    ASSERT_EQ(faces(left).size(), 1u);
    ASSERT_EQ(faces(left).size(), 1u);
    const auto found = faces(right);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LT(centerX(found.front()), 0.4);
}

TEST_F(DlibFaceDetectorTest, AnUnreadableFrameIsAnErrorAndTheNextFrameIsFine) {
    const auto frame = test::standardFaceFrame();
    auto broken = test::pixelBuffer(frame);
    broken.bytesPerRow = 10;
    const auto result = shared->detect(broken, mirrored);
    ASSERT_NE(result.error, std::nullopt);
    EXPECT_TRUE(result.faces.empty());
    EXPECT_NE(shared->detect(test::pixelBuffer(frame), 0).error, std::nullopt);
    EXPECT_EQ(faces(frame).size(), 1u);
}

// Detects until `done` says the answer is the awaited one, looking again every few milliseconds
// for at most 90 s (reading the model takes seconds under the sanitizers, more on a busy machine).
FaceDetectionResult detectUntil(DlibFaceDetector& detector, const cv::Mat& frame,
                                const std::function<bool(const FaceDetectionResult&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto result = detector.detect(test::pixelBuffer(frame), mirrored);
    while (!done(result) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        result = detector.detect(test::pixelBuffer(frame), mirrored);
    }
    return result;
}

TEST(DlibFaceDetectorModel, ReadInTheBackgroundFramesWaitForNothingAndFailuresStayReported) {
    auto services = std::make_shared<Platform>();
    auto log = std::make_shared<sim::CapturingLogSink>();
    services->logSink = log;
    PlatformInstallation installation(services);
    std::string problem;
    const auto frame = test::standardFaceFrame(&problem);
    ASSERT_FALSE(frame.empty()) << problem;

    DlibFaceDetector detector;
    detector.loadInBackground();
    // Frames before the model is read are not analysed, and that is no failure.
    const auto early = detector.detect(test::pixelBuffer(frame), mirrored);
    EXPECT_EQ(early.error, std::nullopt);
    const auto ready = detectUntil(detector, frame, [](const auto& r) { return !r.faces.empty(); });
    EXPECT_EQ(ready.error, std::nullopt);
    EXPECT_EQ(ready.faces.size(), 1u);

    test::TemporaryDirectory directory("orvane-face");
    const auto path = directory.path / "shape_predictor_68_face_landmarks.dat";
    DlibFaceDetector missing(path.string());
    missing.loadInBackground();
    const auto failed =
        detectUntil(missing, frame, [](const auto& r) { return r.error.has_value(); });
    ASSERT_NE(failed.error, std::nullopt);
    EXPECT_NE(failed.error->find("libdlib-data"), std::string::npos) << *failed.error;
    EXPECT_EQ(missing.detect(test::pixelBuffer(frame), mirrored).error, failed.error);

    // The file appearing later is read again, in the background too.
    std::filesystem::create_symlink(DlibFaceDetector::defaultModelPath, path);
    const auto recovered =
        detectUntil(missing, frame, [](const auto& r) { return !r.faces.empty(); });
    EXPECT_EQ(recovered.error, std::nullopt);
    EXPECT_EQ(recovered.faces.size(), 1u);
}

TEST(DlibFaceDetectorModel, AMissingModelIsAnErrorUntilTheFileAppears) {
    test::TemporaryDirectory directory("orvane-face");
    const auto path = directory.path / "shape_predictor_68_face_landmarks.dat";
    DlibFaceDetector detector(path.string());
    std::string problem;
    const auto frame = test::standardFaceFrame(&problem);
    ASSERT_FALSE(frame.empty()) << problem;
    for (int i = 0; i < 3; ++i) {
        const auto result = detector.detect(test::pixelBuffer(frame), mirrored);
        ASSERT_NE(result.error, std::nullopt);
        EXPECT_NE(result.error->find(path.string()), std::string::npos) << *result.error;
        EXPECT_NE(result.error->find("libdlib-data"), std::string::npos) << *result.error;
        EXPECT_TRUE(result.faces.empty());
    }

    // Not a model at all: another clear error.
    std::ofstream(path) << "not a landmark model\n";
    const auto garbage = detector.detect(test::pixelBuffer(frame), mirrored);
    ASSERT_NE(garbage.error, std::nullopt);
    EXPECT_NE(garbage.error->find("unreadable"), std::string::npos) << *garbage.error;
    EXPECT_EQ(detector.detect(test::pixelBuffer(frame), mirrored).error, garbage.error);

    // Installing the package later is enough; no restart needed.
    std::filesystem::remove(path);
    std::filesystem::create_symlink(DlibFaceDetector::defaultModelPath, path);
    const auto recovered = detector.detect(test::pixelBuffer(frame), mirrored);
    EXPECT_EQ(recovered.error, std::nullopt);
    EXPECT_EQ(recovered.faces.size(), 1u);
}

// The camera probe over a camera that works and a face model that is not there: one error in
// the log however many frames arrive, and the reason as the verdict.
TEST(DlibFaceDetectorModel, AMissingModelIsLoggedOnceAndIsTheProbesVerdict) {
    sim::SimDesktop desktop;
    test::TemporaryDirectory directory("orvane-face");
    const auto path = directory.path / "shape_predictor_68_face_landmarks.dat";
    desktop.services->faceDetector = std::make_shared<DlibFaceDetector>(path.string());
    std::ostringstream out;
    CameraProbe::run(3, out);
    const auto errors = desktop.log->lines(LogLevel::error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("vision request failed: face model missing: " + path.string(), 0), 0u)
        << errors[0];
    const auto report = out.str();
    EXPECT_NE(report.find("we process:       1"), std::string::npos) << report;
    const auto verdict = report.substr(report.rfind("VERDICT: "));
    EXPECT_EQ(verdict.rfind("VERDICT: face model missing: " + path.string(), 0), 0u) << verdict;
}

TEST_F(DlibFaceDetectorTest, TheHeadTurnClipTurnsRightThenLeft) {
    test::TemporaryDirectory directory("orvane-face");
    const auto path = (directory.path / "head-turn.avi").string();
    std::string problem;
    const auto frame = test::standardFaceFrame(&problem);
    ASSERT_FALSE(frame.empty()) << problem;
    ASSERT_EQ(test::writeHeadTurnClip(path, frame, 8, 15), std::nullopt);

    cv::VideoCapture clip(path);
    ASSERT_TRUE(clip.isOpened());
    std::vector<cv::Mat> frames;
    for (cv::Mat image; clip.read(image);) {
        frames.push_back(image.clone());
    }
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames.front().size(), frame.size());
    // A quarter and three quarters of the way through: the head furthest right, then left.
    EXPECT_GT(searchedFace(frames[2]).yaw.value_or(0), 10 * degree);
    EXPECT_LT(searchedFace(frames[6]).yaw.value_or(0), -10 * degree);
}

} // namespace
} // namespace orvane::linuxbackend
