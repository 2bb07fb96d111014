#pragma once

#include "orvane/platform/WindowServer.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

// Typed reads of a raw window-list entry. The server's answers are not trusted: a missing key
// or a value of another type reads as nothing.
namespace WindowEntryValues {

// An integral number, whether sent as an integer or as a whole float within 64 bits.
std::optional<std::int64_t> integer(const WindowEntry& entry, const char* key);

// A rectangle with finite coordinates.
std::optional<plinth::Rect> rect(const WindowEntry& entry, const char* key);

std::optional<std::string> text(const WindowEntry& entry, const char* key);

} // namespace WindowEntryValues

} // namespace orvane
