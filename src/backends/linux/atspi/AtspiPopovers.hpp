#pragma once

#include <memory>
#include <sys/types.h>

namespace orvane::linuxbackend {

class AtspiAccessibility;
class AtspiElement;

// GTK 3 draws its popovers (the menus of header bars and menu buttons) inside their window, where
// the X window list cannot see them. Its accessibility tree can: each popover is a modal panel
// right under its window, showing while it is open (the window's own content is a panel there
// too, but never modal). So a popover is open when a window of the application has such a
// child. A few calls per question, into an application that libatspi mostly answers from its
// cache. Main thread.
class AtspiPopovers {
public:
    explicit AtspiPopovers(std::shared_ptr<AtspiAccessibility> accessibility);
    ~AtspiPopovers();

    // The application with process `pid` shows a popover; false when it cannot tell.
    bool isShowing(pid_t pid);

private:
    std::shared_ptr<AtspiAccessibility> accessibility_;
    std::shared_ptr<AtspiElement> application_; // the last one asked about, found once
};

} // namespace orvane::linuxbackend
