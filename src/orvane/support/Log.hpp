#pragma once

#include <string_view>

namespace orvane {

// The application log. Each call takes one finished text; it is written as it stands, never
// interpreted as a format. Safe from any thread.
class Log {
public:
    static void info(std::string_view text);
    static void error(std::string_view text);

    static constexpr const char* category = "core";
};

} // namespace orvane
