#include "backends/linux/dbus/BusConnection.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusLoop.hpp"

#include <systemd/sd-bus.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <utility>

namespace orvane::linuxbackend {
namespace {

using Handler = BusConnection::Handler;

// An answer is told once; the handler is moved out first, since it may drop its own slot.
int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* box = static_cast<Handler*>(userdata);
    Handler reply = std::exchange(*box, Handler{});
    if (reply) {
        reply(m);
    }
    return 0;
}

int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
    (*static_cast<Handler*>(userdata))(m);
    return 0;
}

void destroyHandler(void* userdata) {
    delete static_cast<Handler*>(userdata);
}

} // namespace

std::string errorText(const sd_bus_error* error) {
    if (error == nullptr || error->name == nullptr) {
        return "no answer";
    }
    std::string text = error->name;
    if (error->message != nullptr && *error->message != '\0') {
        text.append(": ").append(error->message);
    }
    return text;
}

int openBus(BusKind kind, sd_bus** bus) {
    *bus = nullptr;
    int r = kind == BusKind::session ? sd_bus_open_user(bus) : sd_bus_open_system(bus);
    if (r >= 0) {
        r = sd_bus_set_close_on_exit(*bus, 0);
    }
    if (r < 0) {
        *bus = sd_bus_close_unref(*bus);
    }
    return r;
}

BusConnection::BusConnection(BusLoop& loop, BusKind kind, std::function<void()> lost)
    : kind_(kind), lost_(std::move(lost)) {
    int r = openBus(kind, &bus_);
    if (r >= 0) {
        r = sd_bus_attach_event(bus_, loop.event(), 0);
    }
    if (r >= 0) {
        // Made by sd-bus itself when the connection ends; no match is sent to the bus.
        r = sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus.Local",
                                "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                                "Disconnected", &BusConnection::onDisconnected, this);
    }
    if (r < 0) {
        bus_ = sd_bus_close_unref(bus_);
        openError_ = r;
    }
}

BusConnection::~BusConnection() {
    // Floating slots and calls in flight go with the connection, never called back; their
    // handlers are freed with them.
    bus_ = flush_ ? sd_bus_flush_close_unref(bus_) : sd_bus_close_unref(bus_);
}

bool BusConnection::isOpen() const {
    return bus_ != nullptr && sd_bus_is_open(bus_) > 0;
}

const char* BusConnection::label() const {
    return kind_ == BusKind::session ? "session" : "system";
}

int BusConnection::onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto& connection = *static_cast<BusConnection*>(userdata);
    if (connection.lost_) {
        connection.lost_();
    }
    return 0;
}

sd_bus_message* BusConnection::call(sd_bus_message* call, std::uint64_t timeoutMicroseconds,
                                    sd_bus_error* error) {
    if (!call) {
        return nullptr;
    }
    sd_bus_message* reply = nullptr;
    const int r =
        sd_bus_call(sd_bus_message_get_bus(call), call, timeoutMicroseconds, error, &reply);
    sd_bus_message_unref(call);
    return r >= 0 ? reply : nullptr;
}

sd_bus_message* BusConnection::newCall(const char* service, const char* path, const char* interface,
                                       const char* member) {
    sd_bus_message* call = nullptr;
    if (!bus_ ||
        sd_bus_message_new_method_call(bus_, &call, service, path, interface, member) < 0) {
        return nullptr;
    }
    return call;
}

sd_bus_message* BusConnection::callMethod(const char* service, const char* path,
                                          const char* interface, const char* member,
                                          std::uint64_t timeoutMicroseconds, const char* types,
                                          ...) {
    sd_bus_message* message = newCall(service, path, interface, member);
    if (message && types && *types) {
        va_list arguments;
        va_start(arguments, types);
        const int r = sd_bus_message_appendv(message, types, arguments);
        va_end(arguments);
        if (r < 0) {
            sd_bus_message_unref(message);
            return nullptr;
        }
    }
    return call(message, timeoutMicroseconds);
}

