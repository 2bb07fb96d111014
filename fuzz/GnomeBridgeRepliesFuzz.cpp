// What Orvane reads from the GNOME Shell bridge's answers: the bytes of an input pick an answer
// (window list, monitor list, state, the shell's extension info) and make a message of it that the
// bus would carry, with any count of entries, any text (whole UTF-8, as the bus demands) and any
// values, or entries of another shape. What is read stays within its bounds, keeps what fits
// unchanged, cuts texts only between characters, and refuses a malformed answer instead of reading
// part of it.
#include "FuzzChecks.hpp"
#include "backends/linux/wayland/gnome/BridgeReplies.hpp"
#include "wayland/OfflineBus.hpp"

#include <fuzzer/FuzzedDataProvider.h>
#include <systemd/sd-bus.h>

#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvane::linuxbackend;
using orvane::fuzz::require;
using orvane::linuxbackend::test::offlineBus;

// Whole UTF-8 of any length, multi-byte characters included, never a NUL.
std::string text(FuzzedDataProvider& data) {
    std::string made;
    for (unsigned char c : data.ConsumeRandomLengthString(4096)) {
        if (c == 0) {
            made += "\xE2\x82\xAC"; // €
        } else if (c >= 0x80) {
            made += (c & 1) ? "\xC3\xA9" : "\xF0\x9F\x99\x82"; // é, 🙂
        } else {
            made += static_cast<char>(c);
        }
    }
    return made;
}

void checkText(const std::string& kept, const std::string& sent, std::size_t bound) {
    require(kept.size() <= bound, "a text past its bound");
    require(orvane::fuzz::isUtf8(kept), "a text cut inside a character");
    require(sent.compare(0, kept.size(), kept) == 0, "a text changed, not only cut");
    require(sent.size() > bound || kept == sent, "a text within its bound was cut");
}

struct Sent {
    std::vector<std::string> texts;
    std::size_t entries = 0;
};

sd_bus_message* sealed(sd_bus_message* m) {
    if (sd_bus_message_seal(m, 1, 0) < 0 || sd_bus_message_rewind(m, 1) < 0) {
        sd_bus_message_unref(m);
        return nullptr;
    }
    return m;
}

void windows(FuzzedDataProvider& data, sd_bus_message* m) {
    Sent sent;
    const bool otherShape = data.ConsumeBool();
    const auto count = data.ConsumeIntegralInRange<std::size_t>(0, 1200);
    const char* entry = otherShape ? "(tuss)" : "(tusss(iiii)(iiii)ibb)";
    if (sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, entry) < 0) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) { // zeros once the input runs out
        const auto id = data.ConsumeIntegral<std::uint64_t>();
        const auto pid = data.ConsumeIntegral<std::uint32_t>();
        std::string application = text(data), title = text(data), type = text(data);
        int r;
        if (otherShape) {
            r = sd_bus_message_append(m, entry, id, pid, application.c_str(), title.c_str());
        } else {
            int v[9];
            for (int& value : v) {
                value = data.ConsumeIntegral<int>();
            }
            r = sd_bus_message_append(m, entry, id, pid, application.c_str(), title.c_str(),
                                      type.c_str(), v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                                      v[8], data.ConsumeBool(), data.ConsumeBool());
        }
        if (r < 0) {
            return;
        }
        sent.texts.insert(sent.texts.end(), {application, title, type});
        ++sent.entries;
    }
    if (sd_bus_message_close_container(m) < 0 || !(m = sealed(sd_bus_message_ref(m)))) {
        return;
    }
    const auto read = BridgeReplies::readWindows(m);
    sd_bus_message_unref(m);
    if (otherShape) {
        require(!read || sent.entries == 0, "a window list of another shape was read");
        return;
    }
    require(read.has_value(), "a well-formed window list was refused");
    require(read->size() == std::min(sent.entries, BridgeReplies::maxWindows),
            "not the front-most windows up to the bound");
    for (std::size_t i = 0; i < read->size(); ++i) {
        checkText((*read)[i].applicationId, sent.texts[3 * i], BridgeReplies::maxTextLength);
        checkText((*read)[i].title, sent.texts[3 * i + 1], BridgeReplies::maxTextLength);
        checkText((*read)[i].type, sent.texts[3 * i + 2], BridgeReplies::maxWordLength);
    }
}

