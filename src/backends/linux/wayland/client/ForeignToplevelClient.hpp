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
struct ext_foreign_toplevel_list_v1;
struct ext_foreign_toplevel_handle_v1;
struct hyprland_toplevel_mapping_manager_v1;
struct hyprland_toplevel_window_mapping_handle_v1;
struct zwlr_foreign_toplevel_manager_v1_listener;
struct zwlr_foreign_toplevel_handle_v1_listener;
struct hyprland_toplevel_window_mapping_handle_v1_listener;
struct ext_foreign_toplevel_list_v1_listener;
struct ext_foreign_toplevel_handle_v1_listener;
struct wl_array;

namespace orvane::linuxbackend {

// The compositor's list of windows through wlroots' foreign-toplevel manager, on the client's
// worker (every call, on the worker only): each toplevel followed into `toplevels()`, and
// activated on request. Where Hyprland offers its toplevel mapping and it is asked for, each
// toplevel's window address (the one Hyprland's IPC names) is asked once too. Where asked to,
// and wlroots' manager is not offered, the ext toplevel list instead: titles and app ids alone,
// no outputs, no state, and nothing can be activated.
class ForeignToplevelClient {
public:
    static constexpr const char* managerInterface = "zwlr_foreign_toplevel_manager_v1";
    static constexpr const char* mappingInterface = "hyprland_toplevel_mapping_manager_v1";
    static constexpr const char* listInterface = "ext_foreign_toplevel_list_v1";

    enum class Lists {
        wlroots,        // wlroots' manager alone
        wlrootsElseExt, // the ext list where wlroots' manager is not offered
        extOnly,        // the ext list even where wlroots' manager is offered
    };
    enum class Source { none, wlroots, ext };

    // `who` begins the log lines ("wlroots"); `changed` follows every toplevel's `done` or
    // closing, told whether that moved the focus.
    ForeignToplevelClient(std::string who, std::function<void(bool focusChanged)> changed,
                          Lists lists = Lists::wlroots);
    ~ForeignToplevelClient();
    ForeignToplevelClient(const ForeignToplevelClient&) = delete;
    ForeignToplevelClient& operator=(const ForeignToplevelClient&) = delete;

    // Binds the manager (and the mapping, when `withMapping` and offered) or the ext list, as
    // the lists asked for allow; false when the compositor offers none of them. The toplevels
    // follow at once: a sync after this tells when the first list is whole.
    bool bind(const WaylandGlobals& globals, bool withMapping);
    // Destroys every object made on the connection and forgets the toplevels.
    void release();

    bool bound() const { return manager_ != nullptr || list_ != nullptr; }
    // Which list the toplevels come from, as last bound.
    Source source() const { return source_; }
    bool mapping() const { return mapping_ != nullptr; }
    const ForeignToplevels& toplevels() const { return toplevels_; }
    // The window address the mapping gave for toplevel `id`, nullopt while unknown.
    std::optional<std::uint64_t> windowAddress(std::uint64_t id) const;

    // Asks the compositor to activate toplevel `id` for `seat`; false when there is no such
    // toplevel, no seat, or the toplevel came from the ext list.
    bool activate(std::uint64_t id, wl_seat* seat);

private:
    struct HandleRecord {
        ForeignToplevelClient* owner = nullptr;
        std::uint64_t id = 0;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        ext_foreign_toplevel_handle_v1* listed = nullptr; // instead of `handle`, from the ext list
        hyprland_toplevel_window_mapping_handle_v1* mapping = nullptr; // while unanswered
        std::optional<std::uint64_t> address;
    };

    void onToplevel(zwlr_foreign_toplevel_handle_v1* handle);
    void onListed(ext_foreign_toplevel_handle_v1* handle);
    // A new toplevel's record, or null when there are too many already.
    std::unique_ptr<HandleRecord> record();
    void onDone(HandleRecord& record);
    void onClosed(HandleRecord* record);
    static void onState(void* data, wl_array* states);
    // What both kinds of toplevel handle tell alike, for their listener tables.
    template <typename Handle> static void titled(void* data, Handle*, const char* title);
    template <typename Handle> static void named(void* data, Handle*, const char* applicationId);
    template <typename Handle> static void completed(void* data, Handle*);
    template <typename Handle> static void closed(void* data, Handle*);
    static void endMapping(HandleRecord& record);
    static void destroyHandle(HandleRecord& record);

    static const zwlr_foreign_toplevel_manager_v1_listener managerListener;
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener;
    static const hyprland_toplevel_window_mapping_handle_v1_listener mappingListener;
    static const ext_foreign_toplevel_list_v1_listener listListener;
    static const ext_foreign_toplevel_handle_v1_listener listedListener;

    std::string who_;
    std::function<void(bool)> changed_;
    Lists lists_;
    Source source_ = Source::none;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    ext_foreign_toplevel_list_v1* list_ = nullptr;
    hyprland_toplevel_mapping_manager_v1* mapping_ = nullptr;
    std::map<std::uint64_t, std::unique_ptr<HandleRecord>> handles_;
    ForeignToplevels toplevels_;
    bool tooMany_ = false;
};

} // namespace orvane::linuxbackend
