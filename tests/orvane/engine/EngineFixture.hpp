#pragma once

#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/support/Prefs.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace orvane {

inline void PrintTo(const GazeStatus& status, std::ostream* out) {
    *out << describe(status);
}

namespace testing {

// Two 1920 x 1080 displays side by side, A (primary, "Display 1") and B ("Display 2"), an
// editor window on A (frontmost) and a terminal window on B, and a calibration that maps yaw
// onto x and pitch onto y exactly, so a test can aim the gaze at any point.
class EngineFixture : public ::testing::Test {
protected:
    static constexpr pid_t editor = 501;
    static constexpr pid_t terminal = 502;
    static constexpr double frameInterval = 1.0 / 15.0;
    static constexpr double calibratedArea = 0.04;
    const plinth::Point onA{900, 500};
    const plinth::Point onB{2800, 500};

    EngineFixture() {
        desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
        desktop.launchApplication(editor, "org.example.Editor", "Editor");
        desktop.launchApplication(terminal, "org.example.Terminal", "Terminal");
        editorWindow = desktop.openWindow(editor, {100, 100, 1600, 900}, "notes.txt");
        terminalWindow = desktop.openWindow(terminal, {2020, 100, 1600, 900}, "shell");
        desktop.workspace->setFrontmost(editor);
        calibrate();
        faceToward(onA);
        engine = GazeEngine::make();
    }

    // The virtual user in front of the camera looks at `target` (at once, or turning).
    void faceToward(plinth::Point target) {
        auto pose = desktop.head->pose();
        pose.yaw = yawFor(target.x);
        pose.pitch = pitchFor(target.y);
        desktop.head->setPose(pose);
    }
    void turnToward(plinth::Point target, double seconds) {
        desktop.head->turnTo(yawFor(target.x), pitchFor(target.y), seconds);
    }
    bool cameraStreams() const { return !desktop.camera->streamingDevices().empty(); }

    static double yawFor(double x) { return (x - 1920) / 6400; }
    static double pitchFor(double y) { return (540 - y) / 2000; }

    static void calibrate() {
        std::vector<plinth::CalibrationSample> samples;
        int index = 0;
        for (double yaw = -0.3; yaw <= 0.31; yaw += 0.1) {
            for (double pitch = -0.2; pitch <= 0.21; pitch += 0.1) {
                plinth::HeadPose pose{yaw,
                                      pitch,
                                      0,
                                      0.5 + 0.01 * (index % 3),
                                      0.5 + 0.01 * (index % 2),
                                      calibratedArea,
                                      0};
                samples.push_back(
                    {pose.features(), 1920 + yaw * 6400, 540 - pitch * 2000, calibratedArea});
                ++index;
            }
        }
        CalibrationStore::shared().replace(samples);
    }

    // A fresh reading of a head turned toward `target`.
    plinth::HeadPose poseAt(plinth::Point target, double area = calibratedArea) const {
        return {yawFor(target.x), pitchFor(target.y), 0, 0.5, 0.5, area, desktop.clock->now()};
    }

    // One frame's worth: a pose toward `target` is handled, then a frame interval passes.
    void see(plinth::Point target) {
        engine->handle(poseAt(target));
        desktop.mainQueue->advance(frameInterval);
    }
    // Poses toward `target`, one a frame, for `seconds`.
    void lookAt(plinth::Point target, double seconds) {
        for (double spent = 0; spent < seconds - 1e-9; spent += frameInterval) {
            see(target);
        }
    }

    std::vector<std::string> logged() const {
        std::vector<std::string> texts;
        for (const auto& record : desktop.log->records()) {
            texts.push_back(record.text);
        }
        return texts;
    }
    std::size_t countLogged(const std::string& text) const {
        const auto texts = logged();
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }
    // Starts the engine and lets it settle on display A.
    void startTracking() {
        engine->start();
        desktop.run(1.0);
        ASSERT_TRUE(engine->isPipelineLive());
        ASSERT_EQ(engine->status.get(), GazeStatus::tracking("Display 1"));
    }
    std::size_t activationsOf(pid_t pid) const {
        std::size_t count = 0;
        for (pid_t activated : desktop.workspace->activations()) {
            count += activated == pid ? 1 : 0;
        }
        return count;
    }
    PreferencesStore& preferences() { return Prefs::shared().defaults(); }

    sim::SimDesktop desktop;
    sim::SimDesktop::OpenedWindow editorWindow;
    sim::SimDesktop::OpenedWindow terminalWindow;
    std::shared_ptr<GazeEngine> engine;
};

} // namespace testing
} // namespace orvane
