#include "backends/linux/wayland/sway/SwayIpc.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};

std::uint32_t readWord(const char* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

} // namespace

void SwayIpc::FrameReader::feed(const char* data, std::size_t size) {
    if (!broken()) {
        buffer_.append(data, size);
    }
}

std::optional<SwayIpc::Message> SwayIpc::FrameReader::next() {
    if (broken() || buffer_.size() - start_ < headerSize) {
        return std::nullopt;
    }
    const char* header = buffer_.data() + start_;
    const std::uint32_t length = readWord(header + sizeof magic);
    if (std::memcmp(header, magic, sizeof magic) != 0) {
        problem_ = "a message not framed as sway's";
    } else if (length > maximumPayload) {
        problem_ = "a message of " + std::to_string(length) + " bytes, over " +
                   std::to_string(maximumPayload);
    }
    if (broken()) {
        buffer_.clear();
        buffer_.shrink_to_fit();
        start_ = 0;
        return std::nullopt;
    }
    if (buffer_.size() - start_ < headerSize + length) {
        buffer_.reserve(start_ + headerSize + length); // grown once, not doubled past it
        return std::nullopt;
    }
    Message message{readWord(header + sizeof magic + 4),
                    buffer_.substr(start_ + headerSize, length)};
    start_ += headerSize + length;
    // Compacted now and then rather than on every message: a burst of events is one buffer.
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > (1u << 16)) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    return message;
}

std::string SwayIpc::encode(std::uint32_t type, std::string_view payload) {
    std::string frame(magic, sizeof magic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(reinterpret_cast<const char*>(&type), sizeof type);
    frame.append(payload);
    return frame;
}

std::unique_ptr<SwayIpc> SwayIpc::connect(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return nullptr;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SwayIpc>(fd);
}

SwayIpc::SwayIpc(int fd) : fd_(fd) {
    if (fd_ >= 0) {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
}

SwayIpc::~SwayIpc() {
    close();
}

void SwayIpc::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SwayIpc::send(std::uint32_t type, std::string_view payload) {
    if (fd_ < 0 || payload.size() > maximumPayload) {
        return false;
    }
    const std::string frame = encode(type, payload);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // sway reads requests promptly; a socket that stays full for a second is stuck.
            pollfd writable{fd_, POLLOUT, 0};
            if (::poll(&writable, 1, 1000) <= 0) {
                close();
                return false;
            }
        } else {
            close();
            return false;
        }
    }
    return true;
}

std::optional<SwayIpc::Message> SwayIpc::receive(std::chrono::milliseconds timeout, int wakeFd) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto message = reader_.next()) {
            return message;
        }
        if (reader_.broken()) {
            close();
        }
        if (fd_ < 0) {
            return std::nullopt;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) {
            return std::nullopt;
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 || (wakeFd >= 0 && (fds[1].revents & POLLIN))) {
            return std::nullopt;
        }
        if (r == 0) {
            continue; // the deadline is looked at above
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

std::optional<std::string> SwayIpc::request(std::uint32_t type, std::string_view payload,
                                            std::chrono::milliseconds timeout) {
    if (!send(type, payload)) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto message = receive(std::max(left, std::chrono::milliseconds(0)));
        if (!message) {
            // A reply that came too late would be taken for the next request's: start afresh.
            close();
            return std::nullopt;
        }
        if (message->type == type) {
            return std::move(message->payload);
        }
    }
}

} // namespace orvane::linuxbackend
