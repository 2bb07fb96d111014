#include "backends/linux/atspi/AtspiRoles.hpp"

#include <atspi/atspi.h>

namespace orvane::linuxbackend::AtspiRoles {

std::string roleName(int atspiRole, bool multiLine, bool singleLine) {
    switch (static_cast<AtspiRole>(atspiRole)) {
    case ATSPI_ROLE_TEXT:
        if (singleLine && !multiLine) {
            return "AXTextField";
        }
        return "AXTextArea";
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        return "AXTextArea";
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
        return "AXTextField";
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
        return "AXWebArea";
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_VIEWPORT:
        return "AXScrollArea";
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
        return "AXTable";
    case ATSPI_ROLE_TREE:
        return "AXOutline";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
        return "AXList";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
        return "AXWindow";
    case ATSPI_ROLE_APPLICATION:
        return "AXApplication";
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return "AXButton";
    case ATSPI_ROLE_CHECK_BOX:
        return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_PAGE_TAB:
        return "AXRadioButton";
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
        return "AXGroup";
    case ATSPI_ROLE_SPLIT_PANE:
        return "AXSplitGroup";
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return "AXTabGroup";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
        return "AXStaticText";
    case ATSPI_ROLE_HEADING:
        return "AXHeading";
    case ATSPI_ROLE_LINK:
        return "AXLink";
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
        return "AXImage";
    case ATSPI_ROLE_MENU_BAR:
        return "AXMenuBar";
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
        return "AXMenu";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
        return "AXMenuItem";
    case ATSPI_ROLE_COMBO_BOX:
        return "AXComboBox";
    case ATSPI_ROLE_SLIDER:
        return "AXSlider";
    case ATSPI_ROLE_SPIN_BUTTON:
        return "AXIncrementor";
    case ATSPI_ROLE_PROGRESS_BAR:
        return "AXProgressIndicator";
    case ATSPI_ROLE_SCROLL_BAR:
        return "AXScrollBar";
    case ATSPI_ROLE_TOOL_BAR:
        return "AXToolbar";
    case ATSPI_ROLE_TOOL_TIP:
        return "AXHelpTag";
    case ATSPI_ROLE_TABLE_CELL:
        return "AXCell";
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_LIST_ITEM:
        return "AXRow";
    case ATSPI_ROLE_SEPARATOR:
        return "AXSplitter";
    default:
        return "AXUnknown";
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
