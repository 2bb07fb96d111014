#include "HyprlandFakeSockets.hpp"

#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend::test {
namespace {

int listenOn(const std::filesystem::path& path) {
    std::filesystem::remove(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::listen(fd, 16);
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

std::string hyprlandTranscript(const std::string& name) {
    std::ifstream in(std::string(ORVANE_HYPRLAND_TRANSCRIPTS) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    std::size_t start = 0;
    while (start < all.size() && all[start] == '#') {
        const auto end = all.find('\n', start);
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return all.substr(start);
}

std::vector<std::string> hyprlandEventLines(const std::string& name) {
    std::istringstream text(hyprlandTranscript(name));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(text, line)) {
        lines.push_back(line + "\n");
    }
    return lines;
}

HyprlandFakeSockets::HyprlandFakeSockets(std::filesystem::path folder)
    : folder_(std::move(folder)) {
    std::filesystem::create_directories(folder_);
    ::chmod(folder_.c_str(), 0700);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    start();
    thread_ = std::thread([this] { serve(); });
}

HyprlandFakeSockets::~HyprlandFakeSockets() {
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

void HyprlandFakeSockets::start() {
    std::lock_guard lock(mutex_);
    requestFd_ = listenOn(folder_ / ".socket.sock");
    eventFd_ = listenOn(folder_ / ".socket2.sock");
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void HyprlandFakeSockets::hangUp() {
    std::lock_guard lock(mutex_);
    for (auto& client : clients_) {
        ::close(client.fd);
    }
    clients_.clear();
    for (int* fd : {&requestFd_, &eventFd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    std::filesystem::remove(folder_ / ".socket.sock");
    std::filesystem::remove(folder_ / ".socket2.sock");
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void HyprlandFakeSockets::answer(const std::string& request, std::string reply) {
    std::lock_guard lock(mutex_);
    answers_[request] = std::move(reply);
}

void HyprlandFakeSockets::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void HyprlandFakeSockets::setLuaConfig(bool lua) {
    std::lock_guard lock(mutex_);
    lua_ = lua;
}

void HyprlandFakeSockets::setFollowDispatches(bool follow) {
    std::lock_guard lock(mutex_);
    follow_ = follow;
}

void HyprlandFakeSockets::sendEvents(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    for (auto& client : clients_) {
        if (client.events) {
            sendAll(client.fd, bytes);
        }
    }
}

std::size_t HyprlandFakeSockets::listeners() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& client : clients_) {
        count += client.events ? 1 : 0;
    }
    return count;
}

std::vector<std::string> HyprlandFakeSockets::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HyprlandFakeSockets::serve() {
    for (;;) {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            fds.push_back({wakeFd_, POLLIN, 0});
            fds.push_back({requestFd_, POLLIN, 0});
            fds.push_back({eventFd_, POLLIN, 0});
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
        for (int i : {1, 2}) {
            const int listening = i == 1 ? requestFd_ : eventFd_;
            if (listening >= 0 && fds[i].fd == listening && (fds[i].revents & POLLIN)) {
                const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    clients_.push_back({fd, i == 2, {}});
                }
            }
        }
        for (std::size_t i = 3; i < fds.size(); ++i) {
            for (auto client = clients_.begin(); client != clients_.end(); ++client) {
                if (client->fd != fds[i].fd || !(fds[i].revents & (POLLIN | POLLHUP))) {
                    continue;
                }
                char chunk[4096];
                const ssize_t n = ::recv(client->fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    ::close(client->fd);
                    clients_.erase(client);
                } else if (!client->events) {
                    client->buffer.append(chunk, static_cast<std::size_t>(n));
                    handle(*client);
                    if (client->fd < 0) {
                        clients_.erase(client);
                    }
                }
                break;
            }
        }
    }
}

void HyprlandFakeSockets::dispatch(const std::string& what, std::string& reply) {
    // A Lua config reads a dispatch as Lua; a classic one as a dispatcher and its argument.
    const bool lua = what.rfind("hl.", 0) == 0;
    if (lua != lua_) {
        reply = lua_ ? "[string \"" + what + "\"]:1: syntax error" : "Invalid dispatcher";
        return;
    }
    reply = "ok";
    if (!follow_) {
        return;
    }
    const std::string focus = lua ? "hl.dsp.focus({ window = \"address:" : "focuswindow address:";
    const std::string move = "movecursor ";
    if (what.rfind(focus, 0) == 0) {
        const auto address =
            what.substr(focus.size(), what.find_first_of("\" ", focus.size()) - focus.size());
        answers_["j/activewindow"] = R"({"address":")" + address + R"(","title":"x"})";
    } else if (!lua && what.rfind(move, 0) == 0) {
        std::istringstream at(what.substr(move.size()));
        int x = 0;
        int y = 0;
        at >> x >> y;
        answers_["j/cursorpos"] =
            R"({"x":)" + std::to_string(x) + R"(,"y":)" + std::to_string(y) + "}";
    }
}

void HyprlandFakeSockets::handle(Client& client) {
    // A request is what one write brings, as Hyprland reads it.
    const std::string request = std::exchange(client.buffer, {});
    requests_.push_back(request);
    if (silent_) {
        return;
    }
    std::string reply;
    if (const auto found = answers_.find(request); found != answers_.end()) {
        reply = found->second;
    } else if (request.rfind("dispatch ", 0) == 0) {
        dispatch(request.substr(9), reply);
    } else {
        reply = "unknown request";
    }
    sendAll(client.fd, reply);
    ::close(client.fd);
    client.fd = -1;
}

} // namespace orvane::linuxbackend::test
