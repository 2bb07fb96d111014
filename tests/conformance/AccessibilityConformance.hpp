#pragma once

// What every accessibility service must do, written once and run against each: the simulated
// one and AT-SPI with real toolkits. A rig starts real programs of its desktop and waits on its
// events; the checks below see the programs through the accessibility contract alone.
//
// A rig type provides:
//   static bool available();   // false: skipped (no desktop to run on)
//   orvane::AccessibilityService& service();
//   Program start(const std::string& title);  // two windows side by side, each a text pane
//   void raise(const Window&);                // as the user would, past the service
//   void activate(const Program&);            // the program as a whole, as a launcher does
//   std::uint64_t activeWindow();             // the number of the window the desktop focused
//   void stop(Program&);  void resume(Program&);  void end(Program&);
//   bool waitUntil(const std::function<bool()>& condition);  // bounded
//   plinth::Point nowhere();                  // on none of the programs' windows
//   std::chrono::milliseconds answerBound();  // how long a call may take at most
//   std::chrono::milliseconds timed(const std::function<void()>& call);
// where Program has `pid` and `windows` (left, right: a std::array), and Window has `number`,
// `frames` (what the desktop knows it by: its frame, its content...) and `inside` (a point on its
// text pane).

#include "orvane/platform/AccessibilityService.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::conformance {

template <typename Rig> class AccessibilityConformance : public ::testing::Test {
protected:
    using Program = typename Rig::Program;
    using Window = typename Rig::Window;

    void SetUp() override {
        if (!Rig::available()) {
            GTEST_SKIP() << "no desktop for this accessibility service";
        }
        rig = std::make_unique<Rig>();
    }

    AccessibilityService& service() { return rig->service(); }
    AccessibleRef application(const Program& program) {
        return service().applicationElement(program.pid);
    }

    // The program's windows as the service lists them, with their frames; empty when any
    // answer is missing.
    std::vector<std::pair<AccessibleRef, plinth::Rect>> listed(const Program& program) {
        std::vector<std::pair<AccessibleRef, plinth::Rect>> framed;
        const auto windows = service().windows(application(program)).value();
        for (const auto& window : windows.value_or(std::vector<AccessibleRef>{})) {
            const auto frame = service().frame(window).value();
            if (!frame) {
                return {};
            }
            framed.emplace_back(window, *frame);
        }
        return framed;
    }

    // Whether a listed frame is the window's: toolkits describe a window by its frame or by its
    // content, give or take a few pixels.
    static bool shows(const plinth::Rect& frame, const Window& window) {
        return std::any_of(window.frames.begin(), window.frames.end(), [&](const auto& known) {
            return std::hypot(frame.x - known.x, frame.y - known.y) +
                       std::abs(frame.width - known.width) + std::abs(frame.height - known.height) <
                   12;
        });
    }

    // The listed windows, front to back, are `front` then `back`.
    bool listedAs(const Program& program, const Window& front, const Window& back) {
        const auto windows = listed(program);
        return windows.size() == 2 && shows(windows[0].second, front) &&
               shows(windows[1].second, back);
    }

    AccessibleRef elementOf(const Program& program, const Window& window) {
        for (const auto& [element, frame] : listed(program)) {
            if (shows(frame, window)) {
                return element;
            }
        }
        return nullptr;
    }

    std::unique_ptr<Rig> rig;
};

TYPED_TEST_SUITE_P(AccessibilityConformance);

TYPED_TEST_P(AccessibilityConformance, AProgramsWindowsAreListedFrontToBackWithTheirFrames) {
    EXPECT_TRUE(this->service().isProcessTrusted());
    auto program = this->rig->start("conformance list");
    const auto& left = program.windows[0];
    const auto& right = program.windows[1];

    this->rig->raise(left);
    ASSERT_TRUE(this->rig->waitUntil([&] { return this->listedAs(program, left, right); }))
        << "the raised window is not listed first, or a frame is not the window's";
    this->rig->raise(right);
    EXPECT_TRUE(this->rig->waitUntil([&] { return this->listedAs(program, right, left); }))
        << "the order did not follow a raise";

    // Windows belong to applications: nothing else lists any.
    const auto window = this->elementOf(program, left);
    ASSERT_TRUE(window);
    EXPECT_EQ(this->service().role(window).value(), AccessibleRole::window);
    EXPECT_EQ(this->service().role(this->application(program)).value(),
              AccessibleRole::application);
    EXPECT_EQ(this->service().windows(window).error(), AccessError::unsupported);
}

