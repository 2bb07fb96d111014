#pragma once

#include "orvane/support/Prefs.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orvane::fuzz {

// A broken promise ends the run, so that the fuzzer keeps the input that broke it.
inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Every typed read of the preferences answers, and the timed ones within their range.
inline void requireReadsInRange(const Prefs& prefs) {
    const auto withinADay = [](std::int64_t milliseconds) {
        return milliseconds >= -Prefs::longestMilliseconds &&
               milliseconds <= Prefs::longestMilliseconds;
    };
    require(withinADay(prefs.settleMilliseconds()), "settle delay out of range");
    require(withinADay(prefs.paneDelayMilliseconds()), "pane delay out of range");
    const double pause = prefs.typingPauseSeconds();
    require(std::isfinite(pause) && std::fabs(pause) <= Prefs::longestSeconds,
            "typing pause out of range");
    require(std::isfinite(prefs.turnThreshold()), "turn threshold not finite");
    require(std::isfinite(prefs.edgeMarginPoints()), "edge margin not finite");
    (void)prefs.learnFromClicks();
    (void)prefs.showGazeDot();
    (void)prefs.focusPanes();
    (void)prefs.moveCursor();
    (void)prefs.respectMouse();
    (void)prefs.cameraID();
}

} // namespace orvane::fuzz
