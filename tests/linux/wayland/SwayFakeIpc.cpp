#include "SwayFakeIpc.hpp"

#include "backends/linux/wayland/sway/SwayIpc.hpp"

#include <cstring>
#include <utility>

namespace orvane::linuxbackend::test {

SwayFakeIpc::SwayFakeIpc(std::filesystem::path socket)
    : path_(std::move(socket)),
      server_({path_}, [this](FakeSocketServer::Client& client) { handle(client); }) {}

void SwayFakeIpc::answer(std::uint32_t type, std::string payload) {
    std::lock_guard lock(server_.mutex());
    answers_[type] = std::move(payload);
}

void SwayFakeIpc::setSilent(bool silent) {
    std::lock_guard lock(server_.mutex());
    silent_ = silent;
}

void SwayFakeIpc::answerNextWithBytes(std::string bytes) {
    std::lock_guard lock(server_.mutex());
    rawBytes_ = std::move(bytes);
}

void SwayFakeIpc::sendEvent(std::uint32_t type, const std::string& payload) {
    std::lock_guard lock(server_.mutex());
    const auto frame = SwayIpc::encode(type, payload);
    for (auto& client : server_.clients()) {
        if (client.subscribed) {
            FakeSocketServer::sendAll(client.fd, frame);
        }
    }
}

std::vector<std::string> SwayFakeIpc::commands() const {
    std::lock_guard lock(server_.mutex());
    return commands_;
}

void SwayFakeIpc::handle(FakeSocketServer::Client& client) {
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
        FakeSocketServer::sendAll(client.fd, reply);
    }
}

} // namespace orvane::linuxbackend::test
