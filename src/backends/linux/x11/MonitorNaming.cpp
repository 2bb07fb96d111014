#include "backends/linux/x11/MonitorNaming.hpp"

namespace orvane::linuxbackend::MonitorNaming {

std::optional<std::string> edidProductName(const std::vector<std::uint8_t>& edid) {
    constexpr std::size_t baseBlock = 128, firstDescriptor = 54, descriptorSize = 18;
    if (edid.size() < baseBlock) {
        return std::nullopt;
    }
    // Four descriptors; a display descriptor starts with three zero bytes, then its tag.
    for (std::size_t offset = firstDescriptor; offset + descriptorSize <= 126;
         offset += descriptorSize) {
        const std::uint8_t* block = edid.data() + offset;
        if (block[0] != 0 || block[1] != 0 || block[2] != 0 || block[3] != 0xFC) {
            continue;
        }
        std::string name;
        for (std::size_t i = 5; i < descriptorSize && block[i] != 0x0A && block[i] != 0; ++i) {
            name.push_back(static_cast<char>(block[i]));
        }
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        if (!name.empty()) {
            return name;
        }
    }
    return std::nullopt;
}

std::string displayName(const std::string& monitorName, bool automatic,
                        const std::vector<std::uint8_t>& edid, const std::string& outputName) {
    if (!automatic && !monitorName.empty()) {
        return monitorName;
    }
    if (auto product = edidProductName(edid)) {
        return *product;
    }
    return outputName.empty() ? monitorName : outputName;
}

} // namespace orvane::linuxbackend::MonitorNaming
