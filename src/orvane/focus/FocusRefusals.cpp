#include "orvane/focus/FocusRefusals.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace orvane::FocusRefusals {
namespace {

constexpr std::size_t nameLimit = 80;
constexpr std::size_t noteLimit = 1024;

std::optional<std::filesystem::path> notePath() {
    const auto& fileSystem = platform().fileSystem;
    if (!fileSystem) {
        return std::nullopt;
    }
    const auto support = fileSystem->applicationSupportDirectory();
    if (!support) {
        return std::nullopt;
    }
    return *support / "Orvane" / "focus-refusal.txt";
}

std::string printable(const std::string& text, std::size_t limit) {
    std::string shown;
    for (const char c : text) {
        if (shown.size() >= limit) {
            // Cut before a character that would be split.
            while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
                shown.pop_back();
            }
            if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) {
                shown.pop_back();
            }
            shown += "…";
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 || byte == 0x7f) ? ' ' : c;
    }
    return shown;
}

std::string utcText(double seconds) {
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (gmtime_r(&whole, &parts) == nullptr) {
        return "at an unknown time";
    }
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

} // namespace

std::string sentence(const std::string& program) {
    const std::string name = printable(program, nameLimit);
    return "the window manager refused to focus " + (name.empty() ? "a window" : name) +
           ": focus did not arrive after it was asked for, and stays where it was (its "
           "focus-stealing prevention may hold the window back)";
}

void report(const std::string& program) {
    const std::string text = sentence(program);
    Log::error(text);
    const auto path = notePath();
    if (!path) {
        return;
    }
    auto& fileSystem = *platform().fileSystem;
    const double now = platform().clock ? platform().clock->now() : 0.0;
    fileSystem.createDirectories(path->parent_path());
    fileSystem.writeAtomically(*path, text + " (" + utcText(now) + ")\n");
}

std::optional<std::string> latest() {
    const auto path = notePath();
    if (!path) {
        return std::nullopt;
    }
    auto file = platform().fileSystem->read(*path, noteLimit);
    if (file.outcome != FileRead::Outcome::read) {
        return std::nullopt;
    }
    while (!file.content.empty() && file.content.back() == '\n') {
        file.content.pop_back();
    }
    return printable(file.content, noteLimit);
}

} // namespace orvane::FocusRefusals