bool BusConnection::callAsync(sd_bus_message* call, std::uint64_t timeoutMicroseconds,
                              Handler reply, sd_bus_slot** slot) {
    if (!call) {
        return false;
    }
    auto box = std::make_unique<Handler>(std::move(reply));
    sd_bus_slot* held = nullptr;
    const int r = sd_bus_call_async(sd_bus_message_get_bus(call), &held, call, &onReply, box.get(),
                                    timeoutMicroseconds);
    sd_bus_message_unref(call);
    if (r < 0) {
        return false;
    }
    sd_bus_slot_set_destroy_callback(held, &destroyHandler);
    box.release();
    if (slot) {
        *slot = held;
    } else {
        sd_bus_slot_set_floating(held, 1);
        sd_bus_slot_unref(held);
    }
    return true;
}

bool BusConnection::getProperty(const char* service, const char* path, const char* interface,
                                const char* property, std::uint64_t timeoutMicroseconds,
                                Handler reply, sd_bus_slot** slot) {
    sd_bus_message* message = newCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    if (message && sd_bus_message_append(message, "ss", interface, property) < 0) {
        message = sd_bus_message_unref(message);
    }
    return callAsync(message, timeoutMicroseconds, std::move(reply), slot);
}

bool BusConnection::addMatch(const std::string& rule, Handler signal,
                             std::function<void()> installed) {
    if (!bus_) {
        return false;
    }
    auto& match = lasting_.emplace_back(Match{std::move(signal), std::move(installed)});
    const auto onMatch = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
        static_cast<Match*>(userdata)->signal(m);
        return 0;
    };
    const auto onInstalled = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
        if (sd_bus_message_is_method_error(m, nullptr) &&
            sd_bus_is_open(sd_bus_message_get_bus(m)) > 0) {
            logInfo("a D-Bus match was refused (" + errorText(sd_bus_message_get_error(m)) + ")");
        }
        static_cast<Match*>(userdata)->installed();
        return 0;
    };
    const int r = sd_bus_add_match_async(bus_, nullptr, rule.c_str(), onMatch,
                                         match.installed ? +onInstalled : nullptr, &match);
    if (r < 0) {
        logInfo("cannot watch " + rule + " (" + std::strerror(-r) + ")");
        lasting_.pop_back();
        return false;
    }
    return true;
}

bool BusConnection::matchSignal(sd_bus_slot** slot, const char* sender, const char* path,
                                const char* interface, const char* member, Handler signal) {
    if (!bus_) {
        return false;
    }
    auto box = std::make_unique<Handler>(std::move(signal));
    const int r =
        sd_bus_match_signal(bus_, slot, sender, path, interface, member, &onSignal, box.get());
    if (r < 0) {
        return false;
    }
    sd_bus_slot_set_destroy_callback(*slot, &destroyHandler);
    box.release();
    return true;
}

void BusConnection::followOwners(const std::vector<std::string>& names,
                                 std::function<void(const NameOwner&)> changed) {
    auto tell = std::make_shared<std::function<void(const NameOwner&)>>(std::move(changed));
    for (const auto& name : names) {
        addMatch(
            "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
            "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                name + "'",
            [tell](sd_bus_message* m) {
                const char* name = nullptr;
                const char* before = nullptr;
                const char* after = nullptr;
                if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && name) {
                    (*tell)({name, before ? before : "", after ? after : "", false});
                }
            },
            [] {});
    }
    for (const auto& name : names) {
        sd_bus_message* question = newCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "GetNameOwner");
        if (question && sd_bus_message_append(question, "s", name.c_str()) < 0) {
            question = sd_bus_message_unref(question);
        }
        // The bus daemon answers at once; the default timeout is what sd-bus gives it.
        const bool asked = callAsync(question, 0, [tell, name](sd_bus_message* m) {
            const char* owner = nullptr;
            if (sd_bus_message_is_method_error(m, nullptr) ||
                sd_bus_message_read(m, "s", &owner) < 0) {
                owner = nullptr;
            }
            (*tell)({name, "", owner ? owner : "", true});
        });
        if (!asked) {
            (*tell)({name, "", "", true}); // unasked: taken for nobody, so set-up still ends
        }
    }
}

} // namespace orvane::linuxbackend
