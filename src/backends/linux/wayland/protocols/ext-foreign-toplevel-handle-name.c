// The interface Hyprland's toplevel mapping names for get_window_for_toplevel, a request Orvane
// never sends (it maps wlroots' handles): a name without requests or events is all it needs.
#include <wayland-util.h>

const struct wl_interface ext_foreign_toplevel_handle_v1_interface = {
    "ext_foreign_toplevel_handle_v1", 1, 0, NULL, 0, NULL,
};
