#pragma once

#include <cstdint>

namespace plinth {

// The integer part of `value`, truncated toward zero. Where C++ would be undefined it answers
// sensibly instead: NaN gives 0, and values beyond the 64-bit range give its nearest end.
std::int64_t truncatedToInt64(double value);

} // namespace plinth
