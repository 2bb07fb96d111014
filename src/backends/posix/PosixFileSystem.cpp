#include "backends/posix/PosixFileSystem.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace orvane::posix {
namespace {

bool writeAll(int fd, std::string_view data) {
    const char* next = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

void syncDirectory(const std::filesystem::path& directory) {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool PosixFileSystem::createDirectories(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    return std::filesystem::is_directory(directory, error);
}

std::optional<std::string> PosixFileSystem::read(const std::filesystem::path& file) const {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return content;
}

bool PosixFileSystem::writeAtomically(const std::filesystem::path& file, std::string_view data) {
    const auto directory = file.has_parent_path() ? file.parent_path() : ".";
    std::string name = ".";
    name += file.filename().string();
    name += ".XXXXXX";
    std::string temporary = (directory / name).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, 0644);
    bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directory);
    return true;
}

bool PosixFileSystem::remove(const std::filesystem::path& file) {
    return ::unlink(file.c_str()) == 0;
}

std::optional<std::filesystem::path>
xdgDataHome(const std::function<const char*(const char*)>& environment) {
    if (const char* data = environment("XDG_DATA_HOME"); data && data[0] == '/') {
        return std::filesystem::path(data);
    }
    if (const char* home = environment("HOME"); home && home[0] != '\0') {
        return std::filesystem::path(home) / ".local" / "share";
    }
    return std::nullopt;
}

} // namespace orvane::posix
