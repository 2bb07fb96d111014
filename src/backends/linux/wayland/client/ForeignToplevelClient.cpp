#include "backends/linux/wayland/client/ForeignToplevelClient.hpp"

#include "backends/linux/BackendLog.hpp"

#include <wayland-client.h>

#include "ext-foreign-toplevel-list-v1-client-protocol.h"
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
                                             std::function<void(bool focusChanged)> changed,
                                             Lists lists)
    : who_(std::move(who)), changed_(std::move(changed)), lists_(lists) {}

ForeignToplevelClient::~ForeignToplevelClient() {
    release();
}

bool ForeignToplevelClient::bind(const WaylandGlobals& globals, bool withMapping) {
    release();
    if (!globals.registry) {
        return false;
    }
    const auto* manager = lists_ == Lists::extOnly ? nullptr : offered(globals, managerInterface);
    const auto* list = lists_ == Lists::wlroots ? nullptr : offered(globals, listInterface);
    if (!manager && list) {
        list_ = static_cast<ext_foreign_toplevel_list_v1*>(wl_registry_bind(
            globals.registry, list->name, &ext_foreign_toplevel_list_v1_interface, 1));
        ext_foreign_toplevel_list_v1_add_listener(list_, &listListener, this);
        source_ = Source::ext;
        return true;
    }
    if (!manager) {
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
    source_ = Source::wlroots;
    return true;
}

void ForeignToplevelClient::release() {
    for (auto& [id, record] : handles_) {
        destroyHandle(*record);
    }
    handles_.clear();
    if (manager_) {
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
        manager_ = nullptr;
    }
    if (list_) {
        // The handles went first, as the list asks; what it sends after the stop is not read.
        ext_foreign_toplevel_list_v1_stop(list_);
        ext_foreign_toplevel_list_v1_destroy(list_);
        list_ = nullptr;
    }
    source_ = Source::none;
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
    if (found == handles_.end() || !found->second->handle || !seat) {
        return false;
    }
    zwlr_foreign_toplevel_handle_v1_activate(found->second->handle, seat);
    return true;
}

std::unique_ptr<ForeignToplevelClient::HandleRecord> ForeignToplevelClient::record() {
    const std::uint64_t id = toplevels_.add();
    if (id == 0) {
        // More windows than anyone has: the rest are not followed.
        if (!tooMany_) {
            tooMany_ = true;
            logInfo(who_ + ": more than " + std::to_string(ForeignToplevels::maxToplevels) +
                    " windows listed; the others are ignored");
        }
        return nullptr;
    }
    auto record = std::make_unique<HandleRecord>();
    record->owner = this;
    record->id = id;
    return record;
}

void ForeignToplevelClient::onToplevel(zwlr_foreign_toplevel_handle_v1* handle) {
    auto record = this->record();
    if (!record) {
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        return;
    }
    record->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, record.get());
    // One question per toplevel, answered once: the mapping's events are bounded by the list's.
    if (mapping_) {
        record->mapping =
            hyprland_toplevel_mapping_manager_v1_get_window_for_toplevel_wlr(mapping_, handle);
        hyprland_toplevel_window_mapping_handle_v1_add_listener(record->mapping, &mappingListener,
                                                                record.get());
    }
    const std::uint64_t id = record->id;
    handles_.emplace(id, std::move(record));
}

void ForeignToplevelClient::onListed(ext_foreign_toplevel_handle_v1* handle) {
    auto record = this->record();
    if (!record) {
        ext_foreign_toplevel_handle_v1_destroy(handle);
        return;
    }
    record->listed = handle;
    ext_foreign_toplevel_handle_v1_add_listener(handle, &listedListener, record.get());
    const std::uint64_t id = record->id;
    handles_.emplace(id, std::move(record));
}

void ForeignToplevelClient::onDone(HandleRecord& record) {
    const bool focus = toplevels_.done(record.id);
    if (changed_) {
        changed_(focus);
    }
}

void ForeignToplevelClient::onClosed(HandleRecord* record) {
    const std::uint64_t id = record->id;
    const bool focus = toplevels_.close(id);
    destroyHandle(*record);
    handles_.erase(id); // frees `record`
    if (changed_) {
        changed_(focus);
    }
}

void ForeignToplevelClient::destroyHandle(HandleRecord& record) {
    endMapping(record);
    if (record.handle) {
        zwlr_foreign_toplevel_handle_v1_destroy(record.handle);
        record.handle = nullptr;
    }
    if (record.listed) {
        ext_foreign_toplevel_handle_v1_destroy(record.listed);
        record.listed = nullptr;
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

template <typename Handle>
void ForeignToplevelClient::titled(void* data, Handle*, const char* title) {
    auto& record = *static_cast<HandleRecord*>(data);
    record.owner->toplevels_.setTitle(record.id, title ? title : "");
}

template <typename Handle>
void ForeignToplevelClient::named(void* data, Handle*, const char* applicationId) {
    auto& record = *static_cast<HandleRecord*>(data);
    record.owner->toplevels_.setApplicationId(record.id, applicationId ? applicationId : "");
}

template <typename Handle> void ForeignToplevelClient::completed(void* data, Handle*) {
    auto& record = *static_cast<HandleRecord*>(data);
    record.owner->onDone(record);
}

template <typename Handle> void ForeignToplevelClient::closed(void* data, Handle*) {
    auto& record = *static_cast<HandleRecord*>(data);
    record.owner->onClosed(&record);
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
    titled<zwlr_foreign_toplevel_handle_v1>,
    named<zwlr_foreign_toplevel_handle_v1>,
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.enterOutput(record.id, reinterpret_cast<std::uintptr_t>(output));
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
        auto& record = *static_cast<HandleRecord*>(data);
        record.owner->toplevels_.leaveOutput(record.id, reinterpret_cast<std::uintptr_t>(output));
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) { onState(data, states); },
    completed<zwlr_foreign_toplevel_handle_v1>,
    closed<zwlr_foreign_toplevel_handle_v1>,
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

const ext_foreign_toplevel_list_v1_listener ForeignToplevelClient::listListener = {
    [](void* data, ext_foreign_toplevel_list_v1*, ext_foreign_toplevel_handle_v1* handle) {
        static_cast<ForeignToplevelClient*>(data)->onListed(handle);
    },
    // No more toplevels come; those listed stay until each is closed.
    [](void* data, ext_foreign_toplevel_list_v1* list) {
        ext_foreign_toplevel_list_v1_destroy(list);
        static_cast<ForeignToplevelClient*>(data)->list_ = nullptr;
    },
};

const ext_foreign_toplevel_handle_v1_listener ForeignToplevelClient::listedListener = {
    closed<ext_foreign_toplevel_handle_v1>,
    completed<ext_foreign_toplevel_handle_v1>,
    titled<ext_foreign_toplevel_handle_v1>,
    named<ext_foreign_toplevel_handle_v1>,
    // The identifier matters to programs that hand toplevels to one another; Orvane does not.
    [](void*, ext_foreign_toplevel_handle_v1*, const char*) {},
};

} // namespace orvane::linuxbackend
