#include "backends/linux/wayland/client/ForeignToplevelClient.hpp"

#include "backends/linux/BackendLog.hpp"

#include <wayland-client.h>

#include "hyprland-toplevel-mapping-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <algorithm>

namespace orvane::linuxbackend {
namespace {

const WaylandGlobals::Offer* offered(const WaylandGlobals& globals, const char* interface) {
    const auto offer =
        std::find_if(globals.offers.begin(), globals.offers.end(),
                     [interface](const auto& o) { return o.interface == interface; });
    return offer == globals.offers.end() ? nullptr : &*offer;
}

} // namespace

ForeignToplevelClient::ForeignToplevelClient(std::string who,
                                             std::function<void(bool focusChanged)> changed)
    : who_(std::move(who)), changed_(std::move(changed)) {}

ForeignToplevelClient::~ForeignToplevelClient() {
    release();
}

bool ForeignToplevelClient::bind(const WaylandGlobals& globals, bool withMapping) {
    release();
    const auto* manager = offered(globals, managerInterface);
    if (!manager || !globals.registry) {
        return false;
    }
    if (const auto* mapping = withMapping ? offered(globals, mappingInterface) : nullptr) {
        mapping_ = static_cast<hyprland_toplevel_mapping_manager_v1*>(wl_registry_bind(
            globals.registry, mapping->name, &hyprland_toplevel_mapping_manager_v1_interface, 1));
    }
    manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        globals.registry, manager->name, &zwlr_foreign_toplevel_manager_v1_interface,
        std::min(manager->version, 3u)));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &managerListener, this);
    return true;
}

void ForeignToplevelClient::release() {
    for (auto& [id, record] : handles_) {
        endMapping(*record);
        zwlr_foreign_toplevel_handle_v1_destroy(record->handle);
    }
    handles_.clear();
    if (manager_) {
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
        manager_ = nullptr;
    }
    if (mapping_) {
        hyprland_toplevel_mapping_manager_v1_destroy(mapping_);
        mapping_ = nullptr;
    }
    toplevels_.clear();
}

std::optional<std::uint64_t> ForeignToplevelClient::windowAddress(std::uint64_t id) const {
    const auto found = handles_.find(id);
    return found == handles_.end() ? std::nullopt : found->second->address;
}

bool ForeignToplevelClient::activate(std::uint64_t id, wl_seat* seat) {
    const auto found = handles_.find(id);
    if (found == handles_.end() || !seat) {
        return false;
    }
    zwlr_foreign_toplevel_handle_v1_activate(found->second->handle, seat);
    return true;
}

void ForeignToplevelClient::onToplevel(zwlr_foreign_toplevel_handle_v1* handle) {
    const std::uint64_t id = toplevels_.add();
    if (id == 0) {
        // More windows than anyone has: the rest are not followed.
        if (!tooMany_) {
            tooMany_ = true;
            logInfo(who_ + ": more than " + std::to_string(ForeignToplevels::maxToplevels) +
                    " windows listed; the others are ignored");
        }
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        return;
    }
    auto record = std::make_unique<HandleRecord>();
    record->owner = this;
    record->id = id;
    record->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, record.get());
    // One question per toplevel, answered once: the mapping's events are bounded by the list's.
    if (mapping_) {
        record->mapping =
            hyprland_toplevel_mapping_manager_v1_get_window_for_toplevel_wlr(mapping_, handle);
        hyprland_toplevel_window_mapping_handle_v1_add_listener(record->mapping, &mappingListener,
                                                                record.get());
    }
    handles_.emplace(id, std::move(record));
}

void ForeignToplevelClient::onClosed(HandleRecord* record) {
    const std::uint64_t id = record->id;
    const bool focus = toplevels_.close(id);
    endMapping(*record);
    zwlr_foreign_toplevel_handle_v1_destroy(record->handle);
    handles_.erase(id); // frees `record`
    if (changed_) {
        changed_(focus);
    }
}

void ForeignToplevelClient::endMapping(HandleRecord& record) {
    if (record.mapping) {
        hyprland_toplevel_window_mapping_handle_v1_destroy(record.mapping);
        record.mapping = nullptr;
    }
}

void ForeignToplevelClient::onState(void* data, wl_array* states) {
    auto& record = *static_cast<HandleRecord*>(data);
    bool activated = false;
    bool minimized = false;
    const auto* values = static_cast<const std::uint32_t*>(states->data);
    // A handful of states exist; a longer list is read no further.
    const std::size_t count = std::min<std::size_t>(states->size / sizeof(std::uint32_t), 32);
    for (std::size_t index = 0; index < count; ++index) {
        activated = activated || values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        minimized = minimized || values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
    }
    record.owner->toplevels_.setState(record.id, activated, minimized);
}

const zwlr_foreign_toplevel_manager_v1_listener ForeignToplevelClient::managerListener = {
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<ForeignToplevelClient*>(data)->onToplevel(handle);
    },
    [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        static_cast<ForeignToplevelClient*>(data)->manager_ = nullptr;
    },
};

const zwlr_foreign_toplevel_handle_v1_listener ForeignToplevelClient::handleListener = {
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.setTitle(record.id, title ? title : "");
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* applicationId) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.setApplicationId(record.id, applicationId ? applicationId : "");
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.enterOutput(record.id, reinterpret_cast<std::uintptr_t>(output));
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.leaveOutput(record.id, reinterpret_cast<std::uintptr_t>(output));
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) { onState(data, states); },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto& record = *static_cast<HandleRecord*>(data);
        const bool focus = record.owner->toplevels_.done(record.id);
        if (record.owner->changed_) {
            record.owner->changed_(focus);
        }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->onClosed(&record);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

const hyprland_toplevel_window_mapping_handle_v1_listener ForeignToplevelClient::mappingListener = {
    [](void* data, hyprland_toplevel_window_mapping_handle_v1*, std::uint32_t high,
       std::uint32_t low) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.address = (std::uint64_t(high) << 32) | low;
        endMapping(record);
    },
    [](void* data, hyprland_toplevel_window_mapping_handle_v1*) {
        endMapping(*static_cast<HandleRecord*>(data));
    },
};

} // namespace orvane::linuxbackend
