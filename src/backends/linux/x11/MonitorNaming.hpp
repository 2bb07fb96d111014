#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend::MonitorNaming {

// The product name (display descriptor 0xFC) of an EDID base block; nullopt when there is none.
std::optional<std::string> edidProductName(const std::vector<std::uint8_t>& edid);

// What people call a monitor: the name they gave it (xrandr --setmonitor), else the name its
// maker burnt into the EDID, else the connector's. The server names an automatic monitor (one
// per output, nobody set it up) after its output, so for those the EDID name comes first.
std::string displayName(const std::string& monitorName, bool automatic,
                        const std::vector<std::uint8_t>& edid, const std::string& outputName);

} // namespace orvane::linuxbackend::MonitorNaming
