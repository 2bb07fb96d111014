#include "orvane/support/Diagnostics.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Lets a test look around at every flush, with what had been written by then.
class FlushWatcher : public std::stringbuf {
public:
    std::function<void(const std::string& soFar)> atFlush;

protected:
    int sync() override {
        if (atFlush) {
            atFlush(str());
        }
        return 0;
    }
};

class DiagnosticsTest : public ::testing::Test {
protected:
    DiagnosticsTest() {
        // A built-in display with a second one to its left, reaching higher.
        desktop.displays->setScreens({
            {1, {0, 0, 1440, 900}, {0, 0, 1440, 875}, "Built-in Display"},
            {2, {-1920, -180, 1920, 1080}, {-1920, -180, 1920, 1080}, "DELL U2720Q"},
        });
        desktop.words->launchServicePathEndings = {"/systemd"};
    }

    std::vector<std::string> report() {
        buffer.str("");
        std::ostream out(&buffer);
        Diagnostics::run(out);
        std::vector<std::string> lines;
        std::istringstream text(buffer.str());
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> lastLines(std::size_t count) {
        const auto lines = report();
        return {lines.end() - static_cast<std::ptrdiff_t>(count), lines.end()};
    }

    // x = 700 + 3000 yaw, y = 300 - 2000 pitch, `off` points off that line at every other one.
    static std::vector<plinth::CalibrationSample> samples(double off) {
        std::vector<plinth::CalibrationSample> samples;
        const double poses[][2] = {{-0.2, 0},   {0.2, 0},      {0, 0.1},     {0, -0.1},
                                   {0.1, 0.05}, {-0.1, -0.05}, {0.15, -0.05}};
        for (std::size_t i = 0; i < std::size(poses); ++i) {
            const auto [yaw, pitch] = poses[i];
            samples.push_back({{1, yaw, pitch, 0.5, 0.5},
                               700 + 3000 * yaw + (i % 2 ? off : -off),
                               300 - 2000 * pitch,
                               0.04});
        }
        return samples;
    }

    static constexpr const char* layoutNow = "  layout now:   -1920,0,1920x1080|0,0,1440x900";
    FlushWatcher buffer;
    sim::SimDesktop desktop;
};

TEST_F(DiagnosticsTest, AHealthyDesktopStartedByTheLaunchService) {
    auto webcam = sim::SimCamera::defaultDevice();
    webcam.uniqueID = "usb-046d:0825";
    webcam.name = "HD Webcam C270";
    desktop.camera->addDevice(webcam);
    CalibrationStore::shared().replace(samples(0));
    desktop.processInfo->setParent(1733, "/usr/lib/systemd/systemd");
    // The headings of the lists go out before the lists are gathered.
    std::vector<std::string> flushedAfter;
    buffer.atFlush = [&](const std::string& soFar) {
        flushedAfter.push_back(soFar.substr(soFar.rfind('\n', soFar.size() - 2) + 1));
    };

    EXPECT_THAT(report(), ElementsAreArray<std::string>({
                              "Orvane diagnostics",
                              "",
                              "bundle id:   net.orvane.Orvane",
                              "bundle path: /opt/orvane/bin/orvane",
                              "",
                              "camera:        authorized",
                              "accessibility: trusted",
                              "",
                              "added to this desktop, and who may use it:",
                              "  net.orvane.Orvane on the session bus: free (no Orvane runs)",
                              "    any program of yours may ask it to show Orvane's window, "
                              "or to pause or resume it, nothing else",
                              "",
                              "cameras found:",
                              "  Simulated Camera  [sim-camera-0]",
                              "  HD Webcam C270  [usb-046d:0825]",
                              "",
                              "screens:",
                              "  Built-in Display: 1440x900 at (0,0)",
                              "  DELL U2720Q: 1920x1080 at (-1920,-180)",
                              "",
                              "reading calibration…",
                              "",
                              "calibration: ready",
                              "  samples: 7",
                              "  mean error: 0 pt",
                              layoutNow,
                              "",
                              "guards right now:",
                              "  secure input:    false",
                              "  menu open:       false",
                              "  overview:        false",
                              "  launcher front:  none",
                              "  blocking reason: none — safe to switch",
                          }));
    EXPECT_THAT(flushedAfter, ::testing::IsSupersetOf({"cameras found:\n", "screens:\n"}));
}

// A build made without some desktop families says so right under what it is, before anything
// that could hang; a full build has no such line.
TEST_F(DiagnosticsTest, WhatTheBuildWasMadeWithoutIsNamedUnderTheBundle) {
    const auto full = report();
    EXPECT_EQ(std::count_if(full.begin(), full.end(),
                            [](const std::string& line) { return line.starts_with("built"); }),
              0);
    platform().absentFeatures = {"Wayland support (GNOME Shell, KWin, sway)",
                                 "input device guards (evdev)"};
    const auto lines = report();
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[4], "built without: Wayland support (GNOME Shell, KWin, sway), input device "
                        "guards (evdev)");
}

