#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The user's directory for application data (not yet including our sub-directory);
    // nullopt when the platform cannot tell where it is.
    virtual std::optional<std::filesystem::path> applicationSupportDirectory() const = 0;

    // Creates the directory and any missing parents. True when it exists afterwards.
    virtual bool createDirectories(const std::filesystem::path& directory) = 0;

    // The whole file, or nullopt when it is missing or unreadable.
    virtual std::optional<std::string> read(const std::filesystem::path& file) const = 0;

    // Replaces the file's content so that a reader sees either the old or the new content,
    // never a mix: a temporary file in the same directory, flushed, renamed over the old one.
    // False on any failure, with the old file left as it was.
    virtual bool writeAtomically(const std::filesystem::path& file, std::string_view data) = 0;

    // Removes the file. False when it could not be removed (including when it did not exist).
    virtual bool remove(const std::filesystem::path& file) = 0;
};

} // namespace orvane
