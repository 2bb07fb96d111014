#include "GnomeFakeShell.hpp"

#include <cstring>
#include <future>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvane::linuxbackend::test {

BusThread::BusThread(const std::string& address) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 || sd_event_new(&event_) < 0 ||
        sd_bus_attach_event(bus_, event_, 0) < 0 ||
        sd_event_add_io(event_, nullptr, wakeFd_, EPOLLIN, &BusThread::onWake, this) < 0) {
        bus_ = sd_bus_flush_close_unref(bus_);
        return;
    }
    thread_ = std::thread([this] { sd_event_loop(event_); });
}

BusThread::~BusThread() {
    if (thread_.joinable()) {
        run([this] { sd_event_exit(event_, 0); });
        thread_.join();
    }
    bus_ = sd_bus_flush_close_unref(bus_);
    sd_event_unref(event_);
    ::close(wakeFd_);
}

int BusThread::onWake(sd_event_source*, int fd, std::uint32_t, void* self) {
    auto& thread = *static_cast<BusThread*>(self);
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(fd, &count, sizeof count);
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(thread.mutex_);
        tasks.swap(thread.tasks_);
    }
    for (auto& task : tasks) {
        task();
    }
    return 0;
}

void BusThread::run(const std::function<void()>& task) {
    if (!thread_.joinable()) {
        return;
    }
    std::promise<void> done;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back([&] {
            task();
            sd_bus_flush(bus_);
            done.set_value();
        });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    done.get_future().wait();
}

namespace {

constexpr const char* bridgePath = "/net/orvane/Bridge";
constexpr const char* bridgeInterface = "net.orvane.Bridge1";

int replyBool(sd_bus_message* m, bool value) {
    return sd_bus_reply_method_return(m, "b", int(value));
}

} // namespace

