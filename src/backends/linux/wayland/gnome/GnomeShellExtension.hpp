#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "orvane/platform/DesktopBridge.hpp"

#include <memory>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

class BridgeConnection;

// Orvane's extension of GNOME Shell as the shell knows it: answering on the bus (ready), else
// what org.gnome.Shell.Extensions says of it. The shell loads one of two forms: the legacy one
// up to 44, ES modules from 45. Main thread.
class GnomeShellExtension : public DesktopBridge {
public:
    static constexpr const char* legacyUuid = "bridge@orvane.net";
    static constexpr const char* modulesUuid = "bridge-modules@orvane.net";

    // `environment` finds the data directories the extension may be installed in.
    GnomeShellExtension(std::shared_ptr<BridgeConnection> bridge, EnvironmentLookup environment);

    DesktopBridgeState state() const override;
    bool enable() override;

    // The form a shell of this version ("43.9", "46.2") loads.
    static const char* uuidFor(const std::string& shellVersion);

private:
    std::optional<std::string> shellVersion() const;
    bool isInstalledOnDisk(const std::string& uuid) const;

    std::shared_ptr<BridgeConnection> bridge_;
    EnvironmentLookup environment_;
};

} // namespace orvane::linuxbackend
