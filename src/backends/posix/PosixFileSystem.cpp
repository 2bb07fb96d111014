#include "backends/posix/PosixFileSystem.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
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

struct Descriptor {
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor() { ::close(fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    const int fd;
};

std::string errorText(int error) {
    return std::generic_category().message(error);
}

FileRead failure(FileRead::Outcome outcome, std::string problem) {
    FileRead result;
    result.outcome = outcome;
    result.problem = std::move(problem);
    return result;
}

FileRead openFailure(int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return failure(FileRead::Outcome::missing, "");
    }
    return failure(FileRead::Outcome::failed, errorText(error));
}

FileRead tooLarge(std::size_t maxBytes) {
    return failure(FileRead::Outcome::tooLarge,
                   "larger than the limit of " + std::to_string(maxBytes) + " bytes");
}

// Why a file with this status is not read; nullopt when it may be.
std::optional<FileRead> refusal(const struct stat& status, std::size_t maxBytes) {
    const auto mode = status.st_mode;
    if (S_ISREG(mode)) {
        if (status.st_size >= 0 && static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
            return tooLarge(maxBytes);
        }
        return std::nullopt;
    }
    if (S_ISDIR(mode)) {
        return failure(FileRead::Outcome::directory, "a directory");
    }
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a special file";
    return failure(FileRead::Outcome::notARegularFile, std::string(kind) + ", not a regular file");
}

// mkstemp's template for the atomic write's temporary file, without the Xs.
std::string temporaryPrefix(const std::filesystem::path& file) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely about "." + std::string.
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += ".tmp.";
    return prefix;
}

bool isTemporaryName(const std::string& name, const std::string& prefix) {
    constexpr std::size_t randomLength = 6;
    return name.size() == prefix.size() + randomLength && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
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

FileRead PosixFileSystem::read(const std::filesystem::path& file, std::size_t maxBytes) const {
    // Looked at before opening: opening a device can have effects of its own, and a FIFO
    // would block until a writer came along.
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return openFailure(errno);
    }
    if (auto refused = refusal(status, maxBytes)) {
        return *refused;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return openFailure(errno);
    }
    const Descriptor closer{fd};
    // The entry may have been replaced since it was looked at.
    if (::fstat(fd, &status) != 0) {
        return failure(FileRead::Outcome::failed, errorText(errno));
    }
    if (auto refused = refusal(status, maxBytes)) {
        return *refused;
    }

    FileRead result;
    result.outcome = FileRead::Outcome::read;
    result.content.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(FileRead::Outcome::failed, errorText(errno));
        }
        if (got == 0) {
            return result;
        }
        // A file that grows while it is read is held to the same limit.
        if (static_cast<std::size_t>(got) > maxBytes - result.content.size()) {
            return tooLarge(maxBytes);
        }
        result.content.append(buffer, static_cast<std::size_t>(got));
    }
}

bool PosixFileSystem::writeAtomically(const std::filesystem::path& file, std::string_view data) {
    const auto directory = directoryOf(file);
    std::string temporary = (directory / (temporaryPrefix(file) + "XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    // mkstemp already creates it so; this also undoes a umask that would lock the owner out.
    // Whatever the old file allowed, the renamed new one is private.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directory);
    return true;
}

std::size_t PosixFileSystem::removeLeftoverTemporaries(const std::filesystem::path& file) {
    const auto prefix = temporaryPrefix(file);
    std::size_t removed = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directoryOf(file), error), end; !error && it != end;
         it.increment(error)) {
        const auto& path = it->path();
        if (!isTemporaryName(path.filename().string(), prefix)) {
            continue;
        }
        // Only what the atomic write itself creates: never a link or a directory.
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

bool PosixFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileSystem::renameIfFree(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // Where the kernel or the file system cannot promise it: look first.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0 || errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
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
