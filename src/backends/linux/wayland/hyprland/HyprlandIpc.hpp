#pragma once

#include "backends/linux/SessionChoice.hpp"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// Hyprland's two sockets in its instance's folder: `.socket.sock` takes one request a
// connection ("j/clients") and answers until it closes; `.socket2.sock` sends every event as a
// line "EVENT>>DATA". Both are trusted only when they are sockets of the user's own, in a
// folder of the user's own, answered by a process of the user's own. Every read is bounded in
// size and time; writes never raise SIGPIPE.
class HyprlandIpc {
public:
    // Two thousand clients are under 2 MB of JSON; a reply longer than this is not Hyprland's.
    static constexpr std::size_t maximumReply = 8u << 20;
    // A title is the longest thing an event carries.
    static constexpr std::size_t maximumEventLine = 64u << 10;
    static constexpr const char* requestSocket = ".socket.sock";
    static constexpr const char* eventSocket = ".socket2.sock";

    // The folders an instance of HYPRLAND_INSTANCE_SIGNATURE may have its sockets in, the
    // runtime folder's first (older releases used /tmp/hypr). Empty without a signature, or
    // with one that is not a plain file name.
    static std::vector<std::string> instanceFolders(const EnvironmentLookup& environment);

    // Whether `path` is a socket owned by `user` in a folder owned by `user` that no one else
    // may write to; with why not in `problem`. Symbolic links are not followed.
    static bool trusted(const std::string& path, uid_t user, std::string* problem = nullptr);

    // One request on a connection of its own, the reply read until Hyprland closes it; nullopt
    // when the socket is not trusted, nothing answers within `timeout`, or the reply is longer
    // than `maximumReply` (with why in `problem`).
    static std::optional<std::string> request(const std::string& socket, std::string_view text,
                                              std::chrono::milliseconds timeout,
                                              std::string* problem = nullptr);

    // Splits the event stream into lines. A line longer than `maximumEventLine` is dropped
    // whole, up to its end; the lines after it are kept.
    class LineReader {
    public:
        void feed(const char* data, std::size_t size);
        std::optional<std::string> next();
        std::size_t droppedLines() const { return dropped_; }

    private:
        std::string buffer_;
        std::size_t start_ = 0;
        bool skipping_ = false;
        std::size_t dropped_ = 0;
    };

    // The event socket, connected when trusted; null otherwise.
    static std::unique_ptr<HyprlandIpc> listen(const std::string& socket,
                                               std::string* problem = nullptr);
    explicit HyprlandIpc(int fd);
    ~HyprlandIpc();
    HyprlandIpc(const HyprlandIpc&) = delete;
    HyprlandIpc& operator=(const HyprlandIpc&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    std::size_t droppedLines() const { return reader_.droppedLines(); }

    // The next event line, waiting at most `timeout`; nullopt on timeout, when `wakeFd` (if
    // not -1) becomes readable, or when the socket closed (then `isOpen` is false).
    std::optional<std::string> receive(std::chrono::milliseconds timeout, int wakeFd = -1);

private:
    void close();

    int fd_ = -1;
    LineReader reader_;
};

} // namespace orvane::linuxbackend
