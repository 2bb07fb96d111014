#include "orvane/support/CameraProbe.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/support/Prefs.hpp"

#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace orvane {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// A stream buffer that remembers how much had been flushed at each line's end.
class LineBuffer : public std::stringbuf {
public:
    std::vector<std::size_t> flushedAt;

protected:
    int sync() override {
        flushedAt.push_back(str().size());
        return 0;
    }
};

class CameraProbeTest : public ::testing::Test {
protected:
    CameraProbeTest() {
        // Cameras take a moment to start; it also keeps frames off the slice boundaries.
        desktop.camera->updateDevice("sim-camera-0", [](auto& d) { d.startupDelay = 0.5; });
    }

    std::vector<std::string> probe(std::int64_t seconds) {
        LineBuffer buffer;
        std::ostream out(&buffer);
        const double start = desktop.clock->monotonic();
        CameraProbe::run(seconds, out);
        EXPECT_DOUBLE_EQ(desktop.clock->monotonic() - start, std::max<double>(seconds, 0));
        // Every line is out by the time the next one is written.
        std::vector<std::string> lines;
        std::size_t end = 0;
        std::istringstream text(buffer.str());
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
            end += line.size() + 1;
            if (!line.empty()) {
                EXPECT_THAT(buffer.flushedAt, Contains(end)) << line;
            }
        }
        return lines;
    }

    // Samples of an exact linear gaze: x = x0 + 2000 yaw, y = 500 + 1000 pitch (plus noise).
    static std::vector<plinth::CalibrationSample> samples(double x0, double noise = 0) {
        std::vector<plinth::CalibrationSample> samples;
        const double poses[][4] = {{-0.2, -0.1, 0.40, 0.45}, {0.2, -0.1, 0.62, 0.44},
                                   {0.0, 0.0, 0.50, 0.52},   {-0.2, 0.1, 0.41, 0.55},
                                   {0.2, 0.12, 0.58, 0.56},  {0.1, 0.05, 0.47, 0.49}};
        double sign = 1;
        for (const auto& p : poses) {
            samples.push_back({{1, p[0], p[1], p[2], p[3]},
                               x0 + 2000 * p[0] + sign * noise,
                               500 + 1000 * p[1],
                               0.04});
            sign = -sign;
        }
        return samples;
    }

    static std::string line(const char* pattern, double value) {
        char text[128];
        std::snprintf(text, sizeof text, pattern, value);
        return text;
    }

    sim::SimDesktop desktop;
};

TEST_F(CameraProbeTest, AHealthyPipelineWithoutCalibration) {
    sim::SimCameraDevice chosen = sim::SimCamera::defaultDevice();
    chosen.uniqueID = "usb-2";
    chosen.startupDelay = 0.5;
    desktop.camera->addDevice(chosen);
    Prefs::shared().setCameraID("usb-2");

    EXPECT_THAT(probe(8), ElementsAre("Orvane camera probe — 8s", "", "starting capture…", "",
                                      "camera delivers:  14.0 fps",
                                      "we process:       14.0 fps  (112 frames)",
                                      "faces detected:   112", "", "VERDICT: pipeline healthy"));
    EXPECT_THAT(desktop.camera->calls().openedIDs, ElementsAre("usb-2"));
    // Stopped by the time the probe returns, with nothing left to run on the camera's queue:
    // the caller tears the platform down next.
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
    for (const auto& queue : desktop.serialQueues->queues()) {
        EXPECT_EQ(queue->pendingCount(), 0u) << queue->label();
    }
}

TEST_F(CameraProbeTest, TheTimedPartStartsOnceTheFaceModelIsRead) {
    const double start = desktop.clock->monotonic();
    desktop.faceDetector->setLoadingUntil(desktop.clock, start + 30);
    std::ostringstream out;
    CameraProbe::run(4, out);
    // None of the four seconds went to the model: every frame after the camera started was
    // looked at.
    EXPECT_NEAR(desktop.clock->monotonic() - start, 34, 0.1);
    EXPECT_EQ(out.str(), "Orvane camera probe — 4s\n\nloading the face model…\nstarting capture…\n"
                         "\ncamera delivers:  13.0 fps\nwe process:       13.0 fps  (52 frames)\n"
                         "faces detected:   52\n\nVERDICT: pipeline healthy\n");
}

TEST_F(CameraProbeTest, AFaceModelThatNeverFinishesLoadingDelaysTheProbeOnlySoLong) {
    const double start = desktop.clock->monotonic();
    desktop.faceDetector->setLoadingUntil(desktop.clock, start + 1e9);
    std::ostringstream out;
    CameraProbe::run(2, out);
    EXPECT_NEAR(desktop.clock->monotonic() - start, 122, 0.1);
    EXPECT_THAT(out.str(), ::testing::HasSubstr("faces detected:   0"));
}

TEST_F(CameraProbeTest, AFastCameraThatRefusesTheCapIsThinnedToFifteen) {
    desktop.camera->updateDevice("sim-camera-0", [](auto& d) {
        d.lockRefusal = "busy";
        d.startupDelay = 0.48;
    });
    const auto lines = probe(8);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[4], "camera delivers:  28.1 fps"); // 225 frames in 8 s
    EXPECT_EQ(lines[5], "we process:       14.1 fps  (113 frames)");
}

