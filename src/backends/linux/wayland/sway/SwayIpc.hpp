#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::linuxbackend {

// One connection to the i3/sway IPC socket. Each message is framed as "i3-ipc", a 32-bit
// payload length and a 32-bit type (host byte order), then the payload (JSON). Events share
// the socket with replies and have the type's high bit set. Writes never raise SIGPIPE; reads
// are bounded by a timeout. Used by one thread at a time.
class SwayIpc {
public:
    static constexpr std::uint32_t runCommand = 0;
    static constexpr std::uint32_t subscribe = 2;
    static constexpr std::uint32_t getOutputs = 3;
    static constexpr std::uint32_t getTree = 4;
    static constexpr std::uint32_t getVersion = 7;
    static constexpr std::uint32_t getConfig = 9;
    static constexpr std::uint32_t getSeats = 101;

    static constexpr std::uint32_t eventBit = 0x80000000u;
    static constexpr std::uint32_t workspaceEvent = eventBit | 0;
    static constexpr std::uint32_t outputEvent = eventBit | 1;
    static constexpr std::uint32_t windowEvent = eventBit | 3;
    static constexpr std::uint32_t bindingEvent = eventBit | 5;
    static constexpr std::uint32_t shutdownEvent = eventBit | 6;

    // A tree of a couple of thousand windows is a few megabytes; a length beyond this is not
    // sway, and is refused before any of it is read.
    static constexpr std::size_t maximumPayload = 16u << 20;
    static constexpr std::size_t headerSize = 14;

    struct Message {
        std::uint32_t type = 0;
        std::string payload;
    };

    // Splits a byte stream into messages. A header that is not "i3-ipc" or announces more
    // than `maximumPayload` breaks the stream for good: nothing after it can be trusted.
    class FrameReader {
    public:
        void feed(const char* data, std::size_t size);
        // The next whole message; nullopt while more bytes are needed or once broken.
        std::optional<Message> next();
        bool broken() const { return !problem_.empty(); }
        // Why the stream broke; empty while it has not.
        const std::string& problem() const { return problem_; }

    private:
        std::string buffer_;
        std::size_t start_ = 0;
        std::string problem_;
    };

    static std::string encode(std::uint32_t type, std::string_view payload);

    // Null when nothing answers at `path`.
    static std::unique_ptr<SwayIpc> connect(const std::string& path);
    // Over a descriptor already connected (taken over), for tests.
    explicit SwayIpc(int fd);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Why the connection was closed for what came on it (not sway's framing, a frame too
    // long); empty when it was not.
    const std::string& problem() const { return reader_.problem(); }

    bool send(std::uint32_t type, std::string_view payload);

    // The next message, waiting at most `timeout`; nullopt on timeout, when `wakeFd` (if not
    // -1) becomes readable, or when the connection closed or broke (then `isOpen` is false).
    std::optional<Message> receive(std::chrono::milliseconds timeout, int wakeFd = -1);

    // Sends a request and waits at most `timeout` for its reply; events that come meanwhile
    // are dropped (a connection that asks is not subscribed).
    std::optional<std::string> request(std::uint32_t type, std::string_view payload,
                                       std::chrono::milliseconds timeout);

private:
    void close();

    int fd_ = -1;
    FrameReader reader_;
};

} // namespace orvane::linuxbackend
