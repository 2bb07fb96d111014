#pragma once

#include <memory>
#include <optional>
#include <sys/types.h>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEvent AtspiEvent;
typedef struct _AtspiEventListener AtspiEventListener;

namespace orvane::linuxbackend {

class AtspiAccessibility;

// Which element has keyboard focus, followed through the toolkits' focus events instead of
// looked up: no tree is walked and no application is asked on each question, so a hung
// application costs nothing. libatspi is given a main context of its own, drained at each
// question, so that its events are handled exactly then and never in the middle of something
// else on the main loop. Main thread.
class AtspiFocusWatch {
public:
    explicit AtspiFocusWatch(std::shared_ptr<AtspiAccessibility> accessibility);
    ~AtspiFocusWatch();
    AtspiFocusWatch(const AtspiFocusWatch&) = delete;
    AtspiFocusWatch& operator=(const AtspiFocusWatch&) = delete;

    // Listens from the first call on and takes in the focus changes told since the last call.
    // An element focused before the first call is seen at its next focus change (toolkits
    // tell again whenever their window is activated). False when AT-SPI cannot be reached.
    bool follow();

    // True when the element with keyboard focus belongs to process `pid` and is a password
    // entry; follows first.
    bool isPasswordFocusedIn(pid_t pid);

    // Questions a role is trusted for without an event saying it changed.
    static constexpr int roleRecheckEvery = 30;

private:
    static void onEvent(AtspiEvent* event, void* self);
    void note(const AtspiEvent& event);
    bool listen();
    void forget();

    std::shared_ptr<AtspiAccessibility> accessibility_;
    AtspiEventListener* listener_ = nullptr;
    bool listenFailed_ = false;
    // The last element that took focus and has not lost it; one reference held.
    AtspiAccessible* focused_ = nullptr;
    // Asked of it once, when first needed.
    std::optional<pid_t> pid_;
    std::optional<bool> isPassword_;
    int sinceRole_ = 0;
};

} // namespace orvane::linuxbackend
