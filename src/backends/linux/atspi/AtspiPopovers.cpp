#include "backends/linux/atspi/AtspiPopovers.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"

#include <atspi/atspi.h>

#include <optional>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

// Releases one reference when it goes.
struct Held {
    AtspiAccessible* accessible;
    ~Held() {
        if (accessible) {
            g_object_unref(accessible);
        }
    }
};

struct States {
    bool showing = false, visible = false, modal = false;
};

States statesOf(AtspiAccessible* accessible) {
    States result;
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (states) {
        result.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        result.visible = atspi_state_set_contains(states, ATSPI_STATE_VISIBLE);
        result.modal = atspi_state_set_contains(states, ATSPI_STATE_MODAL);
        g_object_unref(states);
    }
    return result;
}

bool isTopLevel(AtspiRole role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG;
}

bool popoverUnder(AtspiAccessible* window) {
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(window, &error);
    g_clear_error(&error);
    for (gint i = 0; i < count; ++i) {
        Held child{atspi_accessible_get_child_at_index(window, i, &error)};
        g_clear_error(&error);
        if (!child.accessible) {
            continue;
        }
        const AtspiRole role = atspi_accessible_get_role(child.accessible, &error);
        g_clear_error(&error);
        if (role != ATSPI_ROLE_PANEL && role != ATSPI_ROLE_POPUP_MENU && role != ATSPI_ROLE_MENU) {
            continue;
        }
        const States states = statesOf(child.accessible);
        // Menus are menus; a panel only when modal, which the window's own content never is.
        if (states.showing && states.visible && (role != ATSPI_ROLE_PANEL || states.modal)) {
            return true;
        }
    }
    return false;
}

// nullopt: the application did not answer (or is gone from the bus).
std::optional<bool> showsPopover(AtspiAccessible* application) {
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(application, &error);
    if (error) {
        g_clear_error(&error);
        return std::nullopt;
    }
    for (gint i = 0; i < count; ++i) {
        Held window{atspi_accessible_get_child_at_index(application, i, &error)};
        g_clear_error(&error);
        if (!window.accessible) {
            continue;
        }
        const AtspiRole role = atspi_accessible_get_role(window.accessible, &error);
        g_clear_error(&error);
        if (!isTopLevel(role) || !statesOf(window.accessible).showing) {
            continue;
        }
        if (popoverUnder(window.accessible)) {
            return true;
        }
    }
    return false;
}

} // namespace

AtspiPopovers::AtspiPopovers(std::shared_ptr<AtspiAccessibility> accessibility)
    : accessibility_(std::move(accessibility)),
      answers_(std::make_shared<AtspiAnswerCache<pid_t, bool>>(maxAgeSeconds)) {}

AtspiPopovers::~AtspiPopovers() = default;

bool AtspiPopovers::isShowing(pid_t pid) {
    if (pid <= 0 || pid == getpid() || !accessibility_->isProcessTrusted()) {
        return false;
    }
    const auto read = answers_->read(pid, AtspiWorker::monotonic());
    if (read.refresh) {
        AtspiWorker::shared().post(
            [answers = answers_, skip = accessibility_->responsiveness(), pid] {
                std::optional<bool> answer;
                if (!skip->isSkipped(pid)) {
                    AtspiAccessible* application =
                        AtspiAccessibility::findApplicationOnWorker(pid, *skip);
                    answer = application ? showsPopover(application) : std::optional(false);
                    if (!answer) {
                        skip->missed(pid, AtspiWorker::monotonic());
                    }
                    if (application) {
                        g_object_unref(application);
                    }
                }
                answers->store(pid, answer, AtspiWorker::monotonic());
            });
    }
    return read.value.value_or(false);
}

} // namespace orvane::linuxbackend