TEST_F(DiagnosticsTest, TheCalibrationFileIsReadOnlyAfterTheReportSaysSo) {
    // An unusable file is moved aside when the store loads it: that shows when it was read.
    const auto file = desktop.applicationDirectory() / "calibration.json";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "{ not json";
    bool readBeforeTheLine = false;
    bool lineSeen = false;
    buffer.atFlush = [&](const std::string& soFar) {
        readBeforeTheLine |= !lineSeen && std::filesystem::exists(file.string() + ".bad");
        lineSeen = lineSeen || soFar.ends_with("reading calibration…\n");
    };

    const auto lines = report();
    EXPECT_TRUE(lineSeen);
    EXPECT_FALSE(readBeforeTheLine);
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".bad"));
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 20, lines.begin() + 25),
                ElementsAre("", "calibration: not calibrated", "  samples: 0", layoutNow, ""));
}

TEST_F(DiagnosticsTest, AStaleCalibrationStillShowsItsStoredData) {
    desktop.displays->setFrames({{0, 0, 1440, 900}});
    CalibrationStore::shared().replace(samples(40));
    const auto error = CalibrationStore::shared().model()->meanError;
    ASSERT_GT(error, 1);
    // The second display is plugged in after calibrating.
    desktop.displays->setScreens({
        {1, {0, 0, 1440, 900}, {0, 0, 1440, 875}, "Built-in Display"},
        {2, {-1920, -180, 1920, 1080}, {-1920, -180, 1920, 1080}, "DELL U2720Q"},
    });

    const auto lines = report();
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 20, lines.begin() + 26),
                ElementsAre("", "calibration: not calibrated", "  samples: 7",
                            "  mean error: " + std::to_string(static_cast<int>(error)) + " pt",
                            layoutNow, ""));
}

TEST_F(DiagnosticsTest, GuardsAnswerInOrderOfPrecedenceUnderThePlatformsWords) {
    desktop.secureInput->setEnabled(true);
    desktop.windowServer->addWindow({77, 0, {10, 10, 200, 300}, 101, "Files", ""});
    desktop.launchApplication(90, "org.example.Launcher", "Quick Open");
    desktop.workspace->setFrontmost(90);
    auto conventions = std::make_shared<DesktopConventions>();
    conventions->launcherIdentifiers = {"org.example.Launcher"};
    desktop.services->desktopConventions = conventions;
    desktop.words->overviewLabel = "activities";
    desktop.words->overviewReason = "Activities overview";

    EXPECT_THAT(lastLines(6),
                ElementsAre("guards right now:", "  secure input:    true",
                            "  menu open:       true", "  activities:      false",
                            "  launcher front:  Quick Open", "  blocking reason: secure input"));
    desktop.secureInput->setEnabled(false);
    EXPECT_EQ(lastLines(1)[0], "  blocking reason: menu open");

    // A full-screen overview: a window of the overview's owner over most of the desktop.
    desktop.windowServer->setEntries({});
    desktop.windowServer->addWindow({88, 0, {-1920, -180, 3360, 1080}, 20, "Dock", ""});
    EXPECT_THAT(lastLines(4), ElementsAre("  menu open:       false", "  activities:      true",
                                          "  launcher front:  Quick Open",
                                          "  blocking reason: Activities overview"));
    desktop.windowServer->setEntries({});
    EXPECT_EQ(lastLines(1)[0], "  blocking reason: Quick Open");

    // A label too long for the column keeps one space before its value.
    desktop.words->overviewLabel = "workspace overview open";
    EXPECT_EQ(lastLines(3)[0], "  workspace overview open: false");
}

TEST_F(DiagnosticsTest, MissingPermissionsAreSpelledOutAndNoTrustAddsAdvice) {
    desktop.camera->setDevices({});
    desktop.accessibility->setTrusted(false);
    desktop.words->notTrustedAdvice = {"", "Accessibility is off.", "Switch it on."};
    const std::pair<CameraAuthorization, const char*> words[] = {
        {CameraAuthorization::denied, "DENIED"},
        {CameraAuthorization::notDetermined, "not yet asked"},
        {CameraAuthorization::restricted, "restricted"}};
    for (const auto& [authorization, word] : words) {
        desktop.camera->setAuthorization(authorization);
        EXPECT_EQ(report()[5], std::string("camera:        ") + word);
    }

    const auto lines = report();
    EXPECT_EQ(lines[6], "accessibility: NOT TRUSTED");
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 11, lines.begin() + 15),
                ElementsAre("", "cameras found:", "", "screens:"));
    EXPECT_THAT(std::vector<std::string>(lines.end() - 4, lines.end()),
                ElementsAre("  blocking reason: none — safe to switch", "", "Accessibility is off.",
                            "Switch it on."));
}

// --- Who started us --------------------------------------------------------------------------

TEST_F(DiagnosticsTest, OnlyTheLaunchServiceCountsAsNotATerminal) {
    EXPECT_FALSE(Diagnostics::isLaunchedFromTerminal()); // parent 1
    desktop.processInfo->setParent(1733, "/usr/lib/systemd/systemd");
    EXPECT_FALSE(Diagnostics::isLaunchedFromTerminal());
    for (const char* other : {"/usr/bin/bash", "/usr/lib/systemd/systemd-helper"}) {
        desktop.processInfo->setParent(1733, other);
        EXPECT_TRUE(Diagnostics::isLaunchedFromTerminal()) << other;
    }
    // A parent we may not inspect is taken for a terminal: better a needless warning.
    desktop.processInfo->setParent(1733, "");
    EXPECT_TRUE(Diagnostics::isLaunchedFromTerminal());
}

