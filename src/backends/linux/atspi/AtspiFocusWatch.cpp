#include "backends/linux/atspi/AtspiFocusWatch.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"

#include <atspi/atspi.h>

#include <cstring>
#include <limits>

namespace orvane::linuxbackend {
namespace {

constexpr const char* focusEvent = "object:state-changed:focused";
// An entry whose text is shown or hidden changes role without losing focus.
constexpr const char* roleEvent = "object:property-change:accessible-role";

// libatspi keeps one main context for the whole process; moved once, kept for good.
GMainContext* eventContext() {
    static GMainContext* context = [] {
        GMainContext* own = g_main_context_new();
        atspi_set_main_context(own);
        return own;
    }();
    return context;
}

} // namespace

AtspiFocusWatch::AtspiFocusWatch(std::shared_ptr<AtspiAccessibility> accessibility)
    : accessibility_(std::move(accessibility)) {}

AtspiFocusWatch::~AtspiFocusWatch() {
    if (listener_) {
        atspi_event_listener_deregister(listener_, focusEvent, nullptr);
        atspi_event_listener_deregister(listener_, roleEvent, nullptr);
        g_object_unref(listener_);
    }
    forget();
}

bool AtspiFocusWatch::listen() {
    if (listener_) {
        return true;
    }
    if (listenFailed_ || !accessibility_ || !accessibility_->ensureInitialized()) {
        return false;
    }
    // Moved after libatspi has started: moved before, it never sees an event.
    eventContext();
    listener_ = atspi_event_listener_new(&AtspiFocusWatch::onEvent, this, nullptr);
    GError* error = nullptr;
    const bool focus = atspi_event_listener_register(listener_, focusEvent, &error);
    g_clear_error(&error);
    atspi_event_listener_register(listener_, roleEvent, &error);
    g_clear_error(&error);
    if (!focus) {
        g_object_unref(listener_);
        listener_ = nullptr;
        listenFailed_ = true;
        return false;
    }
    return true;
}

void AtspiFocusWatch::onEvent(AtspiEvent* event, void* self) {
    if (event) {
        static_cast<AtspiFocusWatch*>(self)->note(*event);
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }
}

void AtspiFocusWatch::note(const AtspiEvent& event) {
    if (!event.type || !event.source) {
        return;
    }
    if (std::strcmp(event.type, focusEvent) == 0) {
        if (event.detail1 != 0) {
            if (event.source != focused_) {
                forget();
                focused_ = static_cast<AtspiAccessible*>(g_object_ref(event.source));
            }
        } else if (event.source == focused_) {
            forget();
        }
    } else if (event.source == focused_) {
        isPassword_.reset();
    }
}

void AtspiFocusWatch::forget() {
    if (focused_) {
        g_object_unref(focused_);
        focused_ = nullptr;
    }
    pid_.reset();
    isPassword_.reset();
    sinceRole_ = 0;
}

bool AtspiFocusWatch::follow() {
    if (!listen()) {
        return false;
    }
    while (g_main_context_iteration(eventContext(), FALSE)) {
    }
    return true;
}

bool AtspiFocusWatch::isPasswordFocusedIn(pid_t pid) {
    if (!follow() || !focused_) {
        return false;
    }
    // Qt tells nobody when a line edit starts or stops hiding its text: the role is asked
    // again every so often while the element keeps focus.
    if (++sinceRole_ >= roleRecheckEvery) {
        isPassword_.reset();
    }
    // Events may arrive while the application is asked below: keep this element alive and
    // keep the answers only if it still has focus afterwards.
    AtspiAccessible* element = static_cast<AtspiAccessible*>(g_object_ref(focused_));
    std::optional<pid_t> owner = pid_;
    std::optional<bool> isPassword = isPassword_;
    GError* error = nullptr;
    if (!owner) {
        const guint id = atspi_accessible_get_process_id(element, &error);
        owner = error ? 0 : static_cast<pid_t>(id); // 0 matches no window
        g_clear_error(&error);
    }
    if (owner && *owner == pid && !isPassword) {
        // An application that does not answer in time is not asked again for this element:
        // it would cost the timeout on every question.
        const AtspiRole role = atspi_accessible_get_role(element, &error);
        isPassword = !error && role == ATSPI_ROLE_PASSWORD_TEXT;
        sinceRole_ = error ? std::numeric_limits<int>::min() : 0;
        g_clear_error(&error);
    }
    const bool current = element == focused_;
    g_object_unref(element);
    if (!current) {
        return false; // focus moved meanwhile; the next question reads the new element
    }
    pid_ = owner;
    isPassword_ = isPassword;
    return owner && *owner == pid && isPassword.value_or(false);
}

} // namespace orvane::linuxbackend
