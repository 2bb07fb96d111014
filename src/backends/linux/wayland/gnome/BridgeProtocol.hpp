#pragma once

// net.orvane.Bridge1 as C++ types: each method and signal of the bridge with the C++ types it
// carries, the D-Bus signatures made from those types, and the one way each type is written
// to or read from a message. The build checks this table against the interface file, member
// by member (BridgeProtocol.cpp), so that a member or argument changed on one side alone does
// not compile.

#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/gnome/BridgeReplies.hpp"
#include "orvane/platform/DesktopBridge.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace orvane::linuxbackend::bridge1 {

// How a C++ type goes on the bus: its signature, and `append` where Orvane sends it, `read`
// (nothing when the message holds something else) where Orvane receives it. A type with no
// `read` is never taken from the bridge; text from the bridge comes bounded.
template <class T> struct Wire;

template <char Code, class T, class Bus = T> struct BasicWire {
    static constexpr char code[] = {Code, '\0'};
    static constexpr std::string_view signature{code, 1};
    static int append(sd_bus_message* m, const T& value) {
        const Bus onBus = static_cast<Bus>(value);
        return sd_bus_message_append_basic(m, Code, &onBus);
    }
    static std::optional<T> read(sd_bus_message* m) {
        Bus onBus{};
        if (sd_bus_message_read_basic(m, Code, &onBus) <= 0) {
            return std::nullopt;
        }
        return static_cast<T>(onBus);
    }
};

template <> struct Wire<std::int32_t> : BasicWire<'i', std::int32_t> {};
template <> struct Wire<std::uint32_t> : BasicWire<'u', std::uint32_t> {};
template <> struct Wire<std::uint64_t> : BasicWire<'t', std::uint64_t> {};
template <> struct Wire<bool> : BasicWire<'b', bool, int> {}; // sd-bus keeps a boolean in an int

// Text Orvane sends; the bridge bounds it itself.
template <> struct Wire<std::string> {
    static constexpr std::string_view signature = "s";
    static int append(sd_bus_message* m, const std::string& text) {
        return sd_bus_message_append_basic(m, 's', text.c_str());
    }
};

// Text the bridge sends, cut to `Limit` bytes between characters.
template <std::size_t Limit> struct BoundedText { std::string text; };

template <std::size_t Limit> struct Wire<BoundedText<Limit>> {
    static constexpr std::string_view signature = "s";
    static std::optional<BoundedText<Limit>> read(sd_bus_message* m) {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(m, 's', &text) <= 0) {
            return std::nullopt;
        }
        return BoundedText<Limit>{BridgeReplies::bounded(text, Limit)};
    }
};

// An image's bytes.
template <> struct Wire<std::vector<std::uint8_t>> {
    static constexpr std::string_view signature = "ay";
    static int append(sd_bus_message* m, const std::vector<std::uint8_t>& bytes) {
        return sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
    }
};

// The indicator's menu: id, label, enabled, checked (-1 not a check item, 0, 1).
template <> struct Wire<std::vector<IndicatorItem>> {
    static constexpr std::string_view signature = "a(ssbi)";
    static int append(sd_bus_message* m, const std::vector<IndicatorItem>& items);
};

template <> struct Wire<std::vector<CompositorMonitor>> {
    static constexpr std::string_view signature = BridgeReplies::monitorsSignature;
    static std::optional<std::vector<CompositorMonitor>> read(sd_bus_message* m) {
        return BridgeReplies::readMonitors(m);
    }
};

template <> struct Wire<std::vector<CompositorWindow>> {
    static constexpr std::string_view signature = BridgeReplies::windowsSignature;
    static std::optional<std::vector<CompositorWindow>> read(sd_bus_message* m) {
        return BridgeReplies::readWindows(m);
    }
};

template <> struct Wire<BridgeReplies::BridgeState> {
    static constexpr std::string_view signature = BridgeReplies::stateSignature;
    static std::optional<BridgeReplies::BridgeState> read(sd_bus_message* m) {
        return BridgeReplies::readState(m);
    }
};

// The signature of a sequence of types, made at compile time.
template <class... Ts> struct Signature {
    static constexpr auto characters = [] {
        std::array<char, (Wire<Ts>::signature.size() + ... + 0) + 1> made{};
        [[maybe_unused]] std::size_t at = 0;
        ((at = std::size_t(std::copy(Wire<Ts>::signature.begin(), Wire<Ts>::signature.end(),
                                     made.begin() + std::ptrdiff_t(at)) -
                           made.begin())),
         ...);
        return made;
    }();
    static constexpr std::string_view text{characters.data(), characters.size() - 1};
};

// A member's name as a template argument, kept with its terminating NUL for sd-bus.
template <std::size_t N> struct Name {
    constexpr Name(const char (&text)[N]) { std::copy_n(text, N, characters); }
    char characters[N];
};

template <class... Ts> struct In {};
template <class... Ts> struct Out {};

template <Name N, class Arguments, class Results> struct Method;

template <Name N, class... Arguments, class... Results>
struct Method<N, In<Arguments...>, Out<Results...>> {
    static constexpr const char* name = N.characters;
    static constexpr std::string_view in = Signature<Arguments...>::text;
    static constexpr std::string_view out = Signature<Results...>::text;
    using ArgumentTuple = std::tuple<Arguments...>;
    using Reply = std::tuple<Results...>;
};

