#pragma once

#include "orvane/platform/Displays.hpp"

#include <memory>
#include <string>

namespace orvane {

// One full-screen window of our own, shown until `orderOut` or destruction.
class FullScreenWindow {
public:
    virtual ~FullScreenWindow() = default;
    // Hides the window; it is not shown again.
    virtual void orderOut() = 0;
};

// What the calibration needs of the toolkit that draws our windows. The toolkit's own layer
// (the Qt widgets) implements it and knows what to draw; components only place and remove.
class UiToolkit {
public:
    virtual ~UiToolkit() = default;

    // A borderless window above every other covering `display`'s whole frame, shown at once
    // whichever application is active, drawing the calibration screen for the display with
    // the key `screenID`. Null when the window could not be made.
    virtual std::unique_ptr<FullScreenWindow>
    presentCalibrationWindow(const Display& display, const std::string& screenID) = 0;

    // Brings this application to the front over all others, so its windows take the keyboard.
    virtual void activateIgnoringOtherApps() = 0;
};

} // namespace orvane
