#include "backends/linux/wayland/client/LayerShellGazeDot.hpp"

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

TEST(LayerShellGazeDot, PlacesTheDotOnItsOutputByMargins) {
    const plinth::Rect right{1920, 0, 1920, 1080};
    const auto placed = LayerShellGazeDot::place({2320, 300}, 40, right);
    EXPECT_EQ(placed.left, 380);
    EXPECT_EQ(placed.top, 280);
    // At an edge the whole dot stays on the output.
    const auto corner = LayerShellGazeDot::place({1925, 1079}, 40, right);
    EXPECT_EQ(corner.left, 0);
    EXPECT_EQ(corner.top, 1040);
}

TEST(LayerShellGazeDot, DrawsATranslucentDiscInARingWithSoftEdges) {
    const int size = 40;
    const auto pixels = LayerShellGazeDot::draw(size, 2);
    ASSERT_EQ(pixels.size(), std::size_t(size * size));
    const auto at = [&](int x, int y) {
        return pixels[std::size_t(y) * size + x];
    };
    const auto alpha = [](std::uint32_t pixel) {
        return pixel >> 24;
    };
    const auto red = [](std::uint32_t pixel) {
        return (pixel >> 16) & 0xff;
    };
    const auto green = [](std::uint32_t pixel) {
        return (pixel >> 8) & 0xff;
    };
    // The centre: red at 0.55, premultiplied (no channel above alpha).
    EXPECT_EQ(alpha(at(20, 20)), 140u);
    EXPECT_EQ(red(at(20, 20)), 140u);
    EXPECT_LT(green(at(20, 20)), 50u);
    // The ring, just inside the edge: white.
    EXPECT_GT(green(at(20, 1)), 150u);
    EXPECT_EQ(red(at(20, 1)), green(at(20, 1)));
    // Outside the disc nothing; on its edge partly covered.
    EXPECT_EQ(at(0, 0), 0u);
    const auto edge = alpha(at(20, 0));
    EXPECT_GT(edge, 0u);
    EXPECT_LT(edge, 179u);
    for (auto pixel : pixels) {
        ASSERT_LE(red(pixel), alpha(pixel));
    }
}

} // namespace
} // namespace orvane::linuxbackend
