#pragma once

// What every window server must do, written once and run against each desktop: the simulated
// one, X11, and each compositor's link. A rig opens real windows of its desktop and waits on
// its events; the checks below see the desktop through the window-server contract alone.
//
// A rig type provides:
//   static bool available();   // false: skipped (no desktop to run on)
//   orvane::WindowServer& server();
//   Opened open(const std::string& title, plinth::Point origin);  // ordinary window
//   void raise(const Opened&);
//   void close(Opened&);
//   bool waitUntil(const std::function<bool()>& condition);       // bounded
//   plinth::Rect primaryFrame();   // the primary display, global top-left space
// where Opened has `pid` and `number`, as the window list will give them (OpenedWindow below
// does). A rig may also say
//   static constexpr bool readsPointer = false;  // the desktop never tells where the pointer is
//   static constexpr bool movesPointer = false;  // the desktop lets nobody move the pointer

#include "orvane/platform/WindowServer.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::conformance {

struct OpenedWindow {
    pid_t pid = 0;
    std::uint32_t number = 0;
};

template <typename Rig> class WindowServerConformance : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Rig::available()) {
            GTEST_SKIP() << "no desktop for this window server";
        }
        rig = std::make_unique<Rig>();
    }

    std::vector<WindowRecord> list() {
        auto windows = rig->server().onScreenWindows();
        EXPECT_TRUE(windows) << "the window list could not be had";
        return windows.value_or(std::vector<WindowRecord>{});
    }

    // Where the window is in the front-to-back list, when it is there once.
    template <typename Opened> std::optional<std::size_t> positionOf(const Opened& window) {
        const auto windows = list();
        std::optional<std::size_t> found;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            if (windows[i].number == std::int64_t{window.number}) {
                if (found) {
                    return std::nullopt;
                }
                found = i;
            }
        }
        return found;
    }

    template <typename Opened> std::optional<WindowRecord> recordOf(const Opened& window) {
        const auto at = positionOf(window);
        if (!at) {
            return std::nullopt;
        }
        return list()[*at];
    }

    std::unique_ptr<Rig> rig;
};

TYPED_TEST_SUITE_P(WindowServerConformance);

TYPED_TEST_P(WindowServerConformance, AnOpenedWindowIsListedOnceWithItsOwnerTitleAndFrame) {
    const auto primary = this->rig->primaryFrame();
    const plinth::Point origin{primary.x + 200, primary.y + 150};
    const auto window = this->rig->open("conformance one", origin);

    ASSERT_TRUE(this->rig->waitUntil([&] { return this->recordOf(window).has_value(); }))
        << "the opened window is not listed once";
    const auto record = *this->recordOf(window);
    EXPECT_EQ(record.ownerPid, std::int64_t{window.pid});
    EXPECT_EQ(record.title, "conformance one");
    // An ordinary window: on the ordinary layer, below the menus.
    EXPECT_EQ(record.layer.value_or(0), 0);
    EXPECT_LT(record.layer.value_or(0), this->rig->server().popUpMenuLevel());
    ASSERT_TRUE(record.bounds);
    EXPECT_TRUE(record.bounds->isFinite());
    // The frame's top-left corner is where the window was put, in the global top-left space.
    EXPECT_NEAR(record.bounds->minX(), origin.x, 1);
    EXPECT_NEAR(record.bounds->minY(), origin.y, 1);
    EXPECT_GT(record.bounds->width, 0);
    EXPECT_GT(record.bounds->height, 0);
    if (record.contentBounds) {
        // Decorations surround the content; they never stand inside it.
        EXPECT_GE(record.contentBounds->minX(), record.bounds->minX() - 1);
        EXPECT_GE(record.contentBounds->minY(), record.bounds->minY() - 1);
        EXPECT_LE(record.contentBounds->maxX(), record.bounds->maxX() + 1);
        EXPECT_LE(record.contentBounds->maxY(), record.bounds->maxY() + 1);
    }
}

TYPED_TEST_P(WindowServerConformance, TheListIsFrontToBackAndFollowsRaises) {
    const auto primary = this->rig->primaryFrame();
    const auto back = this->rig->open("conformance back", {primary.x + 100, primary.y + 100});
    ASSERT_TRUE(this->rig->waitUntil([&] { return this->positionOf(back).has_value(); }));
    const auto front = this->rig->open("conformance front", {primary.x + 300, primary.y + 200});
    ASSERT_TRUE(this->rig->waitUntil([&] {
        const auto b = this->positionOf(back);
        const auto f = this->positionOf(front);
        return b && f && *f < *b;
    })) << "the window opened last is not in front";

    this->rig->raise(back);
    EXPECT_TRUE(this->rig->waitUntil([&] {
        const auto b = this->positionOf(back);
        const auto f = this->positionOf(front);
        return b && f && *b < *f;
    })) << "the raised window did not come in front";
}

TYPED_TEST_P(WindowServerConformance, AClosedWindowLeavesTheListAndTheOthersStay) {
    const auto primary = this->rig->primaryFrame();
    auto leaving = this->rig->open("conformance leaving", {primary.x + 120, primary.y + 90});
    const auto staying = this->rig->open("conformance staying", {primary.x + 420, primary.y + 90});
    ASSERT_TRUE(this->rig->waitUntil([&] {
        return this->positionOf(leaving).has_value() && this->positionOf(staying).has_value();
    }));

    this->rig->close(leaving);
    EXPECT_TRUE(this->rig->waitUntil([&] {
        const auto windows = this->list();
        return std::none_of(windows.begin(), windows.end(),
                            [&](const WindowRecord& w) {
                                return w.number == std::int64_t{leaving.number};
                            }) &&
               this->positionOf(staying).has_value();
    })) << "the closed window is still listed, or the other one went with it";
}

TYPED_TEST_P(WindowServerConformance, APointerSentSomewhereIsFoundThere) {
    if constexpr (requires { TypeParam::readsPointer; }) {
        if (!TypeParam::readsPointer) {
            GTEST_SKIP() << "this desktop can move the pointer but never says where it is";
        }
    }
    if constexpr (requires { TypeParam::movesPointer; }) {
        if (!TypeParam::movesPointer) {
            GTEST_SKIP() << "this desktop says where the pointer is but lets nobody move it";
        }
    }
    const auto primary = this->rig->primaryFrame();
    const plinth::Point target{primary.x + 333, primary.y + 222};
    this->rig->server().warpPointer(target);
    const auto global = [&] {
        return this->rig->server().pointerLocation();
    };
    EXPECT_TRUE(this->rig->waitUntil([&] {
        const auto at = global();
        return std::abs(at.x - target.x) <= 1 && std::abs(at.y - target.y) <= 1;
    })) << "the pointer is at "
        << global().x << "," << global().y;
}

REGISTER_TYPED_TEST_SUITE_P(WindowServerConformance,
                            AnOpenedWindowIsListedOnceWithItsOwnerTitleAndFrame,
                            TheListIsFrontToBackAndFollowsRaises,
                            AClosedWindowLeavesTheListAndTheOthersStay,
                            APointerSentSomewhereIsFoundThere);

} // namespace orvane::conformance