void monitors(FuzzedDataProvider& data, sd_bus_message* m) {
    const auto count = data.ConsumeIntegralInRange<std::size_t>(0, 80);
    if (sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "(iiiissb)") < 0) {
        return;
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) { // zeros once the input runs out
        int v[4];
        for (int& value : v) {
            value = data.ConsumeIntegral<int>();
        }
        std::string connector = text(data), name = text(data);
        if (sd_bus_message_append(m, "(iiiissb)", v[0], v[1], v[2], v[3], connector.c_str(),
                                  name.c_str(), data.ConsumeBool()) < 0) {
            return;
        }
        names.insert(names.end(), {connector, name});
    }
    if (sd_bus_message_close_container(m) < 0 || !(m = sealed(sd_bus_message_ref(m)))) {
        return;
    }
    const auto read = BridgeReplies::readMonitors(m);
    sd_bus_message_unref(m);
    const std::size_t sent = names.size() / 2;
    require(read.has_value() == (sent <= BridgeReplies::maxMonitors),
            "a monitor list refused within its bound, or read past it");
    for (std::size_t i = 0; read && i < read->size(); ++i) {
        checkText((*read)[i].connector, names[2 * i], BridgeReplies::maxTextLength);
        checkText((*read)[i].name, names[2 * i + 1], BridgeReplies::maxTextLength);
    }
}

void state(FuzzedDataProvider& data, sd_bus_message* m) {
    if (sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "{sv}") < 0) {
        return;
    }
    std::optional<std::uint64_t> focus;
    bool seen = false, wrongType = false;
    while (data.remaining_bytes() > 0) {
        const std::string name = data.ConsumeBool() ? "FocusWindow" : text(data);
        const auto value = data.ConsumeIntegral<std::uint64_t>();
        const bool asText = data.ConsumeBool();
        const int r = asText ? sd_bus_message_append(m, "{sv}", name.c_str(), "s", "x")
                             : sd_bus_message_append(m, "{sv}", name.c_str(), "t", value);
        if (r < 0) {
            return;
        }
        if (name == "FocusWindow" && !seen) { // the first one answers
            seen = true;
            wrongType = asText;
            if (!asText) {
                focus = value;
            }
        }
    }
    if (sd_bus_message_close_container(m) < 0 || !(m = sealed(sd_bus_message_ref(m)))) {
        return;
    }
    const auto read = BridgeReplies::readFocus(m);
    sd_bus_message_unref(m);
    require(wrongType ? !read : read == focus, "not the first FocusWindow, or a wrong one");
}

// What GNOME Shell's extension manager says of an extension: its state as a double or a number,
// its error text, and entries of other names and types.
void extensionInfo(FuzzedDataProvider& data, sd_bus_message* m) {
    if (sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "{sv}") < 0) {
        return;
    }
    std::size_t entries = 0;
    std::optional<double> state;
    std::optional<std::string> error;
    while (data.remaining_bytes() > 0) {
        int r = 0;
        switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            const double value = data.ConsumeIntegral<std::uint32_t>();
            const bool asDouble = data.ConsumeBool();
            r = asDouble ? sd_bus_message_append(m, "{sv}", "state", "d", value)
                         : sd_bus_message_append(m, "{sv}", "state", "u",
                                                 static_cast<std::uint32_t>(value));
            state = value;
            break;
        }
        case 1: {
            const std::string sent = text(data);
            r = sd_bus_message_append(m, "{sv}", "error", "s", sent.c_str());
            error = sent;
            break;
        }
        case 2: // a known name of an unread type is passed over
            r = sd_bus_message_append(m, "{sv}", data.ConsumeBool() ? "state" : "error", "i", 1);
            break;
        default: {
            // Any name, which may come out as "error" itself (the bus cuts it at a NUL).
            const std::string name = text(data).c_str();
            r = sd_bus_message_append(m, "{sv}", name.c_str(), "s", "x");
            if (name == "error") {
                error = "x";
            }
            break;
        }
        }
        if (r < 0) {
            return;
        }
        ++entries;
    }
    if (sd_bus_message_close_container(m) < 0 || !(m = sealed(sd_bus_message_ref(m)))) {
        return;
    }
    const auto read = BridgeReplies::readExtensionInfo(m);
    sd_bus_message_unref(m);
    require(read.has_value(), "a well-formed extension info was refused");
    require(read->listed == (entries > 0), "listed without entries, or not with them");
    require(read->state == state.value_or(0), "not the last state sent");
    checkText(read->error, error.value_or(""), BridgeReplies::maxTextLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_signal(offlineBus(), &m, "/net/orvane/Bridge", "net.orvane.Bridge1",
                                  "Reply") < 0) {
        return 0;
    }
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
        windows(data, m);
        break;
    case 1:
        monitors(data, m);
        break;
    case 2:
        state(data, m);
        break;
    default:
        extensionInfo(data, m);
        break;
    }
    sd_bus_message_unref(m);
    return 0;
}
