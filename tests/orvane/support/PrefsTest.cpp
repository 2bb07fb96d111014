#include "orvane/support/Prefs.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(Prefs, FreshUserReadsEveryDefault) {
    sim::SimDesktop desktop;
    const auto& prefs = Prefs::shared();
    EXPECT_EQ(prefs.settleMilliseconds(), 300);
    EXPECT_DOUBLE_EQ(prefs.turnThreshold(), 50.0);
    EXPECT_EQ(prefs.paneDelayMilliseconds(), 300);
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 3.0);
    EXPECT_TRUE(prefs.learnFromClicks());
    EXPECT_FALSE(prefs.showGazeDot());
    EXPECT_TRUE(prefs.focusPanes());
    EXPECT_TRUE(prefs.moveCursor());
    EXPECT_TRUE(prefs.respectMouse());
    EXPECT_DOUBLE_EQ(prefs.edgeMarginPoints(), 40.0);
    EXPECT_EQ(prefs.cameraID(), std::nullopt);
    // Registered defaults answer reads but are never stored.
    EXPECT_FALSE(desktop.preferences->hasStoredValue(PrefKey::settleMilliseconds));
}

TEST(Prefs, ValuesAreReadAfreshAtEveryUse) {
    sim::SimDesktop desktop;
    const auto& prefs = Prefs::shared();
    desktop.preferences->setInteger(PrefKey::settleMilliseconds, 0);
    EXPECT_EQ(prefs.settleMilliseconds(), 0);
    desktop.preferences->setBool(PrefKey::moveCursor, false);
    EXPECT_FALSE(prefs.moveCursor());
    desktop.preferences->remove(PrefKey::moveCursor);
    EXPECT_TRUE(prefs.moveCursor());
}

TEST(Prefs, ChoosingTheAutomaticCameraRemovesTheKey) {
    sim::SimDesktop desktop;
    auto& prefs = Prefs::shared();
    prefs.setCameraID("usb-Logi_C920-video-index0");
    EXPECT_EQ(prefs.cameraID(), "usb-Logi_C920-video-index0");
    prefs.setCameraID("");
    EXPECT_EQ(prefs.cameraID(), std::nullopt);
    EXPECT_FALSE(desktop.preferences->hasStoredValue(PrefKey::cameraID));
}

TEST(Prefs, StoredValuesOfAnotherTypeAreConverted) {
    sim::SimDesktop desktop;
    auto& store = *desktop.preferences;
    // What a hand-edited settings file or an INI round trip hands back.
    store.setString(PrefKey::settleMilliseconds, "450");
    store.setString(PrefKey::turnThreshold, "72.5");
    store.setString(PrefKey::focusPanes, "false");
    store.setString(PrefKey::respectMouse, "true");
    store.setReal(PrefKey::paneDelayMilliseconds, 249.9);
    store.setString(PrefKey::typingPauseSeconds, "soon");
    const auto& prefs = Prefs::shared();
    EXPECT_EQ(prefs.settleMilliseconds(), 450);
    EXPECT_DOUBLE_EQ(prefs.turnThreshold(), 72.5);
    EXPECT_FALSE(prefs.focusPanes());
    EXPECT_TRUE(prefs.respectMouse());
    EXPECT_EQ(prefs.paneDelayMilliseconds(), 249);
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 0.0);
}

TEST(Prefs, ExtremeStoredNumbersDoNotOverflow) {
    sim::SimDesktop desktop;
    desktop.preferences->setReal(PrefKey::settleMilliseconds, 1e300);
    desktop.preferences->setString(PrefKey::paneDelayMilliseconds, "nan");
    EXPECT_EQ(Prefs::shared().settleMilliseconds(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Prefs::shared().paneDelayMilliseconds(), 0);
}

TEST(Prefs, EachInstalledPlatformGetsItsOwnDefaults) {
    {
        sim::SimDesktop first;
        first.preferences->setInteger(PrefKey::settleMilliseconds, 1200);
        EXPECT_EQ(Prefs::shared().settleMilliseconds(), 1200);
    }
    sim::SimDesktop second;
    EXPECT_EQ(Prefs::shared().settleMilliseconds(), 300);
}

} // namespace
} // namespace orvane
