#include "backends/linux/atspi/AtspiFocusWatch.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiRoles.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"

#include <atspi/atspi.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

constexpr const char* focusEvent = "object:state-changed:focused";
// An entry whose text is shown or hidden changes role without losing focus.
constexpr const char* roleEvent = "object:property-change:accessible-role";
// How much of a window's tree the first look for the focused element walks at most.
constexpr int maxFocusSearch = 4000;
// How many times a focused window frame is searched for a focused element inside it: on its
// focus event and on the next role checks, while the program settles its own focus.
constexpr int frameSearches = 3;

bool timedOut(GError* error) {
    return error && (std::strstr(error->message, "NoReply") != nullptr ||
                     std::strstr(error->message, "imeout") != nullptr ||
                     std::strstr(error->message, "did not receive a reply") != nullptr);
}

} // namespace

// Lives on the worker; the main thread reads `seen` only.
struct AtspiFocusWatch::Core {
    std::shared_ptr<AtspiResponsiveness> responsiveness;
    AtspiEventListener* listener = nullptr;
    std::atomic<bool> listening{false};
    bool listenFailed = false;
    // The last element that took focus and has not lost it; one reference held.
    AtspiAccessible* focused = nullptr;
    pid_t focusedPid = 0;
    int frameSearchesLeft = 0;

    struct Seen {
        pid_t pid = 0;
        bool isPassword = false;
    };
    std::mutex seenMutex;
    Seen seen;
    std::atomic<pid_t> hint{0}; // the process the main thread last asked about

    ~Core() {
        if (listener) {
            atspi_event_listener_deregister(listener, focusEvent, nullptr);
            atspi_event_listener_deregister(listener, roleEvent, nullptr);
            g_object_unref(listener);
        }
        forget();
    }

    void publish(pid_t pid, bool isPassword) {
        std::lock_guard lock(seenMutex);
        seen = {pid, isPassword};
    }

    void forget() {
        if (focused) {
            g_object_unref(focused);
            focused = nullptr;
        }
        focusedPid = 0;
        publish(0, false);
    }

    // What was published stays until the new element's role is read: a moment's "no
    // password" between two password entries would let focus go.
    void take(AtspiAccessible* element) {
        if (element == focused) {
            return;
        }
        if (focused) {
            g_object_unref(focused);
        }
        focused = static_cast<AtspiAccessible*>(g_object_ref(element));
        frameSearchesLeft = frameSearches;
        GError* error = nullptr;
        const guint pid = atspi_accessible_get_process_id(element, &error); // the bus answers
        focusedPid = error ? 0 : static_cast<pid_t>(pid);
        g_clear_error(&error);
    }

    // Reads the focused element's role, unless its program is this one or skipped. A program
    // that is slow to answer (a loaded machine) or skipped for not answering keeps what it last
    // said: slowness is no reason to let focus leave a password entry. One that has just told of
    // the element (`heard`) is running, skipped or not: it is asked, rather than waiting for its
    // next probe, which may be seconds away while the user types a password.
    // `inside`: the element was found inside a focused frame, which is not searched again (a
    // program's tree may loop).
    void readRole(bool heard, bool inside = false) {
        if (!focused || focusedPid <= 0 || focusedPid == getpid()) {
            publish(focusedPid, false);
            return;
        }
        if (!heard && responsiveness && responsiveness->isSkipped(focusedPid)) {
            return;
        }
        AtspiAccessible* element = static_cast<AtspiAccessible*>(g_object_ref(focused));
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(element, &error);
        const bool current = element == focused; // events may come in during the call
        const bool late = timedOut(error);
        if (responsiveness) {
            if (late) {
                responsiveness->missed(focusedPid, AtspiWorker::monotonic());
            } else if (heard) {
                responsiveness->answered(focusedPid);
            }
        }
        const bool gone = error != nullptr && !late;
        const bool frame = !error && (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW);
        g_clear_error(&error);
        if (current && !late && frame && !inside && frameSearchesLeft > 0) {
            // A window coming forward tells of its frame; a browser may tell of the field its
            // page focused before that and not again after. The element focused inside the
            // frame is where keys go.
            --frameSearchesLeft;
            std::deque<AtspiAccessible*> start{
                static_cast<AtspiAccessible*>(g_object_ref(element))};
            AtspiAccessible* inner = focusedAmong(std::move(start), focusedPid, element);
            if (inner && focused == element) {
                take(inner);
                g_object_unref(inner);
                g_object_unref(element);
                readRole(heard, true);
                return;
            }
            if (inner) {
                g_object_unref(inner);
            }
        }
        if (current && !late) {
            // Any other error: the element is gone.
            publish(focusedPid, !gone && role == ATSPI_ROLE_PASSWORD_TEXT);
        }
        g_object_unref(element);
    }