template <Name N, class... Arguments> struct Signal {
    static constexpr const char* name = N.characters;
    static constexpr std::string_view arguments = Signature<Arguments...>::text;
    using Values = std::tuple<Arguments...>;
};

// Every member of net.orvane.Bridge1, in the interface file's order.
namespace methods {
using Follow = Method<"Follow", In<>, Out<>>;
using GetVersion = Method<"GetVersion", In<>, Out<std::uint32_t>>;
using GetState = Method<"GetState", In<>, Out<BridgeReplies::BridgeState>>;
using SetOverviewActive = Method<"SetOverviewActive", In<bool>, Out<>>;
using GetMonitors = Method<"GetMonitors", In<>, Out<std::vector<CompositorMonitor>>>;
using GetWindows = Method<"GetWindows", In<>, Out<std::vector<CompositorWindow>>>;
using ActivateWindow = Method<"ActivateWindow", In<std::uint64_t>, Out<bool>>;
using GetPointer = Method<"GetPointer", In<>, Out<std::int32_t, std::int32_t, std::uint32_t>>;
using WarpPointer = Method<"WarpPointer", In<std::int32_t, std::int32_t>, Out<>>;
using WatchInput = Method<"WatchInput", In<std::uint32_t>, Out<>>;
using PostKey = Method<"PostKey", In<std::uint32_t, bool>, Out<bool>>;
using GrabAccelerator = Method<"GrabAccelerator", In<std::string>, Out<std::uint32_t>>;
using UngrabAccelerator = Method<"UngrabAccelerator", In<std::uint32_t>, Out<bool>>;
using ShowDot = Method<"ShowDot", In<std::int32_t, std::int32_t, std::int32_t>, Out<>>;
using HideDot = Method<"HideDot", In<>, Out<>>;
using SetIndicator =
    Method<"SetIndicator", In<std::vector<std::uint8_t>, std::string, std::vector<IndicatorItem>>,
           Out<>>;
using ClearIndicator = Method<"ClearIndicator", In<>, Out<>>;
} // namespace methods

namespace emits {
using StateChanged = Signal<"StateChanged", BridgeReplies::BridgeState>;
using MonitorsChanged = Signal<"MonitorsChanged">;
using WindowsChanged = Signal<"WindowsChanged">;
using Input = Signal<"Input", std::int32_t, std::int32_t, std::uint32_t, std::uint32_t>;
using AcceleratorActivated = Signal<"AcceleratorActivated", std::uint32_t>;
using IndicatorOpening = Signal<"IndicatorOpening">;
using IndicatorActivated = Signal<"IndicatorActivated", BoundedText<BridgeReplies::maxTextLength>>;
} // namespace emits

using AllMethods =
    std::tuple<methods::Follow, methods::GetVersion, methods::GetState, methods::SetOverviewActive,
               methods::GetMonitors, methods::GetWindows, methods::ActivateWindow,
               methods::GetPointer, methods::WarpPointer, methods::WatchInput, methods::PostKey,
               methods::GrabAccelerator, methods::UngrabAccelerator, methods::ShowDot,
               methods::HideDot, methods::SetIndicator, methods::ClearIndicator>;
using AllSignals =
    std::tuple<emits::StateChanged, emits::MonitorsChanged, emits::WindowsChanged, emits::Input,
               emits::AcceleratorActivated, emits::IndicatorOpening, emits::IndicatorActivated>;

// Appends the arguments of a call of `M`, of exactly its types; negative on failure.
template <class M, class... Arguments>
int appendArguments([[maybe_unused]] sd_bus_message* m, const Arguments&... arguments) {
    static_assert(std::is_same_v<typename M::ArgumentTuple, std::tuple<Arguments...>>,
                  "not the arguments this member of the bridge takes");
    int r = 0;
    ((r = r < 0 ? r : Wire<Arguments>::append(m, arguments)), ...);
    return r;
}

namespace detail {
template <class... Ts>
std::optional<std::tuple<Ts...>> readAll([[maybe_unused]] sd_bus_message* m, std::tuple<Ts...>*) {
    std::tuple<std::optional<Ts>...> read;
    bool whole = true;
    // In order, and none after the first that fails.
    std::apply([&](auto&... each) { ((whole = whole && (each = Wire<Ts>::read(m))), ...); }, read);
    if (!whole) {
        return std::nullopt;
    }
    return std::apply([](auto&... each) { return std::tuple<Ts...>{std::move(*each)...}; }, read);
}
} // namespace detail

// What a reply of `M` holds, read from its start; nothing when it holds something else.
template <class M> std::optional<typename M::Reply> readReply(sd_bus_message* m) {
    return detail::readAll(m, static_cast<typename M::Reply*>(nullptr));
}

// What a signal `S` carries; nothing when it carries something else.
template <class S> std::optional<typename S::Values> readSignal(sd_bus_message* m) {
    return detail::readAll(m, static_cast<typename S::Values*>(nullptr));
}

} // namespace orvane::linuxbackend::bridge1
