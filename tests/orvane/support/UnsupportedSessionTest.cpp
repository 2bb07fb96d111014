// A desktop session where focus cannot be moved between other programs' windows: the engine
// stays idle and says why, and the diagnostics say it first and last.

#include "orvane/engine/EngineFixture.hpp"
#include "orvane/support/Diagnostics.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace orvane {
namespace {

using ::testing::ElementsAre;

class UnsupportedSession : public testing::EngineFixture {
protected:
    const std::string reason = "Focus cannot move here: choose another session.";

    UnsupportedSession() { platform().unsupportedSession = reason; }

    std::vector<std::string> report() {
        std::ostringstream out;
        Diagnostics::run(out);
        std::vector<std::string> lines;
        std::istringstream text(out.str());
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

TEST_F(UnsupportedSession, TheEngineNeverStartsItsCameraAndSaysWhyOnce) {
    ASSERT_TRUE(engine->isReady()); // everything else is in place
    engine->start();
    desktop.run(5.0);
    EXPECT_FALSE(cameraStreams());
    EXPECT_FALSE(engine->isPipelineLive());
    EXPECT_EQ(engine->status.get(), GazeStatus::waiting("unsupported session"));
    const auto texts = logged();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), reason), 1);

    // Neither a pause and resume from the menu nor a new calibration brings it to life.
    engine->setPaused(true);
    engine->setPaused(false);
    engine->recalibrated();
    desktop.run(5.0);
    EXPECT_FALSE(cameraStreams());
    EXPECT_TRUE(desktop.workspace->activations().empty());
}

TEST_F(UnsupportedSession, TheDiagnosticsSayItBeforeThePermissionsAndAtTheEnd) {
    const auto lines = report();
    ASSERT_GT(lines.size(), 8u);
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 5, lines.begin() + 9),
                ElementsAre("session:       UNSUPPORTED  ← see below", "camera:        authorized",
                            "accessibility: trusted", ""));
    EXPECT_THAT(std::vector<std::string>(lines.end() - 2, lines.end()), ElementsAre("", reason));

    platform().unsupportedSession.clear();
    const auto usual = report();
    EXPECT_EQ(usual[4], "");
    EXPECT_EQ(usual[5], "camera:        authorized");
    EXPECT_EQ(std::count(usual.begin(), usual.end(), reason), 0);
}

} // namespace
} // namespace orvane