    static void onEvent(AtspiEvent* event, void* data) {
        if (!event) {
            return;
        }
        if (auto core = static_cast<std::weak_ptr<Core>*>(data)->lock()) {
            core->note(*event);
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // Events may come in the middle of another call on the worker: only noted here, and the
    // focused element asked about afterwards.
    void note(const AtspiEvent& event) {
        if (!event.type || !event.source) {
            return;
        }
        if (std::strcmp(event.type, focusEvent) == 0) {
            if (event.detail1 != 0) {
                if (event.source != focused) {
                    take(event.source);
                } else {
                    // Told again, as a frame coming forward again is: what it holds may differ.
                    frameSearchesLeft = frameSearches;
                }
                askRoleSoon();
            } else if (event.source == focused) {
                forget();
            }
        } else if (event.source == focused) {
            askRoleSoon();
        }
    }

    std::weak_ptr<Core> self;
    void askRoleSoon() {
        AtspiWorker::shared().post([weak = self] {
            if (auto core = weak.lock()) {
                core->readRole(true);
            }
        });
    }

    bool listen() {
        if (listener) {
            return true;
        }
        if (listenFailed || !AtspiAccessibility::initializeOnWorker()) {
            return false;
        }
        listener = atspi_event_listener_new(
            &Core::onEvent, new std::weak_ptr<Core>(self),
            [](gpointer data) { delete static_cast<std::weak_ptr<Core>*>(data); });
        GError* error = nullptr;
        const bool focus = atspi_event_listener_register(listener, focusEvent, &error);
        g_clear_error(&error);
        atspi_event_listener_register(listener, roleEvent, &error);
        g_clear_error(&error);
        if (!focus) {
            g_object_unref(listener);
            listener = nullptr;
            listenFailed = true;
            return false;
        }
        listening = true;
        return true;
    }

    // The element focused before anyone listened: the focused descendant of the active window
    // of some application on the bus, the one the main thread asked about first. Skips this
    // process and programs that do not answer; the walk is bounded.
    void findFocused() {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (!desktop) {
            return;
        }
        GError* error = nullptr;
        const gint count = atspi_accessible_get_child_count(desktop, &error);
        g_clear_error(&error);
        std::deque<std::pair<AtspiAccessible*, pid_t>> applications;
        for (gint i = 0; i < count; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, &error);
            g_clear_error(&error);
            if (!app) {
                continue;
            }
            const auto pid = static_cast<pid_t>(atspi_accessible_get_process_id(app, &error));
            g_clear_error(&error);
            if (pid <= 0 || pid == getpid() || (responsiveness && responsiveness->isSkipped(pid))) {
                g_object_unref(app);
            } else if (pid == hint) {
                applications.emplace_front(app, pid);
            } else {
                applications.emplace_back(app, pid);
            }
        }
        g_object_unref(desktop);
        AtspiAccessible* found = nullptr;
        for (auto& [app, pid] : applications) {
            if (!found && !focused) {
                found = focusedIn(app, pid);
            }
            g_object_unref(app);
        }
        if (found) {
            if (!focused) { // an event told of a newer one meanwhile
                take(found);
                readRole(false);
            }
            g_object_unref(found);
        }
    }

    // A new reference to the focused element under an active window of `app`, or null.
    AtspiAccessible* focusedIn(AtspiAccessible* app, pid_t pid) {
        GError* error = nullptr;
        const gint windows = atspi_accessible_get_child_count(app, &error);
        if (timedOut(error) && responsiveness) {
            responsiveness->missed(pid, AtspiWorker::monotonic());
        }
        if (error) {
            g_clear_error(&error);
            return nullptr;
        }
        std::deque<AtspiAccessible*> queue;
        for (gint i = 0; i < windows; ++i) {
            AtspiAccessible* window = atspi_accessible_get_child_at_index(app, i, &error);
            g_clear_error(&error);
            if (window && AtspiRoles::hasState(window, ATSPI_STATE_ACTIVE)) {
                queue.push_back(window);
            } else if (window) {
                g_object_unref(window);
            }
        }
        return focusedAmong(std::move(queue), pid, nullptr);
    }

    // A new reference to the first focused element of a breadth-first walk from `queue` (whose
    // references it takes), `skip` excepted, or null. Bounded; stops at a program that hangs.
    AtspiAccessible* focusedAmong(std::deque<AtspiAccessible*> queue, pid_t pid,
                                  AtspiAccessible* skip) {
        GError* error = nullptr;
        AtspiAccessible* found = nullptr;
        int visited = 0;
        while (!queue.empty()) {
            AtspiAccessible* node = queue.front();
            queue.pop_front();
            if (!found && ++visited <= maxFocusSearch) {
                AtspiStateSet* states = atspi_accessible_get_state_set(node);
                const bool isFocused =
                    states && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
                const bool showing =
                    states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
                if (states) {
                    g_object_unref(states);
                }
                if (isFocused && node != skip) {
                    found = static_cast<AtspiAccessible*>(g_object_ref(node));
                } else if (showing || visited == 1) {
                    const gint children = atspi_accessible_get_child_count(node, &error);
                    const bool hung = timedOut(error);
                    g_clear_error(&error);
                    if (hung) {
                        if (responsiveness) {
                            responsiveness->missed(pid, AtspiWorker::monotonic());
                        }
                        visited = maxFocusSearch; // stop here
                    }
                    for (gint i = 0; i < children && !hung; ++i) {
                        if (auto* child = atspi_accessible_get_child_at_index(node, i, &error)) {
                            queue.push_back(child);
                        }
                        g_clear_error(&error);
                    }
                }
            }
            g_object_unref(node);
        }
        return found;
    }
};

AtspiFocusWatch::AtspiFocusWatch(std::shared_ptr<AtspiAccessibility> accessibility)
    : accessibility_(std::move(accessibility)), core_(std::make_shared<Core>()) {
    core_->self = core_;
    core_->responsiveness = accessibility_ ? accessibility_->responsiveness() : nullptr;
    // From the start: the element focused now is known by the first question.
    follow();
}

AtspiFocusWatch::~AtspiFocusWatch() {
    // Ends on the worker, where its events come.
    AtspiWorker::shared().post([core = std::move(core_)]() mutable { core.reset(); });
}

bool AtspiFocusWatch::follow() {
    if (!accessibility_) {
        return false;
    }
    if (!started_) {
        started_ = true;
        auto& worker = AtspiWorker::shared();
        std::weak_ptr<Core> weak = core_;
        worker.post([weak] {
            if (auto core = weak.lock(); core && core->listen()) {
                core->findFocused();
            }
        });
        worker.every(std::chrono::milliseconds(roleRecheckMilliseconds), [weak] {
            auto core = weak.lock();
            if (core && core->focused) {
                core->readRole(false);
            }
            return core != nullptr;
        });
    }
    return core_->listening;
}

bool AtspiFocusWatch::isPasswordFocusedIn(pid_t pid) {
    core_->hint = pid;
    if (!follow()) {
        return false;
    }
    std::lock_guard lock(core_->seenMutex);
    return core_->seen.pid == pid && core_->seen.isPassword;
}

bool AtspiFocusWatch::isPasswordFocused() {
    if (!follow()) {
        return false;
    }
    std::lock_guard lock(core_->seenMutex);
    return core_->seen.isPassword;
}

} // namespace orvane::linuxbackend