TEST_F(CameraProbeTest, NoCameraIsReportedAndStillWaitsTheFullTime) {
    desktop.camera->setDevices({});
    EXPECT_THAT(probe(3),
                ElementsAre("Orvane camera probe — 3s", "", "starting capture…",
                            "camera error: No camera found.", "", "camera delivers:  0.0 fps",
                            "we process:       0.0 fps  (0 frames)", "faces detected:   0", "",
                            "VERDICT: no frames — the camera never started"));
}

TEST_F(CameraProbeTest, FramesWithoutAFaceShowNoPoseEvenWhenCalibrated) {
    CalibrationStore::shared().replace(samples(960));
    ASSERT_TRUE(CalibrationStore::shared().model());
    desktop.head->setVisible(false);
    const auto lines = probe(2);
    EXPECT_THAT(std::vector(lines.begin() + 4, lines.end()),
                ElementsAre("camera delivers:  11.0 fps", "we process:       11.0 fps  (22 frames)",
                            "faces detected:   0", "",
                            "VERDICT: frames arrive but no face was found (lighting? camera "
                            "covered?)"));
}

TEST_F(CameraProbeTest, FramesThatCannotBeLookedAtGiveTheReasonAsTheVerdict) {
    desktop.head->setDetectionError("face model missing: /nowhere/model.dat");
    const auto lines = probe(2);
    EXPECT_THAT(
        std::vector(lines.begin() + 6, lines.end()),
        ElementsAre("faces detected:   0", "", "VERDICT: face model missing: /nowhere/model.dat"));
    EXPECT_THAT(desktop.log->lines(LogLevel::error),
                ElementsAre("vision request failed: face model missing: /nowhere/model.dat"));
}

TEST_F(CameraProbeTest, WithACalibrationTellsWhereTheLastPoseLooks) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    CalibrationStore::shared().replace(samples(2900));
    desktop.head->setPose({0.1, -0.05, 0, 0.47, 0.49, 0.2, 0.2});
    const auto raw = CalibrationStore::shared().model()->predict({1, 0.1, -0.05, 0.47, 0.49});
    ASSERT_GT(raw.x, 1920) << "on the second display";
    const auto lines = probe(2);
    const std::string at = line("(%.0f, ", raw.x) + line("%.0f)", raw.y);
    EXPECT_THAT(std::vector(lines.begin() + 7, lines.end()),
                ElementsAre("last head pose:  yaw 0.100  pitch -0.050  face at (0.47, 0.49)",
                            "raw prediction:  " + at, "after clamping:  " + at,
                            "looking at:      Display 2", "", "VERDICT: pipeline healthy"));
}

// A remote shell or a server has no display service at all: the pose is still reported.
TEST_F(CameraProbeTest, WithoutADisplayThePoseIsReportedButNotWhereItLooks) {
    CalibrationStore::shared().replace(samples(960));
    desktop.head->setPose({0.1, -0.05, 0, 0.47, 0.49, 0.2, 0.2});
    const auto raw = CalibrationStore::shared().model()->predict({1, 0.1, -0.05, 0.47, 0.49});
    desktop.services->displays = nullptr;
    const auto lines = probe(2);
    const std::string at = line("(%.0f, ", raw.x) + line("%.0f)", raw.y);
    EXPECT_THAT(std::vector(lines.begin() + 7, lines.end()),
                ElementsAre("last head pose:  yaw 0.100  pitch -0.050  face at (0.47, 0.49)",
                            "raw prediction:  " + at, "after clamping:  " + at, "",
                            "NOTE: raw prediction fell 0 pt outside every display.",
                            "      Clamping keeps it usable, but recalibrating would improve "
                            "accuracy.",
                            "", "VERDICT: pipeline healthy"));
}

TEST_F(CameraProbeTest, APredictionOffEveryDisplayAndAPoorCalibrationEachAddANote) {
    CalibrationStore::shared().replace(samples(4000, 700));
    const auto& model = CalibrationStore::shared().model();
    ASSERT_TRUE(model);
    ASSERT_GT(model->meanError, 300);
    const auto raw = model->predict({1, 0, 0, 0.5, 0.5});
    ASSERT_GT(raw.x, 1920);
    const auto lines = probe(2);
    EXPECT_THAT(std::vector(lines.begin() + 7, lines.end()),
                ElementsAreArray<std::string>(
                    {"last head pose:  yaw 0.000  pitch 0.000  face at (0.50, 0.50)",
                     line("raw prediction:  (%.0f, 500)", raw.x), "after clamping:  (1919, 500)",
                     "looking at:      Display 1", "",
                     line("NOTE: raw prediction fell %.0f pt outside every display.", raw.x - 1920),
                     "      Clamping keeps it usable, but recalibrating would improve accuracy.",
                     line("NOTE: calibration error is %.0f pt — recalibrating is recommended.",
                          model->meanError),
                     "", "VERDICT: pipeline healthy"}));
}

TEST_F(CameraProbeTest, NoTimeAtAllPrintsZeroRatesAndLeavesTheCameraStopped) {
    for (std::int64_t seconds : {0, -4}) {
        const auto lines = probe(seconds);
        ASSERT_EQ(lines.size(), 9u);
        EXPECT_EQ(lines[0], "Orvane camera probe — " + std::to_string(seconds) + "s");
        EXPECT_THAT(std::vector(lines.begin() + 4, lines.end()),
                    ElementsAre("camera delivers:  0.0 fps",
                                "we process:       0.0 fps  (0 frames)", "faces detected:   0", "",
                                "VERDICT: no frames — the camera never started"));
        desktop.settle();
        EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
    }
}

} // namespace
} // namespace orvane
