#include "backends/linux/wayland/kwin/KWinScriptHost.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/wayland/kwin/KWinBridgeScript.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"

#include <algorithm>
#include <cstdlib>

namespace orvane::linuxbackend {
namespace {

constexpr const char* kwinService = "org.kde.KWin";
constexpr std::uint64_t kwinCallTimeout = 2'000'000;
constexpr std::uint64_t loadRetryInterval = 100'000;
constexpr int maxLoadAttempts = 200;
// What an earlier Orvane called its script, which served whoever owned Orvane's bus name.
constexpr const char* unkeyedPluginName = "orvane-bridge";

} // namespace

KWinScriptHost::KWinScriptHost(BusConnection& bus, BusLoop& loop, KWinLinkState& state, Hooks hooks)
    : bus_(bus), state_(state), hooks_(std::move(hooks)), retry_(loop, [this] {
          if (!kwinOwner_.empty() && !loaded_) {
              attach(std::string(kwinOwner_));
          }
      }) {}

KWinScriptHost::~KWinScriptHost() {
    unload();
}

std::optional<std::string> KWinScriptHost::prepare(const std::string& unique) {
    const auto key = randomKey();
    if (!key) {
        return "no random numbers for the KWin script's key";
    }
    key_ = *key;
    std::string plugin = std::string(KWinLink::pluginStem) + "-" + unique;
    std::erase(plugin, ':');
    const auto script = kwinScriptFor(kwinBridgeScript, unique, key_, plugin);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string problem = "the KWin script has no place for Orvane's connection";
    if (script) {
        file_ = KWinScriptFile::create(*script, runtime ? runtime : "", &problem);
    }
    if (!file_) {
        return problem;
    }
    pluginName_ = plugin;
    std::lock_guard lock(state_.mutex);
    state_.pluginName = plugin;
    state_.scriptFile = file_->path();
    return std::nullopt;
}

sd_bus_message* KWinScriptHost::callKWin(const char* path, const char* interface,
                                         const char* member, const char* types,
                                         const char* argument) {
    return types ? bus_.callMethod(kwinService, path, interface, member, kwinCallTimeout, types,
                                   argument)
                 : bus_.callMethod(kwinService, path, interface, member, kwinCallTimeout);
}

// An earlier copy of this run's goes first, and one an earlier Orvane left that served
// whoever owned its bus name.
void KWinScriptHost::attach(const std::string& kwinOwner) {
    kwinOwner_ = kwinOwner;
    if (hooks_.attaching) {
        hooks_.attaching();
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot = CompositorSnapshot{};
        state_.snapshot.present = true;
        state_.scriptLoaded = false;
        state_.ids.clear();
    }
    for (const char* name : {pluginName_.c_str(), unkeyedPluginName}) {
        sd_bus_message_unref(
            callKWin("/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s", name));
    }
    // KWin numbers a new script by how many it holds, so after an unload ours can get the
    // number of one still loaded, whose object keeps the path: the objects there before the
    // load are someone else's, never to be run.
    std::string before;
    if (sd_bus_message* listed =
            callKWin("/Scripting", "org.freedesktop.DBus.Introspectable", "Introspect")) {
        const char* xml = nullptr;
        if (sd_bus_message_read(listed, "s", &xml) >= 0 && xml) {
            before = xml;
        }
        sd_bus_message_unref(listed);
    }
    int id = -1;
    sd_bus_message* reply =
        bus_.callMethod(kwinService, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                        kwinCallTimeout, "ss", file_->path().c_str(), pluginName_.c_str());
    if (!reply || sd_bus_message_read(reply, "i", &id) < 0) {
        id = -1;
    }
    sd_bus_message_unref(reply);
    if (id < 0) {
        // A KWin just started owns its name a moment before its scripting is there.
        if (++loadAttempts_ < maxLoadAttempts) {
            retryLoad();
            return;
        }
        state_.setProblem("KWin did not load Orvane's script (" + file_->path() + ")");
        logInfo("KWin did not load Orvane's script " + file_->path());
        state_.markSettled();
        return;
    }
    loadAttempts_ = 0;
    const std::string object = "Script" + std::to_string(id);
    const std::string path = "/Scripting/" + object;
    const bool ours = before.find("\"" + object + "\"") == std::string::npos;
    // Where there is no object of ours to run (KWin 5.27 lists none), KWin runs all it has
    // loaded and not yet started.
    reply = ours ? callKWin(path.c_str(), "org.kde.kwin.Script", "run") : nullptr;
    if (!reply) {
        reply = callKWin("/Scripting", "org.kde.kwin.Scripting", "start");
    }
    sd_bus_message_unref(reply);
    {
        std::lock_guard lock(state_.mutex);
        state_.scriptLoaded = true;
        state_.problem.clear();
    }
    loaded_ = true;
    // Asked at once, so that the version is known by the time the script's state is.
    if (sd_bus_message* info = callKWin("/KWin", "org.kde.KWin", "supportInformation")) {
        const char* text = nullptr;
        if (sd_bus_message_read(info, "s", &text) >= 0 && text) {
            std::lock_guard lock(state_.mutex);
            state_.snapshot.compositorVersion =
                KWinScriptMessages::versionFromSupportInformation(text);
        }
        sd_bus_message_unref(info);
    }
    if (hooks_.loaded) {
        hooks_.loaded();
    }
}

void KWinScriptHost::retryLoad() {
    retry_.once(loadRetryInterval);
}

void KWinScriptHost::detach() {
    retry_.cancel();
    loadAttempts_ = 0;
    const bool wasReady = state_.isReady();
    kwinOwner_.clear();
    loaded_ = false;
    if (hooks_.detaching) {
        hooks_.detaching();
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot = CompositorSnapshot{};
        state_.scriptLoaded = false;
        state_.problem = "KWin left the session bus";
        state_.commands.clear();
    }
    if (wasReady) {
        state_.post({CompositorEvent::Kind::vanished});
    }
}

void KWinScriptHost::unload() {
    if (loaded_ && bus_.isOpen()) {
        sd_bus_message_unref(callKWin("/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s",
                                      pluginName_.c_str()));
    }
    loaded_ = false;
    file_.reset();
}

} // namespace orvane::linuxbackend
