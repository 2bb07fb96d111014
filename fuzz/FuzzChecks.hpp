#pragma once

#include "orvane/support/Prefs.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace orvane::fuzz {

// A broken promise ends the run, so that the fuzzer keeps the input that broke it.
inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Whether `text` is whole UTF-8: every sequence complete, as a cut between characters leaves it.
inline bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80         ? 1
                                   : lead >> 5 == 0x6  ? 2
                                   : lead >> 4 == 0xE  ? 3
                                   : lead >> 3 == 0x1E ? 4
                                                       : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
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
