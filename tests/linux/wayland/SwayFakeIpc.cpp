#include "SwayFakeIpc.hpp"

#include "backends/linux/wayland/sway/SwayIpc.hpp"

#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend::test {

SwayFakeIpc::SwayFakeIpc(std::filesystem::path socket) : path_(std::move(socket)) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    start();
    thread_ = std::thread([this] { serve(); });
}

SwayFakeIpc::~SwayFakeIpc() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    hangUp();
    ::close(wakeFd_);
}

void SwayFakeIpc::start() {
    std::lock_guard lock(mutex_);
    std::filesystem::remove(path_);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::listen(listenFd_, 8);
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void SwayFakeIpc::hangUp() {
    std::lock_guard lock(mutex_);
    for (auto& client : clients_) {
        ::close(client.fd);
    }
    clients_.clear();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        std::filesystem::remove(path_);
    }
}

void SwayFakeIpc::answer(std::uint32_t type, std::string payload) {
    std::lock_guard lock(mutex_);
    answers_[type] = std::move(payload);
}

void SwayFakeIpc::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void SwayFakeIpc::answerNextWithBytes(std::string bytes) {
    std::lock_guard lock(mutex_);
    rawBytes_ = std::move(bytes);
}

void SwayFakeIpc::sendEvent(std::uint32_t type, const std::string& payload) {
    std::lock_guard lock(mutex_);
    const auto frame = SwayIpc::encode(type, payload);
    for (auto& client : clients_) {
        if (client.subscribed) {
            [[maybe_unused]] auto sent =
                ::send(client.fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        }
    }
}

std::vector<std::string> SwayFakeIpc::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void SwayFakeIpc::serve() {
    for (;;) {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            fds.push_back({wakeFd_, POLLIN, 0});
            fds.push_back({listenFd_, POLLIN, 0});
            for (const auto& client : clients_) {
                fds.push_back({client.fd, POLLIN, 0});
            }
        }
        ::poll(fds.data(), fds.size(), 1000);
        std::lock_guard lock(mutex_);
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
        }
        if (listenFd_ >= 0 && fds[1].fd == listenFd_ && (fds[1].revents & POLLIN)) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients_.push_back({fd, {}, false});
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            for (auto client = clients_.begin(); client != clients_.end(); ++client) {
                if (client->fd != fds[i].fd || !(fds[i].revents & (POLLIN | POLLHUP))) {
                    continue;
                }
                char chunk[4096];
                const ssize_t n = ::recv(client->fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    ::close(client->fd);
                    clients_.erase(client);
                } else {
                    client->buffer.append(chunk, static_cast<std::size_t>(n));
                    handle(*client);
                }
                break;
            }
        }
    }
}

void SwayFakeIpc::handle(Client& client) {
    while (client.buffer.size() >= SwayIpc::headerSize) {
        std::uint32_t length = 0;
        std::uint32_t type = 0;
        std::memcpy(&length, client.buffer.data() + 6, 4);
        std::memcpy(&type, client.buffer.data() + 10, 4);
        if (client.buffer.size() < SwayIpc::headerSize + length) {
            return;
        }
        const std::string payload = client.buffer.substr(SwayIpc::headerSize, length);
        client.buffer.erase(0, SwayIpc::headerSize + length);
        if (type == SwayIpc::runCommand) {
            commands_.push_back(payload);
        }
        if (type == SwayIpc::subscribe) {
            client.subscribed = true;
        }
        if (silent_) {
            continue;
        }
        std::string reply;
        if (!rawBytes_.empty()) {
            reply = std::exchange(rawBytes_, {});
        } else {
            const auto found = answers_.find(type);
            const char* success =
                type == SwayIpc::runCommand ? R"([{"success":true}])" : R"({"success":true})";
            reply = SwayIpc::encode(type, found != answers_.end() ? found->second : success);
        }
        [[maybe_unused]] auto sent = ::send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
}

} // namespace orvane::linuxbackend::test
