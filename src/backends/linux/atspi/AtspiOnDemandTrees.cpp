#include "backends/linux/atspi/AtspiOnDemandTrees.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"

#include <atspi/atspi.h>

#include <cstring>

namespace orvane::linuxbackend {

AtspiOnDemandTrees::AtspiOnDemandTrees() : found_(std::make_shared<Found>()) {}

void AtspiOnDemandTrees::wake(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    {
        std::lock_guard lock(found_->mutex);
        if (found_->pids.contains(pid)) {
            return;
        }
        if (seen_.size() > maxSeen && !seen_.contains(pid)) {
            seen_.clear(); // a long session's many short-lived programs
            found_->pids.clear();
        }
    }
    Seen& seen = seen_[pid];
    // Never joined after so many looks: no accessibility, or the bus was off when it started.
    if (seen.looks >= looksAtMost || (seen.looks > 0 && ++seen.sinceLook < recheckEvery)) {
        return;
    }
    seen.sinceLook = 0;
    ++seen.looks;
    AtspiWorker::shared().post([found = found_, pid] {
        AtspiAccessible* application =
            AtspiAccessibility::findApplicationOnWorker(pid, AtspiResponsiveness());
        if (!application) {
            return;
        }
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
        std::lock_guard lock(found->mutex);
        found->pids.insert(pid);
    });
}

} // namespace orvane::linuxbackend
