#include "plinth/Numeric.hpp"

#include <cmath>
#include <limits>

namespace plinth {

std::int64_t truncatedToInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is exactly representable, and the first double past the range.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < -limit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

} // namespace plinth
