#pragma once

#include "backends/linux/atspi/AtspiResponsiveness.hpp"

#include <memory>
#include <sys/types.h>

namespace orvane::linuxbackend {

class AtspiAccessibility;

// GTK 3 draws its popovers (the menus of header bars and menu buttons) inside their window, where
// the X window list cannot see them. Its accessibility tree can: each popover is a modal panel
// right under its window, showing while it is open (the window's own content is a panel there
// too, but never modal). So a popover is open when a window of the application has such a
// child. The question is asked each frame, so it reads the last answer the AT-SPI worker found;
// the worker asks the application again when that is older than a tenth of a second. Main
// thread.
class AtspiPopovers {
public:
    explicit AtspiPopovers(std::shared_ptr<AtspiAccessibility> accessibility);
    ~AtspiPopovers();

    // The application with process `pid` shows a popover, as last seen; false when it cannot
    // tell (yet).
    bool isShowing(pid_t pid);

    static constexpr double maxAgeSeconds = 0.1;

private:
    std::shared_ptr<AtspiAccessibility> accessibility_;
    std::shared_ptr<AtspiAnswerCache<pid_t, bool>> answers_;
};

} // namespace orvane::linuxbackend
