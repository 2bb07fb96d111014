#include "orvane/support/GazeReport.hpp"

#include "orvane/engine/EngineFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class GazeReportTest : public testing::EngineFixture {
protected:
    std::unique_ptr<GazeReport> startReport() {
        return std::make_unique<GazeReport>(
            engine, [this](const std::string& line) { lines.push_back(line); });
    }
    std::vector<std::string> lines;
};

TEST_F(GazeReportTest, ALineASecondFollowsTheHeadTheGazeAndTheFocus) {
    auto report = startReport();
    EXPECT_TRUE(lines.empty()); // the first comes after a second, like every other
    desktop.run(1.0);
    // Nothing seen yet: every part says so rather than showing stale or made-up values.
    EXPECT_THAT(lines, ElementsAre("  1 s  head —  gaze —  focus: notes.txt (Editor)  "
                                   "[needs camera access]"));

    engine->start();
    desktop.run(2.0);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "  3 s  head yaw -9° pitch +1°  gaze (900, 500) on Display 1  "
                            "focus: notes.txt (Editor)  [tracking on Display 1]");

    turnToward(onB, 0.5);
    desktop.run(3.0);
    EXPECT_THAT(lines.back(), HasSubstr("head yaw +8° pitch +1°  gaze (2800, 500) on Display 2  "
                                        "focus: shell (Terminal)  [tracking on Display 2]"));

    desktop.head->setVisible(false);
    desktop.run(2.0);
    EXPECT_THAT(lines.back(), HasSubstr("  8 s  head lost  gaze —  focus: shell (Terminal)"));

    report.reset();
    const auto written = lines.size();
    desktop.run(3.0);
    EXPECT_EQ(lines.size(), written);
}

} // namespace
} // namespace orvane
