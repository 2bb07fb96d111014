#include "backends/linux/atspi/AtspiBusStatus.hpp"

#include <dbus/dbus.h>

namespace orvane::linuxbackend {
namespace {

constexpr int timeoutMilliseconds = 300;
// Answering the address may mean starting the bus first.
constexpr int addressTimeoutMilliseconds = 1000;
constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";
constexpr const char* busInterface = "org.a11y.Bus";
constexpr const char* statusInterface = "org.a11y.Status";
constexpr const char* enabledProperty = "IsEnabled";
constexpr const char* screenReaderProperty = "ScreenReaderEnabled";

// Sends `message` (taken) and waits for its answer: the reply, or null on an error or timeout.
DBusMessage* call(DBusConnection* bus, DBusMessage* message, int timeout = timeoutMilliseconds) {
    if (!message) {
        return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, message, timeout, &error);
    dbus_message_unref(message);
    dbus_error_free(&error);
    return reply;
}

} // namespace

AtspiBusStatus::~AtspiBusStatus() {
    if (connection_) {
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
    }
}

DBusConnection* AtspiBusStatus::connection() {
    if (connection_ && !dbus_connection_get_is_connected(connection_)) {
        dbus_connection_unref(connection_);
        connection_ = nullptr;
    }
    if (!connection_) {
        DBusError error;
        dbus_error_init(&error);
        // Private: libdbus's shared connection would end the process when the bus goes away.
        connection_ = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
        dbus_error_free(&error);
        if (connection_) {
            dbus_connection_set_exit_on_disconnect(connection_, FALSE);
        }
    }
    return connection_;
}

bool AtspiBusStatus::isEnabled() {
    return readSwitch(enabledProperty);
}

bool AtspiBusStatus::isScreenReaderEnabled() {
    return readSwitch(screenReaderProperty);
}

bool AtspiBusStatus::readSwitch(const char* name) {
    std::lock_guard lock(mutex_);
    DBusConnection* bus = connection();
    if (!bus) {
        return false;
    }
    DBusMessage* message =
        dbus_message_new_method_call(busName, busPath, DBUS_INTERFACE_PROPERTIES, "Get");
    if (message) {
        const char* interface = statusInterface;
        const char* property = name;
        dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                 DBUS_TYPE_INVALID);
    }
    DBusMessage* reply = call(bus, message);
    if (!reply) {
        return false;
    }
    bool enabled = false;
    DBusMessageIter iter, variant;
    if (dbus_message_iter_init(reply, &iter) &&
        dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
        dbus_message_iter_recurse(&iter, &variant);
        if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_BOOLEAN) {
            dbus_bool_t value = FALSE;
            dbus_message_iter_get_basic(&variant, &value);
            enabled = value;
        }
    }
    dbus_message_unref(reply);
    return enabled;
}

bool AtspiBusStatus::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    DBusConnection* bus = connection();
    if (!bus) {
        return false;
    }
    DBusMessage* message =
        dbus_message_new_method_call(busName, busPath, DBUS_INTERFACE_PROPERTIES, "Set");
    if (message) {
        DBusMessageIter iter, variant;
        dbus_message_iter_init_append(message, &iter);
        const char* interface = statusInterface;
        const char* property = enabledProperty;
        dbus_bool_t value = enabled ? TRUE : FALSE;
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
        dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING,
                                         &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &value);
        dbus_message_iter_close_container(&iter, &variant);
    }
    DBusMessage* reply = call(bus, message);
    if (!reply) {
        return false;
    }
    dbus_message_unref(reply);
    return true;
}

std::string AtspiBusStatus::address() {
    std::lock_guard lock(mutex_);
    DBusConnection* bus = connection();
    if (!bus) {
        return {};
    }
    DBusMessage* reply =
        call(bus, dbus_message_new_method_call(busName, busPath, busInterface, "GetAddress"),
             addressTimeoutMilliseconds);
    if (!reply) {
        return {};
    }
    const char* address = nullptr;
    std::string result;
    if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &address, DBUS_TYPE_INVALID) &&
        address) {
        result = address;
    }
    dbus_message_unref(reply);
    return result;
}

} // namespace orvane::linuxbackend
