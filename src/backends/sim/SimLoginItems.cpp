#include "backends/sim/SimLoginItems.hpp"

namespace orvane::sim {

LoginItemChange SimLoginItems::setStartsAtLogin(bool on) {
    ++changes_;
    if (failure_) {
        return {false, *failure_};
    }
    on_ = on;
    return {true, {}};
}

} // namespace orvane::sim
