#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// What FileSystem::read found.
struct FileRead {
    enum class Outcome {
        read,            // `content` holds the whole file
        missing,         // nothing of that name (a dangling symbolic link included)
        directory,       // a directory: never read, and no file can replace it
        notARegularFile, // a FIFO, device or socket: never opened for reading
        tooLarge,        // more than the caller's limit
        failed,          // anything else, such as a permission or I/O error
    };
    Outcome outcome = Outcome::missing;
    std::string content;
    // Why nothing was read, in words fit for a log line; empty when read or missing.
    std::string problem;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The user's directory for application data (not yet including our sub-directory);
    // nullopt when the platform cannot tell where it is.
    virtual std::optional<std::filesystem::path> applicationSupportDirectory() const = 0;

    // Creates the directory and any missing parents. True when it exists afterwards.
    virtual bool createDirectories(const std::filesystem::path& directory) = 0;

    // The whole file when it is a regular file of at most `maxBytes` bytes (a symbolic link
    // to one is followed). Never blocks and never reads anything else.
    virtual FileRead read(const std::filesystem::path& file, std::size_t maxBytes) const = 0;

    // Replaces the file's content so that a reader sees either the old or the new content,
    // never a mix: a temporary file in the same directory, flushed, renamed over the old one.
    // The new file is readable and writable by its owner only. False on any failure, with the
    // old file left as it was.
    virtual bool writeAtomically(const std::filesystem::path& file, std::string_view data) = 0;

    // Removes the temporary files that interrupted writeAtomically(file) calls left behind;
    // answers how many went. Nothing else in the directory is touched.
    virtual std::size_t removeLeftoverTemporaries(const std::filesystem::path& file) = 0;

    // Moves the directory entry `from` to `to` on the same file system, replacing a file (not a
    // directory) already called `to`. A symbolic link is moved, not followed. False on failure.
    virtual bool rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;

    // Moves the directory entry `from` to `to` only while nothing is called `to`: never
    // replaces anything. A symbolic link is moved, not followed. False on failure, or when the
    // name is taken.
    virtual bool renameIfFree(const std::filesystem::path& from,
                              const std::filesystem::path& to) = 0;

    // Removes the file. False when it could not be removed (including when it did not exist).
    virtual bool remove(const std::filesystem::path& file) = 0;
};

// Moves an unusable file out of the way, so that no save replaces it, to "<file>.bad"; the
// earlier ones move on to "<file>.bad.1" ... (`nameCount` names in all, the newest first), and
// the oldest beyond them is removed. The name it now has, or nullopt when it could not be
// moved.
std::optional<std::filesystem::path> moveAside(FileSystem& fileSystem,
                                               const std::filesystem::path& file, int nameCount);

} // namespace orvane
