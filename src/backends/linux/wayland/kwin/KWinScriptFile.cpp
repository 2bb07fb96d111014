#include "backends/linux/wayland/kwin/KWinScriptFile.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

constexpr const char* scriptName = "bridge.js";

bool writeAll(int fd, std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The folder made under `parent`, or empty with why in `problem`.
std::string privateFolder(const std::string& parent, std::string* problem) {
    std::string pattern = parent + "/orvane-kwin-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        *problem = "cannot make a folder in " + parent + ": " + std::strerror(errno);
        return {};
    }
    return pattern;
}

bool plain(const std::string& value) {
    if (value.empty()) {
        return false;
    }
    for (const char c : value) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == ':' || c == '.' || c == '-' || c == '_';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

} // namespace

std::unique_ptr<KWinScriptFile> KWinScriptFile::create(std::string_view text,
                                                       const std::string& runtimeFolder,
                                                       std::string* problem) {
    std::string folder;
    if (!runtimeFolder.empty() && runtimeFolder.front() == '/') {
        folder = privateFolder(runtimeFolder, problem);
    }
    if (folder.empty()) {
        folder = privateFolder("/tmp", problem);
    }
    if (folder.empty()) {
        return nullptr;
    }
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = directory < 0
                       ? -1
                       : ::openat(directory, scriptName,
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int openError = errno;
    bool written = fd >= 0 && writeAll(fd, text);
    const int writeError = errno;
    if (fd >= 0) {
        written = ::close(fd) == 0 && written;
    }
    if (directory >= 0) {
        ::close(directory);
    }
    const std::string path = folder + "/" + scriptName;
    if (!written) {
        *problem = "cannot write the KWin script to " + path + ": " +
                   std::strerror(fd < 0 ? openError : writeError);
        ::unlink(path.c_str());
        ::rmdir(folder.c_str());
        return nullptr;
    }
    return std::unique_ptr<KWinScriptFile>(new KWinScriptFile(folder, path));
}

KWinScriptFile::~KWinScriptFile() {
    ::unlink(path_.c_str());
    ::rmdir(folder_.c_str());
}

std::optional<std::string> kwinScriptFor(std::string_view source, const std::string& service,
                                         const std::string& key, const std::string& plugin) {
    if (!plain(service) || !plain(key) || !plain(plugin)) {
        return std::nullopt;
    }
    std::string text(source);
    const std::pair<std::string_view, const std::string*> marks[] = {
        {"@ORVANE_SERVICE@", &service}, {"@ORVANE_KEY@", &key}, {"@ORVANE_PLUGIN@", &plugin}};
    for (const auto& [mark, value] : marks) {
        const auto at = text.find(mark);
        if (at == std::string::npos) {
            return std::nullopt;
        }
        text.replace(at, mark.size(), *value);
    }
    return text;
}

std::optional<std::string> randomKey() {
    unsigned char bytes[32];
    std::size_t got = 0;
    int urandom = -1;
    while (got < sizeof bytes) {
        ssize_t n = urandom < 0 ? ::getrandom(bytes + got, sizeof bytes - got, 0)
                                : ::read(urandom, bytes + got, sizeof bytes - got);
        if (n < 0 && errno == ENOSYS && urandom < 0) {
            // A kernel older than getrandom: its device gives the same.
            urandom = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            if (urandom < 0) {
                return std::nullopt;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (urandom >= 0) {
        ::close(urandom);
    }
    if (got < sizeof bytes) {
        return std::nullopt;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string key;
    for (const unsigned char byte : bytes) {
        key += digits[byte >> 4];
        key += digits[byte & 0xf];
    }
    return key;
}

bool sameKey(std::string_view given, std::string_view key) {
    if (given.size() != key.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < key.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ key[i]);
    }
    return difference == 0;
}

} // namespace orvane::linuxbackend
