#include "orvane/support/Prefs.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <string>

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
    EXPECT_FALSE(prefs.readInputDevices()) << "the devices are read only once the user says so";
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
    store.setString(PrefKey::settleMilliseconds, " 450 ");
    store.setString(PrefKey::turnThreshold, "72.5");
    store.setString(PrefKey::focusPanes, "false");
    store.setString(PrefKey::respectMouse, "true");
    store.setReal(PrefKey::paneDelayMilliseconds, 249.9);
    store.setString(PrefKey::typingPauseSeconds, "+1.5e0");
    store.setInteger(PrefKey::edgeMarginPoints, 12);
    const auto& prefs = Prefs::shared();
    EXPECT_EQ(prefs.settleMilliseconds(), 450);
    EXPECT_DOUBLE_EQ(prefs.turnThreshold(), 72.5);
    EXPECT_FALSE(prefs.focusPanes());
    EXPECT_TRUE(prefs.respectMouse());
    EXPECT_EQ(prefs.paneDelayMilliseconds(), 249);
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 1.5);
    EXPECT_DOUBLE_EQ(prefs.edgeMarginPoints(), 12.0);
    store.setString(PrefKey::paneDelayMilliseconds, "9007199254740993");
    EXPECT_EQ(store.integer(PrefKey::paneDelayMilliseconds), 9007199254740993) << "not rounded";
}

// A value that is no finite number must not become 0 (switch at once) or NaN (never switch).
TEST(Prefs, ValuesThatAreNoFiniteNumberReadAsTheDefault) {
    sim::SimDesktop desktop;
    auto& store = *desktop.preferences;
    const auto& prefs = Prefs::shared();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const std::string text :
         {"soon", "", "  ", "nan", "-inf", "infinity", "12abc", "0x20", "1,5", "+-3", "1e400"}) {
        store.setString(PrefKey::settleMilliseconds, text);
        store.setString(PrefKey::typingPauseSeconds, text);
        store.setString(PrefKey::turnThreshold, text);
        EXPECT_EQ(prefs.settleMilliseconds(), 300) << text;
        EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 3.0) << text;
        EXPECT_DOUBLE_EQ(prefs.turnThreshold(), 50.0) << text;
    }
    for (const double bad : {nan, inf, -inf}) {
        store.setReal(PrefKey::paneDelayMilliseconds, bad);
        store.setReal(PrefKey::typingPauseSeconds, bad);
        store.setReal(PrefKey::edgeMarginPoints, bad);
        EXPECT_EQ(prefs.paneDelayMilliseconds(), 300) << bad;
        EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 3.0) << bad;
        EXPECT_DOUBLE_EQ(prefs.edgeMarginPoints(), 40.0) << bad;
    }
    // Without a registered default the accessor's empty value answers.
    store.setString("unregistered", "nan");
    EXPECT_EQ(store.integer("unregistered"), 0);
    EXPECT_EQ(store.real("unregistered"), 0.0);
    EXPECT_FALSE(store.boolean("unregistered"));
}

TEST(Prefs, DurationsAreHeldWithinADay) {
    sim::SimDesktop desktop;
    auto& store = *desktop.preferences;
    const auto& prefs = Prefs::shared();
    store.setReal(PrefKey::settleMilliseconds, 1e300);
    store.setInteger(PrefKey::paneDelayMilliseconds, std::numeric_limits<std::int64_t>::min());
    store.setString(PrefKey::typingPauseSeconds, "1e300");
    EXPECT_EQ(prefs.settleMilliseconds(), 86'400'000);
    EXPECT_EQ(prefs.paneDelayMilliseconds(), -86'400'000);
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), 86'400.0);

    // Anything up to a day, negative values included, reads as stored.
    store.setInteger(PrefKey::settleMilliseconds, 86'400'000);
    store.setInteger(PrefKey::paneDelayMilliseconds, -50);
    store.setReal(PrefKey::typingPauseSeconds, -1e300);
    EXPECT_EQ(prefs.settleMilliseconds(), 86'400'000);
    EXPECT_EQ(prefs.paneDelayMilliseconds(), -50);
    EXPECT_DOUBLE_EQ(prefs.typingPauseSeconds(), -86'400.0);
}

TEST(Prefs, BooleansAcceptTheUsualWordsInAnyCaseAndNothingElse) {
    sim::SimDesktop desktop;
    auto& store = *desktop.preferences;
    const auto& prefs = Prefs::shared();
    // learnFromClicks defaults to true and showGazeDot to false: a fallback shows on either.
    for (const std::string yes : {"true", "YES", "On", "1", " tRuE "}) {
        store.setString(PrefKey::learnFromClicks, yes);
        store.setString(PrefKey::showGazeDot, yes);
        EXPECT_TRUE(prefs.learnFromClicks()) << yes;
        EXPECT_TRUE(prefs.showGazeDot()) << yes;
    }
    for (const std::string no : {"false", "no", "OFF", "0", "False"}) {
        store.setString(PrefKey::learnFromClicks, no);
        store.setString(PrefKey::showGazeDot, no);
        EXPECT_FALSE(prefs.learnFromClicks()) << no;
        EXPECT_FALSE(prefs.showGazeDot()) << no;
    }
    for (const std::string other : {"maybe", "", "2", "-1", "yes please", "nan", "enabled"}) {
        store.setString(PrefKey::learnFromClicks, other);
        store.setString(PrefKey::showGazeDot, other);
        EXPECT_TRUE(prefs.learnFromClicks()) << other;
        EXPECT_FALSE(prefs.showGazeDot()) << other;
    }
    store.setInteger(PrefKey::learnFromClicks, 0);
    store.setReal(PrefKey::showGazeDot, 1.0);
    EXPECT_FALSE(prefs.learnFromClicks());
    EXPECT_TRUE(prefs.showGazeDot());
    store.setInteger(PrefKey::learnFromClicks, 7);
    store.setReal(PrefKey::showGazeDot, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(prefs.learnFromClicks());
    EXPECT_FALSE(prefs.showGazeDot());
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
