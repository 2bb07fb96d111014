#include "backends/linux/atspi/AtspiRoles.hpp"

#include <atspi/atspi.h>

namespace orvane::linuxbackend::AtspiRoles {

AccessibleRole role(int atspiRole, bool multiLine, bool singleLine) {
    switch (static_cast<AtspiRole>(atspiRole)) {
    case ATSPI_ROLE_TEXT:
        if (singleLine && !multiLine) {
            return AccessibleRole::textField;
        }
        return AccessibleRole::textArea;
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        return AccessibleRole::textArea;
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
        return AccessibleRole::textField;
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
        return AccessibleRole::webArea;
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_VIEWPORT:
        return AccessibleRole::scrollArea;
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
        return AccessibleRole::table;
    case ATSPI_ROLE_TREE:
        return AccessibleRole::outline;
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
        return AccessibleRole::list;
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
        return AccessibleRole::window;
    case ATSPI_ROLE_APPLICATION:
        return AccessibleRole::application;
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_DRAWING_AREA:
    case ATSPI_ROLE_SPLIT_PANE:
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return AccessibleRole::group;
    default:
        return AccessibleRole::other;
    }
}

bool hasState(AtspiAccessible* accessible, int state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) {
        return false;
    }
    const bool result = atspi_state_set_contains(states, static_cast<AtspiStateType>(state));
    g_object_unref(states);
    return result;
}

} // namespace orvane::linuxbackend::AtspiRoles
