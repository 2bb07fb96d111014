#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class BusLoop;

enum class BusKind { session, system };

// Opens a connection of this process's own to the session or system bus. It is closed by its
// owner without a flush at exit, so that a stuck bus cannot hold up the stop. A negative
// errno when there is none.
int openBus(BusKind kind, sd_bus** bus);

// An error's name and message, for the log; "no answer" when there is none.
std::string errorText(const sd_bus_error* error);

// The owner of a well-known name, as the bus tells it; empty strings: none.
struct NameOwner {
    std::string name;
    std::string before;
    std::string after;
    bool first = false; // the answer to the first question, not a change
};

// One connection on a worker's loop. A connection that drops is not opened again: `lost` is
// told once, and the client says what it no longer watches.
class BusConnection {
public:
    using Handler = std::function<void(sd_bus_message*)>;

    BusConnection(BusLoop& loop, BusKind kind, std::function<void()> lost);
    // Closes the connection; calls in flight and matches go with it, never called back.
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Whether it opened, and why not (a negative errno).
    bool opened() const { return bus_ != nullptr; }
    int openError() const { return openError_; }
    bool isOpen() const;
    sd_bus* bus() const { return bus_; }
    // "session" or "system".
    const char* label() const;
    // Flushed before it closes, so that what was sent last (an unload) still goes.
    void flushOnClose() { flush_ = true; }

    // Waits at most `timeout` for the answer to `call` (taken over): the reply (to unref), or
    // null when the peer refused, did not answer in time, or the bus is gone.
    sd_bus_message* call(sd_bus_message* call, std::uint64_t timeoutMicroseconds,
                         sd_bus_error* error = nullptr);
    // The same for a method with `types` and its arguments as sd-bus appends them.
    sd_bus_message* callMethod(const char* service, const char* path, const char* interface,
                               const char* member, std::uint64_t timeoutMicroseconds,
                               const char* types = nullptr, ...);
    // A method call to fill in; null without a bus.
    sd_bus_message* newCall(const char* service, const char* path, const char* interface,
                            const char* member);

    // Sends `call` (taken over) and has `reply` told its answer, or the error of its timeout,
    // on the loop. With `slot`, the caller holds the call and drops it by unref'ing the slot;
    // without, it lives as long as the answer is awaited. False when it was not sent.
    bool callAsync(sd_bus_message* call, std::uint64_t timeoutMicroseconds, Handler reply,
                   sd_bus_slot** slot = nullptr);
    // org.freedesktop.DBus.Properties.Get, asynchronously.
    bool getProperty(const char* service, const char* path, const char* interface,
                     const char* property, std::uint64_t timeoutMicroseconds, Handler reply,
                     sd_bus_slot** slot = nullptr);

    // Hears the signals `rule` matches. With `installed`, the bus's answer to the match is
    // told (a refusal logged first) and the match stays for the connection's life; without,
    // a refused match closes the connection, as sd-bus does. False when it was not sent.
    bool addMatch(const std::string& rule, Handler signal, std::function<void()> installed = {});
    // A signal match held by `slot` (the caller drops it), installed before the call returns.
    bool matchSignal(sd_bus_slot** slot, const char* sender, const char* path,
                     const char* interface, const char* member, Handler signal);

    // Tells `changed` the owner of each of `names`: first what the bus answers now, in the
    // order given, then every change. The change matches are in place before the question is
    // answered, so nothing falls between.
    void followOwners(const std::vector<std::string>& names,
                      std::function<void(const NameOwner&)> changed);

private:
    static int onDisconnected(sd_bus_message* m, void* userdata, sd_bus_error* error);

    BusKind kind_;
    sd_bus* bus_ = nullptr;
    int openError_ = 0;
    bool flush_ = false;
    std::function<void()> lost_;
    struct Match {
        Handler signal;
        std::function<void()> installed;
    };
    // The matches that last as long as the connection.
    std::list<Match> lasting_;
};

} // namespace orvane::linuxbackend