TYPED_TEST_P(AccessibilityConformance, ARaisedMainWindowIsTheOneActivatingItsProgramFocuses) {
    auto program = this->rig->start("conformance main");
    const auto& left = program.windows[0];
    const auto& right = program.windows[1];
    this->rig->raise(right);
    ASSERT_TRUE(this->rig->waitUntil([&] { return this->listedAs(program, right, left); }));
    const auto window = this->elementOf(program, left);
    ASSERT_TRUE(window);

    EXPECT_TRUE(this->service().raise(window).ok());
    EXPECT_TRUE(this->service().makeMain(window).ok());
    EXPECT_TRUE(this->rig->waitUntil([&] { return this->listedAs(program, left, right); }))
        << "raised through the service, the window is not in front";
    this->rig->activate(program);
    EXPECT_TRUE(this->rig->waitUntil([&] { return this->rig->activeWindow() == left.number; }))
        << "activating the program focused another window";
}

TYPED_TEST_P(AccessibilityConformance, TheElementAtAPointClimbsToItsPaneAndItsWindow) {
    auto program = this->rig->start("conformance panes");
    const auto& right = program.windows[1];
    auto& service = this->service();
    std::optional<AccessibleRef> hit;
    ASSERT_TRUE(this->rig->waitUntil([&] {
        hit = service.elementAt(this->application(program), right.inside).value();
        return hit && *hit;
    })) << "nothing found on the text pane";

    // Up the parents: the text pane first, then the window, then the application on top.
    AccessibleRef pane;
    std::vector<AccessibleRole> roles;
    AccessibleRef current = *hit;
    for (int climbed = 0; climbed < 40 && current; ++climbed) {
        const auto role = service.role(current).value();
        ASSERT_TRUE(role) << "a role could not be read";
        roles.push_back(*role);
        if (!pane && (*role == AccessibleRole::textArea || *role == AccessibleRole::scrollArea)) {
            pane = current;
        }
        if (*role == AccessibleRole::application) {
            break;
        }
        const auto parent = service.parent(current).value();
        ASSERT_TRUE(parent);
        current = *parent;
    }
    ASSERT_TRUE(pane) << "no pane above the element at the point";
    ASSERT_GE(roles.size(), 2u);
    EXPECT_EQ(roles.back(), AccessibleRole::application);
    EXPECT_EQ(roles[roles.size() - 2], AccessibleRole::window);

    const auto frame = service.frame(pane).value();
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->minX() <= right.inside.x && right.inside.x < frame->maxX() &&
                frame->minY() <= right.inside.y && right.inside.y < frame->maxY())
        << "the pane's frame does not hold the point";
    EXPECT_TRUE(service.focus(pane).ok());

    EXPECT_EQ(service.elementAt(this->application(program), this->rig->nowhere()).error(),
              AccessError::noValue);
}

TYPED_TEST_P(AccessibilityConformance, TheElementsOfAProgramThatEndedAreInvalid) {
    auto program = this->rig->start("conformance ended");
    AccessibleRef window;
    ASSERT_TRUE(this->rig->waitUntil([&] {
        window = this->elementOf(program, program.windows[0]);
        return window != nullptr;
    }));
    const auto application = this->application(program);
    const pid_t pid = program.pid;

    this->rig->end(program);
    auto& service = this->service();
    EXPECT_TRUE(this->rig->waitUntil([&] {
        return service.windows(application).error() == AccessError::invalidElement;
    })) << "its application still answers";
    EXPECT_EQ(service.frame(window).error(), AccessError::invalidElement);
    EXPECT_EQ(service.windows(service.applicationElement(pid)).error(),
              AccessError::invalidElement);
}

TYPED_TEST_P(AccessibilityConformance, AProgramThatDoesNotAnswerCannotCompleteInTime) {
    auto program = this->rig->start("conformance stopped");
    const auto& left = program.windows[0];
    ASSERT_TRUE(this->rig->waitUntil([&] { return !this->listed(program).empty(); }));
    const auto application = this->application(program);

    this->rig->stop(program);
    auto& service = this->service();
    // Twice: the first call finds it silent, the second must not wait for it either.
    for (int call = 0; call < 2; ++call) {
        std::optional<AccessError> windows, hit;
        const auto took = this->rig->timed([&] {
            windows = service.windows(application).error();
            hit = service.elementAt(application, left.inside).error();
        });
        EXPECT_EQ(windows, AccessError::cannotComplete);
        EXPECT_EQ(hit, AccessError::cannotComplete);
        EXPECT_LE(took, 2 * this->rig->answerBound());
    }
    this->rig->resume(program);
}

REGISTER_TYPED_TEST_SUITE_P(AccessibilityConformance,
                            AProgramsWindowsAreListedFrontToBackWithTheirFrames,
                            ARaisedMainWindowIsTheOneActivatingItsProgramFocuses,
                            TheElementAtAPointClimbsToItsPaneAndItsWindow,
                            TheElementsOfAProgramThatEndedAreInvalid,
                            AProgramThatDoesNotAnswerCannotCompleteInTime);

} // namespace orvane::conformance
