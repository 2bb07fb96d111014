#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::linuxbackend {

// How much of a compositor's JSON is read before it is dropped: a message past any of these
// is not what the compositor sends, and building it could take unbounded memory or stack.
struct JsonLimits {
    std::size_t bytes = 0;  // the whole text
    std::size_t values = 0; // values, members' names included
    std::size_t depth = 0;  // arrays and objects inside one another
    std::size_t string = 0; // the bytes of one string or member name
};

// Parses `text` as JSON, stopping at the first limit it passes: nullopt then, or when it is not
// JSON, with why in `problem`. Never throws.
std::optional<nlohmann::json> parseBoundedJson(std::string_view text, const JsonLimits& limits,
                                               std::string* problem = nullptr);

// `text` cut to at most `limit` bytes, never inside a UTF-8 sequence, so that it stays text.
std::string truncateUtf8(std::string text, std::size_t limit);

} // namespace orvane::linuxbackend
