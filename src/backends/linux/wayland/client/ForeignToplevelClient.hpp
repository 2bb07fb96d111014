#pragma once

#include "backends/linux/wayland/client/ForeignToplevels.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct hyprland_toplevel_mapping_manager_v1;
struct hyprland_toplevel_window_mapping_handle_v1;
struct zwlr_foreign_toplevel_manager_v1_listener;
struct zwlr_foreign_toplevel_handle_v1_listener;
struct hyprland_toplevel_window_mapping_handle_v1_listener;
struct wl_array;

namespace orvane::linuxbackend {

// The compositor's list of windows through wlroots' foreign-toplevel manager, on the client's
// worker (every call, on the worker only): each toplevel followed into `toplevels()`, and
// activated on request. Where Hyprland offers its toplevel mapping and it is asked for, each
// toplevel's window address (the one Hyprland's IPC names) is asked once too.
class ForeignToplevelClient {
public:
    static constexpr const char* managerInterface = "zwlr_foreign_toplevel_manager_v1";
    static constexpr const char* mappingInterface = "hyprland_toplevel_mapping_manager_v1";

    // `who` begins the log lines ("wlroots"); `changed` follows every toplevel's `done` or
    // closing, told whether that moved the focus.
    ForeignToplevelClient(std::string who, std::function<void(bool focusChanged)> changed);
    ~ForeignToplevelClient();
    ForeignToplevelClient(const ForeignToplevelClient&) = delete;
    ForeignToplevelClient& operator=(const ForeignToplevelClient&) = delete;

    // Binds the manager (and the mapping, when `withMapping` and offered); false when the
    // compositor offers no manager. The toplevels follow at once: a sync after this tells when
    // the first list is whole.
    bool bind(const WaylandGlobals& globals, bool withMapping);
    // Destroys every object made on the connection and forgets the toplevels.
    void release();

    bool bound() const { return manager_ != nullptr; }
    bool mapping() const { return mapping_ != nullptr; }
    const ForeignToplevels& toplevels() const { return toplevels_; }
    // The window address the mapping gave for toplevel `id`, nullopt while unknown.
    std::optional<std::uint64_t> windowAddress(std::uint64_t id) const;

    // Asks the compositor to activate toplevel `id` for `seat`; false when there is no such
    // toplevel or no seat.
    bool activate(std::uint64_t id, wl_seat* seat);

private:
    struct HandleRecord {
        ForeignToplevelClient* owner = nullptr;
        std::uint64_t id = 0;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        hyprland_toplevel_window_mapping_handle_v1* mapping = nullptr; // while unanswered
        std::optional<std::uint64_t> address;
    };

    void onToplevel(zwlr_foreign_toplevel_handle_v1* handle);
    void onClosed(HandleRecord* record);
    static void onState(void* data, wl_array* states);
    static void endMapping(HandleRecord& record);

    static const zwlr_foreign_toplevel_manager_v1_listener managerListener;
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener;
    static const hyprland_toplevel_window_mapping_handle_v1_listener mappingListener;

    std::string who_;
    std::function<void(bool)> changed_;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    hyprland_toplevel_mapping_manager_v1* mapping_ = nullptr;
    std::map<std::uint64_t, std::unique_ptr<HandleRecord>> handles_;
    ForeignToplevels toplevels_;
    bool tooMany_ = false;
};

} // namespace orvane::linuxbackend
