#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::linuxbackend::test {

// A stand-in for sway's IPC socket: answers each request with the text set for its type,
// keeps the commands it was sent, sends events to the connections that subscribed, and can
// hang up on everyone or stop answering. Serves on a thread of its own.
class SwayFakeIpc {
public:
    explicit SwayFakeIpc(std::filesystem::path socket);
    ~SwayFakeIpc();

    const std::filesystem::path& path() const { return path_; }

    void answer(std::uint32_t type, std::string payload);
    void setSilent(bool silent);
    // Raw bytes for the next connection that asks anything, instead of a framed reply.
    void answerNextWithBytes(std::string bytes);
    void sendEvent(std::uint32_t type, const std::string& payload);
    // Closes every connection and the socket (sway exiting); `start` opens it again.
    void hangUp();
    void start();

    std::vector<std::string> commands() const;

private:
    struct Client {
        int fd = -1;
        std::string buffer;
        bool subscribed = false;
    };

    void serve();
    void handle(Client& client);

    std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::string> answers_;
    std::vector<std::string> commands_;
    std::vector<Client> clients_;
    std::string rawBytes_;
    bool silent_ = false;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvane::linuxbackend::test
