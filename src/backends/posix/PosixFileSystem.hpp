#pragma once

#include "orvane/platform/FileSystem.hpp"

#include <functional>

namespace orvane::posix {

// Files through POSIX calls, so that an atomic write really is one: temporary file in the
// same directory (".<name>.tmp.XXXXXX"), fsync, rename, fsync of the directory.
class PosixFileSystem : public FileSystem {
public:
    explicit PosixFileSystem(std::optional<std::filesystem::path> applicationSupportDirectory)
        : applicationSupport_(std::move(applicationSupportDirectory)) {}

    std::optional<std::filesystem::path> applicationSupportDirectory() const override {
        return applicationSupport_;
    }
    bool createDirectories(const std::filesystem::path& directory) override;
    FileRead read(const std::filesystem::path& file, std::size_t maxBytes) const override;
    bool writeAtomically(const std::filesystem::path& file, std::string_view data) override;
    std::size_t removeLeftoverTemporaries(const std::filesystem::path& file) override;
    bool rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool renameIfFree(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool remove(const std::filesystem::path& file) override;

private:
    std::optional<std::filesystem::path> applicationSupport_;
};

// The XDG data directory: $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share;
// nullopt when neither gives one. `environment` looks a variable up (getenv in the app).
std::optional<std::filesystem::path>
xdgDataHome(const std::function<const char*(const char*)>& environment);

} // namespace orvane::posix
