// Prints one line per change of the root window's _NET_ACTIVE_WINDOW, as the X server reports
// it: the monotonic time it was seen (seconds, the clock orvane's log uses) and the window.
//   orvane_active_window_watch
// The first line is the value at start. Runs until the X server goes away or it is killed;
// shell tests read its output to wait on focus changes and to time them.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Timed on arrival of the notification, before the round trip that reads the value.
void printActive(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t active) {
    const double seen = monotonicSeconds();
    const auto cookie = xcb_get_property(connection, 0, root, active, XCB_ATOM_WINDOW, 0, 1);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    xcb_window_t window = XCB_WINDOW_NONE;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
        window = *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    }
    std::printf("%.6f 0x%x\n", seen, window);
    std::fflush(stdout);
}

} // namespace

int main() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t active = internAtom(connection, "_NET_ACTIVE_WINDOW");
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    printActive(connection, root, active);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            // Some window managers write the same value again: readers skip repeats.
            if (notify->atom == active) {
                printActive(connection, root, active);
            }
        }
        std::free(event);
    }
    return 0;
}
