#include "backends/linux/camera/FramePacer.hpp"

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

TEST(FramePacer, KeepsEveryFrameWholeUntilAskedForLess) {
    FramePacer pacer;
    const FramePacer::Clock::time_point start;
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(pacer.admit(start + frame * 1ms, 1280, 720), 1);
    }
    EXPECT_EQ(pacer.framesSkipped(), 0);
}

TEST(FramePacer, PassesOverFramesSoonerThanTheDemandedRateAndKeepsASteadyStreamAtIt) {
    FramePacer pacer;
    pacer.setDemand({5, 640});
    const FramePacer::Clock::time_point start;
    int kept = 0;
    // A 15 fps camera for three seconds: every third frame, decoded at half size.
    for (int frame = 0; frame < 45; ++frame) {
        const auto at = start + std::chrono::microseconds(frame * 1000000 / 15);
        if (const auto scale = pacer.admit(at, 1280, 720)) {
            EXPECT_EQ(frame % 3, 0) << frame;
            EXPECT_EQ(*scale, 2);
            ++kept;
        }
    }
    EXPECT_EQ(kept, 15);
    EXPECT_EQ(pacer.framesSkipped(), 30);
    // A steady 5 fps passes whole.
    pacer.setDemand({5, 0});
    for (int frame = 1; frame <= 10; ++frame) {
        EXPECT_TRUE(pacer.admit(start + 3s + frame * 200ms, 1280, 720)) << frame;
    }

    // Every frame again from the next one on, and a new stream keeps its first frame.
    pacer.setDemand({});
    EXPECT_EQ(pacer.admit(start + 5001ms, 1280, 720), 1);
    pacer.setDemand({5, 0});
    pacer.restart();
    EXPECT_TRUE(pacer.admit(start + 5002ms, 1280, 720));
}

TEST(FramePacer, ScalesAsFarAsTheDemandedSideAllows) {
    EXPECT_EQ(FramePacer::scaleFor(1280, 720, 0), 1);
    EXPECT_EQ(FramePacer::scaleFor(1280, 720, 640), 2);
    EXPECT_EQ(FramePacer::scaleFor(1280, 720, 641), 1);
    EXPECT_EQ(FramePacer::scaleFor(1920, 1080, 640), 2);
    EXPECT_EQ(FramePacer::scaleFor(2560, 1440, 640), 4);
    EXPECT_EQ(FramePacer::scaleFor(640, 480, 640), 1);
    EXPECT_EQ(FramePacer::scaleFor(720, 1280, 160), 8) << "the longer side, standing or lying";
    EXPECT_EQ(FramePacer::scaleFor(1281, 720, 161), 8) << "rounded up, as the decoder does";
    EXPECT_EQ(FramePacer::scaleFor(0, 0, 640), 1);
}

} // namespace
} // namespace orvane::linuxbackend
