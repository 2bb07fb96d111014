#include "FakeSocketServer.hpp"

#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::linuxbackend::test {

FakeSocketServer::FakeSocketServer(std::vector<std::filesystem::path> paths, Received received)
    : paths_(std::move(paths)), received_(std::move(received)), listening_(paths_.size(), -1) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    start();
    thread_ = std::thread([this] { serve(); });
}

FakeSocketServer::~FakeSocketServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    hangUp();
    ::close(wakeFd_);
}

void FakeSocketServer::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void FakeSocketServer::start() {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        std::filesystem::remove(paths_[i]);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, paths_[i].c_str(), sizeof address.sun_path - 1);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(fd, 16);
        listening_[i] = fd;
    }
    wake();
}

void FakeSocketServer::hangUp() {
    std::lock_guard lock(mutex_);
    for (auto& client : clients_) {
        ::close(client.fd);
    }
    clients_.clear();
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        if (listening_[i] >= 0) {
            ::close(listening_[i]);
            listening_[i] = -1;
            std::filesystem::remove(paths_[i]);
        }
    }
    wake();
}

void FakeSocketServer::sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void FakeSocketServer::serve() {
    for (;;) {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            fds.push_back({wakeFd_, POLLIN, 0});
            for (const int fd : listening_) {
                fds.push_back({fd, POLLIN, 0});
            }
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
        for (std::size_t i = 0; i < listening_.size(); ++i) {
            const auto& polled = fds[1 + i];
            if (listening_[i] >= 0 && polled.fd == listening_[i] && (polled.revents & POLLIN)) {
                const int fd = ::accept4(listening_[i], nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    clients_.push_back({fd, i, {}, false});
                }
            }
        }
        for (std::size_t i = 1 + listening_.size(); i < fds.size(); ++i) {
            for (auto client = clients_.begin(); client != clients_.end(); ++client) {
                if (client->fd != fds[i].fd || !(fds[i].revents & (POLLIN | POLLHUP))) {
                    continue;
                }
                char chunk[4096];
                const ssize_t n = ::recv(client->fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    ::close(client->fd);
                    client->fd = -1;
                } else {
                    client->buffer.append(chunk, static_cast<std::size_t>(n));
                    received_(*client);
                }
                if (client->fd < 0) {
                    clients_.erase(client);
                }
                break;
            }
        }
    }
}

} // namespace orvane::linuxbackend::test