FakeBridge::FakeBridge(const std::string& address, unsigned bridgeVersion,
                       const std::function<void(FakeBridge&)>& setup, bool asShell)
    : version(bridgeVersion), thread_(address) {
    if (setup) {
        setup(*this);
    }
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Follow", "", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("GetVersion", "", "u", &FakeBridge::method, 0),
        SD_BUS_METHOD("GetState", "", "a{sv}", &FakeBridge::method, 0),
        SD_BUS_METHOD("SetOverviewActive", "b", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("GetMonitors", "", "a(iiiissb)", &FakeBridge::method, 0),
        SD_BUS_METHOD("GetWindows", "", "a(tusss(iiii)(iiii)ibb)", &FakeBridge::method, 0),
        SD_BUS_METHOD("ActivateWindow", "t", "b", &FakeBridge::method, 0),
        SD_BUS_METHOD("GetPointer", "", "iiu", &FakeBridge::method, 0),
        SD_BUS_METHOD("WarpPointer", "ii", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("WatchInput", "u", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("PostKey", "ub", "b", &FakeBridge::method, 0),
        SD_BUS_METHOD("GrabAccelerator", "s", "u", &FakeBridge::method, 0),
        SD_BUS_METHOD("UngrabAccelerator", "u", "b", &FakeBridge::method, 0),
        SD_BUS_METHOD("ShowDot", "iii", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("HideDot", "", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("SetIndicator", "aysa(ssbi)", "", &FakeBridge::method, 0),
        SD_BUS_METHOD("ClearIndicator", "", "", &FakeBridge::method, 0),
        SD_BUS_VTABLE_END,
    };
    if (!thread_.isConnected()) {
        return;
    }
    thread_.run([&] {
        ready_ = sd_bus_add_object_vtable(thread_.bus(), &slot_, bridgePath, bridgeInterface,
                                          vtable, this) >= 0 &&
                 (!asShell || sd_bus_request_name(thread_.bus(), "org.gnome.Shell", 0) >= 0) &&
                 sd_bus_request_name(thread_.bus(), "net.orvane.Bridge", 0) >= 0;
    });
}

FakeBridge::~FakeBridge() {
    thread_.run([this] { slot_ = sd_bus_slot_unref(slot_); });
}

// The state as GetState answers it, or only the entry `only` as StateChanged tells it.
void FakeBridge::appendState(sd_bus_message* m, const char* only) const {
    sd_bus_message_open_container(m, 'a', "{sv}");
    const auto wanted = [only](const char* name) {
        return !only || std::strcmp(only, name) == 0;
    };
    if (wanted("FocusWindow")) {
        sd_bus_message_append(m, "{sv}", "FocusWindow", "t", focus);
    }
    if (wanted("OverviewActive")) {
        sd_bus_message_append(m, "{sv}", "OverviewActive", "b", int(overview));
    }
    if (wanted("ShellModal")) {
        sd_bus_message_append(m, "{sv}", "ShellModal", "s", modal.c_str());
    }
    if (!only) {
        sd_bus_message_append(m, "{sv}", "ShellVersion", "s", "46.2");
    }
    sd_bus_message_close_container(m);
}

int FakeBridge::method(sd_bus_message* m, void* self, sd_bus_error*) {
    auto& fake = *static_cast<FakeBridge*>(self);
    const std::string member = sd_bus_message_get_member(m);
    if (member == "GetVersion") {
        fake.calls.push_back(member);
        return sd_bus_reply_method_return(m, "u", fake.version);
    }
    if (member == "GetState") {
        sd_bus_message* reply = nullptr;
        sd_bus_message_new_method_return(m, &reply);
        fake.appendState(reply, nullptr);
        const int r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }
    if (member == "GetMonitors" || member == "GetWindows") {
        sd_bus_message* reply = nullptr;
        sd_bus_message_new_method_return(m, &reply);
        if (member == "GetMonitors") {
            sd_bus_message_open_container(reply, 'a', "(iiiissb)");
            for (const auto& d : fake.monitors) {
                sd_bus_message_append(reply, "(iiiissb)", d.x, d.y, d.width, d.height,
                                      d.connector.c_str(), d.name.c_str(), int(d.primary));
            }
        } else {
            sd_bus_message_open_container(reply, 'a', "(tusss(iiii)(iiii)ibb)");
            for (const auto& w : fake.windows) {
                sd_bus_message_append(reply, "(tusss(iiii)(iiii)ibb)", w.id, w.pid, w.app.c_str(),
                                      w.title.c_str(), w.type.c_str(), w.frame[0], w.frame[1],
                                      w.frame[2], w.frame[3], w.buffer[0], w.buffer[1], w.buffer[2],
                                      w.buffer[3], w.monitor, int(w.above), int(w.minimized));
            }
        }
        sd_bus_message_close_container(reply);
        const int r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }
    if (member == "ActivateWindow") {
        std::uint64_t id = 0;
        sd_bus_message_read(m, "t", &id);
        fake.calls.push_back("ActivateWindow " + std::to_string(id));
        if (fake.activateAnswer) {
            fake.focus = fake.focusAfterActivate ? fake.focusAfterActivate : id;
            fake.emitProperty("FocusWindow");
        }
        return replyBool(m, fake.activateAnswer);
    }
    if (member == "GetPointer") {
        return sd_bus_reply_method_return(m, "iiu", fake.pointer[0], fake.pointer[1], 0u);
    }
    if (member == "WatchInput" || member == "UngrabAccelerator") {
        std::uint32_t value = 0;
        sd_bus_message_read(m, "u", &value);
        fake.calls.push_back(member + " " + std::to_string(value));
        return member == "WatchInput" ? sd_bus_reply_method_return(m, "") : replyBool(m, true);
    }
    if (member == "PostKey") {
        std::uint32_t keyval = 0;
        int pressed = 0;
        sd_bus_message_read(m, "ub", &keyval, &pressed);
        fake.calls.push_back("PostKey " + std::to_string(keyval) + " " + std::to_string(pressed));
        return replyBool(m, true);
    }
    if (member == "GrabAccelerator") {
        const char* accelerator = nullptr;
        sd_bus_message_read(m, "s", &accelerator);
        fake.calls.push_back(std::string("GrabAccelerator ") + accelerator);
        return sd_bus_reply_method_return(m, "u",
                                          std::strcmp(accelerator, "<Super>x") == 0 ? 0u : 7u);
    }
    if (member == "WarpPointer" || member == "ShowDot") {
        int x = 0, y = 0, d = 0;
        sd_bus_message_read(m, member == "ShowDot" ? "iii" : "ii", &x, &y, &d);
        fake.calls.push_back(member + " " + std::to_string(x) + " " + std::to_string(y));
        if (member == "WarpPointer") {
            fake.pointer[0] = x;
            fake.pointer[1] = y;
        }
        return sd_bus_reply_method_return(m, "");
    }
    if (member == "SetIndicator") {
        const void* icon = nullptr;
        std::size_t iconSize = 0;
        const char* tooltip = nullptr;
        sd_bus_message_read_array(m, 'y', &icon, &iconSize);
        sd_bus_message_read(m, "s", &tooltip);
        fake.indicatorItems.clear();
        sd_bus_message_enter_container(m, 'a', "(ssbi)");
        const char* id = nullptr;
        const char* label = nullptr;
        int enabled = 0, checked = 0;
        while (sd_bus_message_read(m, "(ssbi)", &id, &label, &enabled, &checked) > 0) {
            fake.indicatorItems.emplace_back(id, label, enabled, checked);
        }
        fake.calls.push_back("SetIndicator " + std::to_string(iconSize));
        return sd_bus_reply_method_return(m, "");
    }
    fake.calls.push_back(member);
    return sd_bus_reply_method_return(m, "");
}

void FakeBridge::emit(const char* member) {
    sd_bus_emit_signal(thread_.bus(), bridgePath, bridgeInterface, member, "");
}

void FakeBridge::emitInput(int x, int y, std::uint32_t state, std::uint32_t idle) {
    sd_bus_emit_signal(thread_.bus(), bridgePath, bridgeInterface, "Input", "iiuu", x, y, state,
                       idle);
}

void FakeBridge::emitProperty(const char* name) {
    sd_bus_message* signal = nullptr;
    sd_bus_message_new_signal(thread_.bus(), &signal, bridgePath, bridgeInterface, "StateChanged");
    appendState(signal, name);
    sd_bus_send(thread_.bus(), signal, nullptr);
    sd_bus_message_unref(signal);
}

void FakeBridge::emitActivated(const char* member, std::uint32_t action, const char* id) {
    if (id) {
        sd_bus_emit_signal(thread_.bus(), bridgePath, bridgeInterface, member, "s", id);
    } else {
        sd_bus_emit_signal(thread_.bus(), bridgePath, bridgeInterface, member, "u", action);
    }
}

FakeShellExtensions::FakeShellExtensions(const std::string& address, std::string version)
    : shellVersion(std::move(version)), thread_(address) {
    static const sd_bus_vtable shell[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("ShellVersion", "s", &FakeShellExtensions::property, 0, 0),
        SD_BUS_VTABLE_END,
    };
    static const sd_bus_vtable extensionsTable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("GetExtensionInfo", "s", "a{sv}", &FakeShellExtensions::method, 0),
        SD_BUS_METHOD("EnableExtension", "s", "b", &FakeShellExtensions::method, 0),
        SD_BUS_VTABLE_END,
    };
    if (!thread_.isConnected()) {
        return;
    }
    thread_.run([&] {
        ready_ =
            sd_bus_add_object_vtable(thread_.bus(), &shellSlot_, "/org/gnome/Shell",
                                     "org.gnome.Shell", shell, this) >= 0 &&
            sd_bus_add_object_vtable(thread_.bus(), &extensionsSlot_, "/org/gnome/Shell",
                                     "org.gnome.Shell.Extensions", extensionsTable, this) >= 0 &&
            sd_bus_request_name(thread_.bus(), "org.gnome.Shell", 0) >= 0;
    });
}

FakeShellExtensions::~FakeShellExtensions() {
    thread_.run([this] {
        shellSlot_ = sd_bus_slot_unref(shellSlot_);
        extensionsSlot_ = sd_bus_slot_unref(extensionsSlot_);
    });
}

int FakeShellExtensions::property(sd_bus*, const char*, const char*, const char*,
                                  sd_bus_message* reply, void* self, sd_bus_error*) {
    return sd_bus_message_append(reply, "s",
                                 static_cast<FakeShellExtensions*>(self)->shellVersion.c_str());
}

int FakeShellExtensions::method(sd_bus_message* m, void* self, sd_bus_error*) {
    auto& fake = *static_cast<FakeShellExtensions*>(self);
    const char* uuid = nullptr;
    sd_bus_message_read(m, "s", &uuid);
    if (std::strcmp(sd_bus_message_get_member(m), "EnableExtension") == 0) {
        fake.enabled.push_back(uuid);
        return replyBool(m, true);
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "{sv}");
    if (auto found = fake.extensions.find(uuid); found != fake.extensions.end()) {
        sd_bus_message_append(reply, "{sv}", "uuid", "s", uuid);
        sd_bus_message_append(reply, "{sv}", "state", "d", found->second.first);
        sd_bus_message_append(reply, "{sv}", "error", "s", found->second.second.c_str());
    }
    sd_bus_message_close_container(reply);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

} // namespace orvane::linuxbackend::test
