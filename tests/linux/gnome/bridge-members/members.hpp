// Made by the build from members.xml: do not edit.
#pragma once

#include <array>
#include <string_view>

namespace orvane::linuxbackend::bridge1::declared {

struct Method {
    std::string_view name, in, out;
};

struct Signal {
    std::string_view name, arguments;
};

inline constexpr std::string_view interfaceName = "net.orvane.Bridge1";

inline constexpr std::array<Method, 2> methodList{{
    {"Bare", "", ""},
    {"Both", "tb", "a(tusss(iiii)(iiii)ibb)a{sv}"},
}};

inline constexpr std::array<Signal, 2> signalList{{
    {"Quiet", ""},
    {"Loud", "iay"},
}};

} // namespace orvane::linuxbackend::bridge1::declared
