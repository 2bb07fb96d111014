#include "plinth/ScreenGeometry.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace plinth {
namespace {

using namespace ScreenGeometry;

const std::vector<Rect> kSideBySide{{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}};

TEST(ScreenGeometryFlip, TurnsYUpsideDownAroundThePrimaryAndBack) {
    const Rect primary{0, 0, 1920, 1080};
    EXPECT_EQ(flipVertically(primary, primary), primary);
    EXPECT_EQ(flipVertically({0, 1080, 1920, 1080}, primary), (Rect{0, -1080, 1920, 1080}));
    EXPECT_EQ(flipVertically({1920, 0, 2560, 1440}, primary), (Rect{1920, -360, 2560, 1440}));
    for (const Rect rect : {Rect{-1280, -1024, 1280, 1024}, Rect{1920, -360, 2560, 1440}}) {
        EXPECT_EQ(flipVertically(flipVertically(rect, primary), primary), rect);
    }
}

TEST(ScreenGeometryContainment, IsHalfOpen) {
    const std::vector<Rect> frames{{0, 0, 100, 100}, {100, 0, 100, 100}};
    EXPECT_EQ(frameContaining({100, 50}, frames), 1u);
    EXPECT_EQ(frameContaining({0, 0}, frames), 0u);
    EXPECT_EQ(frameContaining({99.999, 99.999}, frames), 0u);
    EXPECT_EQ(frameContaining({50, 100}, frames), std::nullopt);
    EXPECT_EQ(frameContaining({200, 50}, frames), std::nullopt);
    EXPECT_EQ(frameContaining({-0.001, 50}, frames), std::nullopt);
    EXPECT_EQ(frameContaining({50, 50}, {}), std::nullopt);
}

TEST(ScreenGeometryContainment, OverlappingFramesGoToTheFirst) {
    const std::vector<Rect> mirrored{{0, 0, 1920, 1080}, {0, 0, 1280, 720}};
    EXPECT_EQ(frameContaining({100, 100}, mirrored), 0u);
    EXPECT_EQ(nearestFrame({100, 100}, mirrored), 0u);
}

TEST(ScreenGeometryDistance, IsTheGapToTheNearestEdgeOrCorner) {
    const Rect frame{0, 0, 100, 100};
    EXPECT_EQ(distance(frame, {150, 50}), 50);
    EXPECT_EQ(distance(frame, {130, 140}), 50);
    EXPECT_EQ(distance(frame, {-30, -40}), 50);
    EXPECT_EQ(distance(frame, {50, 50}), 0);
    EXPECT_EQ(distance(frame, {100, 100}), 0);
    EXPECT_EQ(distance(frame, {50, -7}), 7);
}

TEST(ScreenGeometryNearest, PrefersTheSmallestDistanceThenTheEarlierFrame) {
    const std::vector<Rect> frames{{0, 0, 100, 100}, {200, 0, 100, 100}, {400, 0, 100, 100}};
    EXPECT_EQ(nearestFrame({150, 50}, frames), 0u);
    EXPECT_EQ(nearestFrame({151, 50}, frames), 1u);
    EXPECT_EQ(nearestFrame({350, 50}, frames), 1u);
    EXPECT_EQ(nearestFrame({1000, 50}, frames), 2u);
    EXPECT_EQ(nearestFrame({1000, 50}, {{0, 0, 10, 10}}), 0u);
    EXPECT_EQ(nearestFrame({0, 0}, {}), std::nullopt);
}

TEST(ScreenGeometryClamp, PullsAStrayPointOnePointInsideTheNearestDisplay) {
    EXPECT_EQ(clamp({-30, 500}, kSideBySide), (Point{1, 500}));
    EXPECT_EQ(clamp({5000, -20}, kSideBySide), (Point{3839, 1}));
    EXPECT_EQ(clamp({1000, 2000}, kSideBySide), (Point{1000, 1079}));
}

TEST(ScreenGeometryClamp, LeavesAPointAloneWhenOnADisplayOrWithoutDisplays) {
    EXPECT_EQ(clamp({0, 0}, kSideBySide), (Point{0, 0}));
    EXPECT_EQ(clamp({1920, 1079.5}, kSideBySide), (Point{1920, 1079.5}));
    EXPECT_EQ(clamp({-30, 500}, {}), (Point{-30, 500}));
}

// The engine clamps and then asks which display holds the result; that must always succeed.
TEST(ScreenGeometryClamp, ResultIsAlwaysOnTheNearestDisplay) {
    const std::vector<Rect> frames{
        {0, 0, 1920, 1080}, {1920, -360, 2560, 1440}, {-1280, 1080, 1280, 1024}};
    for (double x = -3000; x <= 6000; x += 137.5) {
        for (double y = -2000; y <= 3000; y += 91.25) {
            const Point point{x, y};
            const auto holder = frameContaining(clamp(point, frames), frames);
            ASSERT_TRUE(holder) << x << "," << y;
            if (!frameContaining(point, frames)) {
                EXPECT_EQ(holder, nearestFrame(point, frames)) << x << "," << y;
            }
        }
    }
}

TEST(ScreenGeometryClamp, TheUpperBoundWinsInATinyFrame) {
    EXPECT_EQ(clamp({0, 0}, {{10, 10, 1, 1}}), (Point{10, 10}));
    EXPECT_EQ(clamp({50, 50}, {{10, 10, 1.5, 0.5}}), (Point{10.5, 9.5}));
}

TEST(ScreenGeometryEdge, OnlyLeftAndRightEdgesCountStrictly) {
    const Rect frame{0, 0, 1920, 1080};
    EXPECT_TRUE(isNearVerticalEdge({39.9, 500}, frame, 40));
    EXPECT_FALSE(isNearVerticalEdge({40, 500}, frame, 40));
    EXPECT_FALSE(isNearVerticalEdge({1880, 500}, frame, 40));
    EXPECT_TRUE(isNearVerticalEdge({1880.1, 500}, frame, 40));
    EXPECT_FALSE(isNearVerticalEdge({960, 5}, frame, 40));
    EXPECT_FALSE(isNearVerticalEdge({0, 500}, frame, 0));
    EXPECT_FALSE(isNearVerticalEdge({1920, 500}, frame, 0));
    EXPECT_FALSE(isNearVerticalEdge({5, 500}, frame, -10));
    EXPECT_TRUE(isNearVerticalEdge({-5, 500}, frame, 0));
}

TEST(ScreenGeometry, convertsScreenSpaceRelativeToThePrimary) {
    // A primary at (1920, 0) 2560x1440, with a 1920x1080 monitor to its left, bottom-aligned.
    const Rect primary{1920, 0, 2560, 1440};
    EXPECT_EQ(globalFrameFromScreen(primary, primary), (Rect{0, 0, 2560, 1440}));
    EXPECT_EQ(globalFrameFromScreen({0, 360, 1920, 1080}, primary), (Rect{-1920, 360, 1920, 1080}));
    EXPECT_EQ(globalFrameFromScreen({1920, -1080, 1920, 1080}, primary),
              (Rect{0, -1080, 1920, 1080}));
    EXPECT_EQ(globalFromScreen({100, 400}, primary), (Point{-1820, 400}));
    EXPECT_EQ(screenFromGlobal({-1820, 400}, primary), (Point{100, 400}));
}

} // namespace
} // namespace plinth
