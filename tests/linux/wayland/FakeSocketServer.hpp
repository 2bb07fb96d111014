#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::linuxbackend::test {

// What the fakes of the compositors' IPC sockets share: listens on Unix sockets at `paths`,
// reads what each connection sends and hands it on, on a thread of its own. The fake keeps its
// state under `mutex()`, which every call of `received` holds.
class FakeSocketServer {
public:
    struct Client {
        int fd = -1;
        std::size_t socket = 0; // which of the paths it connected to
        std::string buffer;     // what it sent and was not taken yet
        bool subscribed = false;
    };
    // Called for each arrival; setting `client.fd` to -1 after closing it drops the client.
    using Received = std::function<void(Client& client)>;

    FakeSocketServer(std::vector<std::filesystem::path> paths, Received received);
    ~FakeSocketServer();
    FakeSocketServer(const FakeSocketServer&) = delete;
    FakeSocketServer& operator=(const FakeSocketServer&) = delete;

    // Listens again after `hangUp`.
    void start();
    // Closes every connection and the sockets (the compositor exiting).
    void hangUp();

    std::mutex& mutex() const { return mutex_; }
    // Under `mutex()`.
    std::vector<Client>& clients() { return clients_; }
    const std::vector<Client>& clients() const { return clients_; }

    static void sendAll(int fd, const std::string& bytes);

private:
    void serve();
    void wake();

    const std::vector<std::filesystem::path> paths_;
    const Received received_;
    mutable std::mutex mutex_;
    std::vector<int> listening_; // under mutex_, one a path; -1 while hung up
    std::vector<Client> clients_;
    int wakeFd_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvane::linuxbackend::test
