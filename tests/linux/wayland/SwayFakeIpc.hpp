#pragma once

#include "FakeSocketServer.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orvane::linuxbackend::test {

// A stand-in for sway's IPC socket: answers each request with the text set for its type,
// keeps the commands it was sent, sends events to the connections that subscribed, and can
// hang up on everyone or stop answering. Serves on a thread of its own.
class SwayFakeIpc {
public:
    explicit SwayFakeIpc(std::filesystem::path socket);

    const std::filesystem::path& path() const { return path_; }

    void answer(std::uint32_t type, std::string payload);
    void setSilent(bool silent);
    // Raw bytes for the next connection that asks anything, instead of a framed reply.
    void answerNextWithBytes(std::string bytes);
    void sendEvent(std::uint32_t type, const std::string& payload);
    // Closes every connection and the socket (sway exiting); `start` opens it again.
    void hangUp() { server_.hangUp(); }
    void start() { server_.start(); }

    std::vector<std::string> commands() const;

private:
    void handle(FakeSocketServer::Client& client);

    std::filesystem::path path_;
    // Under server_.mutex():
    std::map<std::uint32_t, std::string> answers_;
    std::vector<std::string> commands_;
    std::string rawBytes_;
    bool silent_ = false;
    FakeSocketServer server_; // last: serves until the rest goes
};

} // namespace orvane::linuxbackend::test
