#pragma once

#include <atomic>
#include <memory>
#include <sys/types.h>

namespace orvane::linuxbackend {

class AtspiAccessibility;

// Which element has keyboard focus, followed on the AT-SPI worker through the toolkits' focus
// events, and looked up once when listening starts (the element focused before that, which no
// event tells of until focus moves). The main thread only reads what the worker found: asking
// never reaches another program, so a hung one costs nothing per question. A role is read
// again every so often while its element keeps focus: Qt tells nobody when a line edit starts
// or stops hiding its text.
class AtspiFocusWatch {
public:
    explicit AtspiFocusWatch(std::shared_ptr<AtspiAccessibility> accessibility);
    ~AtspiFocusWatch();
    AtspiFocusWatch(const AtspiFocusWatch&) = delete;
    AtspiFocusWatch& operator=(const AtspiFocusWatch&) = delete;

    // Listening starts with the watch; false while AT-SPI cannot be reached (or not yet).
    bool follow();

    // True when the element with keyboard focus belongs to process `pid` and is a password
    // entry, as last seen; follows first.
    bool isPasswordFocusedIn(pid_t pid);
    // The same for whichever process has it, where the compositor does not name the focused
    // window's process: the last focus AT-SPI told of stands for it.
    bool isPasswordFocused();

    // How often the focused element's role is read again, in milliseconds.
    static constexpr int roleRecheckMilliseconds = 500;

    struct Core; // the worker's side

private:
    std::shared_ptr<AtspiAccessibility> accessibility_;
    std::shared_ptr<Core> core_;
    bool started_ = false;
};

} // namespace orvane::linuxbackend
