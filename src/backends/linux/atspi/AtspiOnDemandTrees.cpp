#include "backends/linux/atspi/AtspiOnDemandTrees.hpp"

#include <atspi/atspi.h>

#include <cstring>

namespace orvane::linuxbackend {
namespace {

// The application object of process `pid` on the bus (one reference), or null.
AtspiAccessible* applicationOf(pid_t pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return nullptr;
    }
    AtspiAccessible* found = nullptr;
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop, &error);
    g_clear_error(&error);
    for (gint i = 0; i < count && !found; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, &error);
        g_clear_error(&error);
        if (!child) {
            continue;
        }
        const guint childPid = atspi_accessible_get_process_id(child, &error);
        const bool match = !error && static_cast<pid_t>(childPid) == pid;
        g_clear_error(&error);
        if (match) {
            found = child;
        } else {
            g_object_unref(child);
        }
    }
    g_object_unref(desktop);
    return found;
}

} // namespace

void AtspiOnDemandTrees::wake(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    if (seen_.size() > maxSeen && seen_.find(pid) == seen_.end()) {
        seen_.clear(); // a long session's many short-lived programs
    }
    Seen& seen = seen_[pid];
    if (seen.done || (seen.looks > 0 && ++seen.sinceLook < recheckEvery)) {
        return;
    }
    seen.sinceLook = 0;
    if (++seen.looks >= looksAtMost) {
        seen.done = true; // never joined: no accessibility, or the bus was off when it started
    }
    AtspiAccessible* application = applicationOf(pid);
    if (!application) {
        return;
    }
    seen.done = true;
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_toolkit_name(application, &error);
    g_clear_error(&error);
    if (name && std::strcmp(name, toolkit) == 0) {
        // The answer does not matter: being asked is what switches the trees on.
        GHashTable* attributes = atspi_accessible_get_attributes(application, &error);
        g_clear_error(&error);
        if (attributes) {
            g_hash_table_unref(attributes);
        }
    }
    g_free(name);
    g_object_unref(application);
}

} // namespace orvane::linuxbackend
