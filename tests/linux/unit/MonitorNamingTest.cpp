#include <gtest/gtest.h>

#include "backends/linux/x11/MonitorNaming.hpp"

#include <string>

namespace orvane::linuxbackend {
namespace {

// A 128-byte EDID base block with the given display descriptors (tag, text) in its four
// descriptor slots, each text ended by a line feed and padded with spaces as monitors do.
std::vector<std::uint8_t> edid(const std::vector<std::pair<std::uint8_t, std::string>>& slots) {
    std::vector<std::uint8_t> block(128, 0);
    const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), block.begin());
    for (std::size_t slot = 0; slot < slots.size() && slot < 4; ++slot) {
        const std::size_t offset = 54 + 18 * slot;
        block[offset + 3] = slots[slot].first;
        std::size_t i = offset + 5;
        for (char c : slots[slot].second) {
            block[i++] = static_cast<std::uint8_t>(c);
        }
        if (i < offset + 18) {
            block[i++] = 0x0A;
        }
        while (i < offset + 18) {
            block[i++] = ' ';
        }
    }
    return block;
}

TEST(MonitorNaming, readsTheProductNameFromAnyDescriptorSlot) {
    // Serial number (0xFF) and range limits (0xFD) before the name, as most monitors have it.
    EXPECT_EQ(MonitorNaming::edidProductName(
                  edid({{0xFF, "CN0123456"}, {0xFD, "8<K"}, {0xFC, "DELL U2720Q"}})),
              "DELL U2720Q");
    // Thirteen characters fill the slot: no line feed.
    EXPECT_EQ(MonitorNaming::edidProductName(edid({{0xFC, "ABCDEFGHIJKLM"}})), "ABCDEFGHIJKLM");
    // Trailing spaces inside the text are padding too.
    EXPECT_EQ(MonitorNaming::edidProductName(edid({{0xFC, "LG HDR 4K  "}})), "LG HDR 4K");
}

TEST(MonitorNaming, findsNoProductNameWhereThereIsNone) {
    EXPECT_FALSE(MonitorNaming::edidProductName({}));
    EXPECT_FALSE(MonitorNaming::edidProductName(edid({{0xFF, "CN0123456"}})));
    EXPECT_FALSE(MonitorNaming::edidProductName(edid({{0xFC, ""}})));
    // Cut short before the base block ends.
    auto truncated = edid({{0xFC, "DELL U2720Q"}});
    truncated.resize(100);
    EXPECT_FALSE(MonitorNaming::edidProductName(truncated));
    // A detailed timing descriptor (non-zero pixel clock) whose fourth byte happens to be 0xFC.
    auto timing = edid({{0xFC, "DELL U2720Q"}});
    timing[54] = 0x01;
    EXPECT_FALSE(MonitorNaming::edidProductName(timing));
}

TEST(MonitorNaming, prefersTheNameTheUserGaveThenTheEdidThenTheOutput) {
    const auto named = edid({{0xFC, "DELL U2720Q"}});
    // Set up with xrandr --setmonitor: the user's name, whatever the EDID says.
    EXPECT_EQ(MonitorNaming::displayName("LEFT", false, named, "DP-1"), "LEFT");
    // Automatic monitors carry their output's name: the maker's name is the better one.
    EXPECT_EQ(MonitorNaming::displayName("DP-1", true, named, "DP-1"), "DELL U2720Q");
    EXPECT_EQ(MonitorNaming::displayName("DP-1", true, {}, "DP-1"), "DP-1");
    // A monitor set up without a name, or one without outputs.
    EXPECT_EQ(MonitorNaming::displayName("", false, named, "DP-1"), "DELL U2720Q");
    EXPECT_EQ(MonitorNaming::displayName("", false, {}, "HDMI-2"), "HDMI-2");
    EXPECT_EQ(MonitorNaming::displayName("MID", true, {}, ""), "MID");
}

} // namespace
} // namespace orvane::linuxbackend
