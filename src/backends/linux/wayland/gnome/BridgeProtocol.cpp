#include "backends/linux/wayland/gnome/BridgeProtocol.hpp"

#include "backends/linux/wayland/gnome/BridgeConnection.hpp"

// Made by the build from net.orvane.Bridge1.xml.
#include "backends/linux/wayland/gnome/Bridge1Members.hpp"

namespace orvane::linuxbackend::bridge1 {

int Wire<std::vector<IndicatorItem>>::append(sd_bus_message* m,
                                             const std::vector<IndicatorItem>& items) {
    int r = sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, signature.data() + 1);
    for (const auto& item : items) {
        if (r >= 0) {
            const int checked = item.checked ? (*item.checked ? 1 : 0) : -1;
            r = sd_bus_message_append(m, signature.data() + 1, item.id.c_str(), item.label.c_str(),
                                      int(item.enabled), checked);
        }
    }
    return r < 0 ? r : sd_bus_message_close_container(m);
}

namespace {

// Each member here is declared in the interface file with the same signatures, and there are
// as many here as there: a member or argument added, dropped or changed on one side alone
// stops the build, naming the member in the failed instantiation.
template <class M> constexpr bool declaredAlike() {
    for (const auto& declared : declared::methodList) {
        if (declared.name == M::name) {
            return declared.in == M::in && declared.out == M::out;
        }
    }
    return false;
}

template <class S> constexpr bool declaredSignalAlike() {
    for (const auto& declared : declared::signalList) {
        if (declared.name == S::name) {
            return declared.arguments == S::arguments;
        }
    }
    return false;
}

template <class M> struct CheckedMethod {
    static_assert(declaredAlike<M>(),
                  "this method of the bridge is not in net.orvane.Bridge1.xml as it is here");
    static constexpr bool ok = true;
};

template <class S> struct CheckedSignal {
    static_assert(declaredSignalAlike<S>(),
                  "this signal of the bridge is not in net.orvane.Bridge1.xml as it is here");
    static constexpr bool ok = true;
};

template <class... Members> constexpr bool namesDiffer(std::tuple<Members...>*) {
    const std::array<std::string_view, sizeof...(Members)> names{Members::name...};
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j) {
            if (names[i] == names[j]) {
                return false;
            }
        }
    }
    return true;
}

template <class... Ms> constexpr bool allMethodsChecked(std::tuple<Ms...>*) {
    return (CheckedMethod<Ms>::ok && ...);
}

template <class... Ss> constexpr bool allSignalsChecked(std::tuple<Ss...>*) {
    return (CheckedSignal<Ss>::ok && ...);
}

static_assert(allMethodsChecked(static_cast<AllMethods*>(nullptr)));
static_assert(allSignalsChecked(static_cast<AllSignals*>(nullptr)));
static_assert(std::tuple_size_v<AllMethods> == declared::methodList.size(),
              "net.orvane.Bridge1.xml has a method the client does not know");
static_assert(std::tuple_size_v<AllSignals> == declared::signalList.size(),
              "net.orvane.Bridge1.xml has a signal the client does not know");
static_assert(namesDiffer(static_cast<AllMethods*>(nullptr)) &&
              namesDiffer(static_cast<AllSignals*>(nullptr)));
static_assert(declared::interfaceName == BridgeConnection::interfaceName);

} // namespace

} // namespace orvane::linuxbackend::bridge1
