#include "backends/linux/wayland/hyprland/HyprlandIpc.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using Clock = std::chrono::steady_clock;

void say(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
}

std::chrono::milliseconds left(Clock::time_point deadline) {
    const auto rest =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return rest.count() > 0 ? rest : std::chrono::milliseconds(0);
}

// A connected, non-blocking descriptor on `path` once it is trusted and the process behind it
// is the user's; -1 otherwise.
int connectTrusted(const std::string& path, std::string* problem) {
    const uid_t user = ::getuid();
    if (!HyprlandIpc::trusted(path, user, problem)) {
        return -1;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        say(problem, "the socket's path is too long");
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        say(problem, std::strerror(errno));
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        say(problem, std::string("nothing answers on ") + path);
        ::close(fd);
        return -1;
    }
    // Checked again on the connection itself: the path may have been swapped since.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != user) {
        say(problem, path + " is answered by another user's process");
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Waits for `events` on `fd` (and readability of `wakeFd`) until `deadline`: 1 when `fd` is
// ready, 0 on timeout or wake-up, -1 on error.
int waitFor(int fd, short events, Clock::time_point deadline, int wakeFd = -1) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(left(deadline).count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0 || (wakeFd >= 0 && (fds[1].revents & POLLIN))) {
            return 0;
        }
        return 1;
    }
}

bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.size() < 128;
}

} // namespace

std::vector<std::string> HyprlandIpc::instanceFolders(const EnvironmentLookup& environment) {
    const char* signature = environment("HYPRLAND_INSTANCE_SIGNATURE");
    if (!signature || !plainName(signature)) {
        return {};
    }
    std::vector<std::string> folders;
    if (const char* runtime = environment("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        folders.push_back(std::string(runtime) + "/hypr/" + signature);
    }
    folders.push_back(std::string("/tmp/hypr/") + signature);
    return folders;
}

bool HyprlandIpc::trusted(const std::string& path, uid_t user, std::string* problem) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        say(problem, path + " is not in a folder of its own");
        return false;
    }
    struct stat folder {};
    if (::lstat(path.substr(0, slash).c_str(), &folder) != 0) {
        say(problem, path.substr(0, slash) + " does not exist");
        return false;
    }
    if (!S_ISDIR(folder.st_mode) || folder.st_uid != user ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        say(problem, path.substr(0, slash) + " is not a folder of yours alone");
        return false;
    }
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        say(problem, path + " does not exist");
        return false;
    }
    if (!S_ISSOCK(entry.st_mode) || entry.st_uid != user) {
        say(problem, path + " is not a socket of yours");
        return false;
    }
    return true;
}

std::optional<std::string> HyprlandIpc::request(const std::string& socket, std::string_view text,
                                                std::chrono::milliseconds timeout,
                                                std::string* problem) {
    const auto deadline = Clock::now() + timeout;
    const int fd = connectTrusted(socket, problem);
    if (fd < 0) {
        return std::nullopt;
    }
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
                   waitFor(fd, POLLOUT, deadline) > 0) {
            continue;
        } else {
            say(problem, "Hyprland did not take the request");
            ::close(fd);
            return std::nullopt;
        }
    }
    std::string reply;
    for (;;) {
        const int ready = waitFor(fd, POLLIN, deadline);
        if (ready <= 0) {
            say(problem, "Hyprland did not answer in time");
            break;
        }
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            ::close(fd);
            return reply;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            say(problem, "Hyprland's answer broke off");
            break;
        }
        if (reply.size() + static_cast<std::size_t>(n) > maximumReply) {
            say(problem, "an answer of more than " + std::to_string(maximumReply) + " bytes");
            break;
        }
        reply.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return std::nullopt;
}

void HyprlandIpc::LineReader::feed(const char* data, std::size_t size) {
    buffer_.append(data, size);
}

std::optional<std::string> HyprlandIpc::LineReader::next() {
    for (;;) {
        const auto end = buffer_.find('\n', start_);
        if (end == std::string::npos) {
            if (buffer_.size() - start_ > maximumEventLine) {
                // Past the bound without an end: dropped up to the end that comes.
                if (!skipping_) {
                    ++dropped_;
                }
                skipping_ = true;
                buffer_.clear();
                start_ = 0;
            }
            if (start_ > 0) {
                buffer_.erase(0, start_);
                start_ = 0;
            }
            return std::nullopt;
        }
        std::string line = buffer_.substr(start_, end - start_);
        start_ = end + 1;
        if (skipping_) {
            skipping_ = false;
            continue;
        }
        if (line.size() > maximumEventLine) {
            ++dropped_;
            continue;
        }
        return line;
    }
}

std::unique_ptr<HyprlandIpc> HyprlandIpc::listen(const std::string& socket, std::string* problem) {
    const int fd = connectTrusted(socket, problem);
    return fd < 0 ? nullptr : std::make_unique<HyprlandIpc>(fd);
}

HyprlandIpc::HyprlandIpc(int fd) : fd_(fd) {}

HyprlandIpc::~HyprlandIpc() {
    close();
}

void HyprlandIpc::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<std::string> HyprlandIpc::receive(std::chrono::milliseconds timeout, int wakeFd) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto line = reader_.next()) {
            return line;
        }
        if (fd_ < 0) {
            return std::nullopt;
        }
        const int ready = waitFor(fd_, POLLIN, deadline, wakeFd);
        if (ready == 0) {
            return std::nullopt;
        }
        if (ready < 0) {
            close();
            return std::nullopt;
        }
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            reader_.feed(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            close();
        }
    }
}

} // namespace orvane::linuxbackend
