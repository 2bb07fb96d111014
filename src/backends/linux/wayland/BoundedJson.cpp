#include "backends/linux/wayland/BoundedJson.hpp"

#include <vector>

namespace orvane::linuxbackend {
namespace {

using nlohmann::json;

// Builds the document from the parser's events, counting as it goes: returning false stops
// the parser at once, before the value past the limit is kept.
class BoundedBuilder {
public:
    explicit BoundedBuilder(const JsonLimits& limits) : limits_(limits) {}

    bool null() { return add(json(nullptr)); }
    bool boolean(bool value) { return add(json(value)); }
    bool number_integer(json::number_integer_t value) { return add(json(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return add(json(value)); }
    bool number_float(json::number_float_t value, const json::string_t&) {
        return add(json(value));
    }
    bool string(json::string_t& value) { return fits(value) && add(json(std::move(value))); }
    bool binary(json::binary_t&) { return refuse("binary data"); }
    bool start_object(std::size_t) { return open(json::object()); }
    bool key(json::string_t& name) {
        if (!fits(name) || !count()) {
            return false;
        }
        key_ = std::move(name);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(json::array()); }
    bool end_array() { return close(); }
    template <class Exception>
    bool parse_error(std::size_t at, const std::string&, const Exception&) {
        return refuse("not JSON (at byte " + std::to_string(at) + ")");
    }

    json& root() { return root_; }
    const std::string& problem() const { return problem_; }

private:
    bool refuse(std::string why) {
        if (problem_.empty()) {
            problem_ = std::move(why);
        }
        return false;
    }

    bool fits(const json::string_t& text) {
        return text.size() <= limits_.string ||
               refuse("a string of " + std::to_string(text.size()) + " bytes, over " +
                      std::to_string(limits_.string));
    }

    bool count() {
        return ++values_ <= limits_.values ||
               refuse("more than " + std::to_string(limits_.values) + " values");
    }

    // Puts `value` where the parser is and gives its place.
    json* place(json&& value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        json& container = *open_.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        json& member = container[key_];
        member = std::move(value);
        return &member;
    }

    bool add(json&& value) {
        if (!count()) {
            return false;
        }
        place(std::move(value));
        return true;
    }

    // An open container's place stays put: only the innermost one grows.
    bool open(json&& container) {
        if (!count()) {
            return false;
        }
        if (open_.size() >= limits_.depth) {
            return refuse("nested deeper than " + std::to_string(limits_.depth));
        }
        open_.push_back(place(std::move(container)));
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    const JsonLimits& limits_;
    json root_;
    std::vector<json*> open_;
    json::string_t key_;
    std::size_t values_ = 0;
    std::string problem_;
};

} // namespace

std::optional<nlohmann::json> parseBoundedJson(std::string_view text, const JsonLimits& limits,
                                               std::string* problem) {
    if (text.size() > limits.bytes) {
        if (problem) {
            *problem = std::to_string(text.size()) + " bytes, over " + std::to_string(limits.bytes);
        }
        return std::nullopt;
    }
    BoundedBuilder builder(limits);
    if (!json::sax_parse(text.begin(), text.end(), &builder)) {
        if (problem) {
            *problem = builder.problem().empty() ? "not JSON" : builder.problem();
        }
        return std::nullopt;
    }
    return std::move(builder.root());
}

std::string truncateUtf8(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    // Back over continuation bytes (10xxxxxx) to the start of the sequence that was cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

} // namespace orvane::linuxbackend