TEST_F(DiagnosticsTest, WhereTheLauncherLendsItsPermissionsATerminalParentIsWarnedAbout) {
    desktop.processInfo->setParent(2001, "/usr/bin/zsh");
    desktop.accessibility->setTrusted(false);
    desktop.words->launchedFromTerminalWarning = {"", "WARNING: from a terminal.", "Look again."};
    desktop.words->notTrustedAdvice = {"", "Accessibility is off."};
    const std::string lastGuard = "  blocking reason: none — safe to switch";

    // Where permissions are the user's, a terminal changes nothing.
    EXPECT_EQ(report()[6], "accessibility: NOT TRUSTED");
    EXPECT_THAT(lastLines(3), ElementsAre(lastGuard, "", "Accessibility is off."));

    desktop.words->permissionsFollowLauncher = true;
    EXPECT_EQ(report()[6], "accessibility: NOT TRUSTED  ← see warning below");
    EXPECT_THAT(lastLines(6), ElementsAre(lastGuard, "", "WARNING: from a terminal.", "Look again.",
                                          "", "Accessibility is off."));

    // Trusted as seen from here says nothing about Orvane started normally: still warned.
    desktop.accessibility->setTrusted(true);
    EXPECT_EQ(report()[6], "accessibility: trusted  ← see warning below");
    EXPECT_THAT(lastLines(3), ElementsAre("", "WARNING: from a terminal.", "Look again."));

    desktop.processInfo->setParent(1733, "/usr/lib/systemd/systemd");
    EXPECT_EQ(report()[6], "accessibility: trusted");
    EXPECT_EQ(report().back(), lastGuard);
}

// --- Input devices ---------------------------------------------------------------------------

class StubInputDevices : public InputDeviceAccess {
public:
    Readability readability() const override { return {false, "You are not in the input group."}; }
    bool setEnabled(bool, std::string*) override { return false; }
    bool enabled() const override { return false; }
};

TEST_F(DiagnosticsTest, APauseHotKeyAnotherProgramHasIsNamed) {
    desktop.hotKeys->takeByAnotherApplication(PauseHotKey::key, PauseHotKey::modifiers);
    const auto lines = report();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "pause hot key: Shift+Super+G  TAKEN by another application"),
              lines.end());
}

TEST_F(DiagnosticsTest, WhoHoldsOrvanesNameAndWhatTheDesktopWasGivenAreSaid) {
    const auto exposure = [this] {
        const auto lines = report();
        const auto heading =
            std::find(lines.begin(), lines.end(), "added to this desktop, and who may use it:");
        const auto end = std::find(heading, lines.end(), "");
        return std::vector<std::string>(heading + 1, end);
    };
    desktop.processInfo->setInstanceNameOwner(31, "/usr/local/bin/orvane");
    EXPECT_EQ(exposure()[0], "  net.orvane.Orvane on the session bus: held by Orvane (pid 31)");
    // An Orvane upgraded while it runs is still Orvane.
    desktop.processInfo->setInstanceNameOwner(32, "/usr/bin/orvane (deleted)");
    EXPECT_EQ(exposure()[0], "  net.orvane.Orvane on the session bus: held by Orvane (pid 32)");
    // Only the file name counts, and all of it.
    desktop.processInfo->setInstanceNameOwner(33, "/home/me/orvane/bin/orvane-helper");
    EXPECT_EQ(exposure()[0], "  net.orvane.Orvane on the session bus: HELD BY "
                             "/home/me/orvane/bin/orvane-helper (pid 33), which is not Orvane");
    desktop.processInfo->setInstanceNameOwner(34, "");
    EXPECT_EQ(exposure()[0], "  net.orvane.Orvane on the session bus: HELD BY a program (pid 34), "
                             "which is not Orvane");

    desktop.services->exposure = {"an extension of the desktop's, for Orvane alone"};
    EXPECT_EQ(exposure().back(), "  an extension of the desktop's, for Orvane alone");
}

TEST_F(DiagnosticsTest, WhereTheDevicesAreOfferedTheReportSaysWhetherTheyCanBeRead) {
    const auto line = [this] {
        const auto lines = report();
        return std::find_if(lines.begin(), lines.end(), [](const std::string& text) {
                   return text.starts_with("input devices:");
               }) != lines.end();
    };
    EXPECT_FALSE(line()) << "not where the desktop shows every program's input";
    platform().inputDevices = std::make_shared<StubInputDevices>();
    const auto lines = report();
    const auto found =
        std::find(lines.begin(), lines.end(), "input devices: off in Settings, NOT READABLE");
    ASSERT_NE(found, lines.end());
    ASSERT_NE(found + 1, lines.end());
    EXPECT_EQ(*(found + 1), "  You are not in the input group.");
}

} // namespace
} // namespace orvane
