#include "backends/linux/camera/V4l2Discovery.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <linux/videodev2.h>
#include <map>
#include <set>

namespace orvane::linuxbackend {

namespace {

std::string fixedString(const std::uint8_t* bytes, std::size_t size) {
    const auto* text = reinterpret_cast<const char*>(bytes);
    std::string value(text, strnlen(text, size));
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())) != 0) {
        value.pop_back();
    }
    return value;
}

std::optional<int> videoNodeNumber(const std::string& name) {
    static constexpr std::string_view prefix = "video";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    int number = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return number;
}

std::filesystem::path canonicalOrSelf(const std::filesystem::path& path) {
    std::error_code error;
    auto resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved;
}

} // namespace

struct V4l2Discovery::Probe {
    int openError = 0;     // errno of the open, 0 when it opened
    bool captures = false; // a streaming video-capture node, not metadata
    bool readable = false; // offers a format we decode (MJPEG or YUYV)
    std::string card;
    std::string busInfo;
};

V4l2Discovery::V4l2Discovery(std::shared_ptr<V4l2Io> io, std::filesystem::path devRoot,
                             std::filesystem::path sysRoot)
    : io_(std::move(io)), devRoot_(std::move(devRoot)), sysRoot_(std::move(sysRoot)) {}

bool V4l2Discovery::namesInfrared(const std::string& card) {
    std::string lower;
    for (char c : card) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    if (lower.find("infrared") != std::string::npos) {
        return true;
    }
    std::size_t start = 0;
    while (start < lower.size()) {
        auto end = start;
        while (end < lower.size() && std::isalnum(static_cast<unsigned char>(lower[end])) != 0) {
            ++end;
        }
        if (lower.compare(start, end - start, "ir") == 0 && end - start == 2) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<std::filesystem::path> V4l2Discovery::videoNodes() const {
    std::vector<std::pair<int, std::filesystem::path>> numbered;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(devRoot_, error), end; !error && entry != end;
         entry.increment(error)) {
        if (auto number = videoNodeNumber(entry->path().filename().string())) {
            numbered.emplace_back(*number, entry->path());
        }
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::filesystem::path> nodes;
    for (auto& [number, path] : numbered) {
        nodes.push_back(std::move(path));
    }
    return nodes;
}

V4l2Discovery::Probe V4l2Discovery::probe(const std::filesystem::path& node) const {
    Probe result;
    const int fd = io_->open(node.string());
    if (fd < 0) {
        result.openError = errno;
        return result;
    }
    v4l2_capability capability{};
    if (io_->ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0) {
        const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                       ? capability.device_caps
                                       : capability.capabilities;
        result.captures = (caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_STREAMING) != 0;
        result.card = fixedString(capability.card, sizeof capability.card);
        result.busInfo = fixedString(capability.bus_info, sizeof capability.bus_info);
    }
    if (result.captures) {
        // Infrared and depth nodes offer only grey or depth formats.
        v4l2_fmtdesc format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        for (format.index = 0; format.index < 256; ++format.index) {
            if (io_->ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) {
                break;
            }
            if (format.pixelformat == V4L2_PIX_FMT_MJPEG ||
                format.pixelformat == V4L2_PIX_FMT_YUYV) {
                result.readable = true;
            }
        }
    }
    io_->close(fd);
    return result;
}

bool V4l2Discovery::isBuiltIn(const std::string& nodeName) const {
    // `device` links to the USB interface; its parent, the USB device, says whether the port
    // is fixed (a laptop's own camera) or removable.
    std::ifstream removable(sysRoot_ / "class" / "video4linux" / nodeName / "device" / ".." /
                            "removable");
    std::string value;
    return removable >> value && value == "fixed";
}

std::vector<V4l2Node> V4l2Discovery::captureNodes() const {
    std::map<std::filesystem::path, std::string> stableNames;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(devRoot_ / "v4l" / "by-id", error), end;
         !error && entry != end; entry.increment(error)) {
        const auto target = canonicalOrSelf(entry->path());
        const auto name = entry->path().filename().string();
        auto [known, inserted] = stableNames.emplace(target, name);
        if (!inserted && name < known->second) {
            known->second = name; // several links to one node: the same one every time
        }
    }

    std::vector<V4l2Node> nodes;
    std::set<std::string> ids;
    for (const auto& path : videoNodes()) {
        const auto found = probe(path);
        if (found.openError != 0 || !found.captures || !found.readable ||
            namesInfrared(found.card)) {
            continue;
        }
        V4l2Node node;
        node.path = path.string();
        node.number = videoNodeNumber(path.filename().string()).value_or(0);
        node.builtIn = isBuiltIn(path.filename().string());
        node.device.localizedName = found.card.empty() ? path.filename().string() : found.card;
        if (auto link = stableNames.find(canonicalOrSelf(path)); link != stableNames.end()) {
            node.device.uniqueID = link->second;
        } else {
            node.device.uniqueID = "v4l2:" + found.busInfo + ":" + found.card;
        }
        // Two capture nodes of one device without by-id links would share an id.
        const auto base = node.device.uniqueID;
        for (int copy = 2; !ids.insert(node.device.uniqueID).second; ++copy) {
            node.device.uniqueID = base + "#" + std::to_string(copy);
        }
        nodes.push_back(std::move(node));
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const V4l2Node& a, const V4l2Node& b) { return a.builtIn && !b.builtIn; });
    return nodes;
}

CameraAuthorization V4l2Discovery::authorization() const {
    bool refused = false;
    for (const auto& path : videoNodes()) {
        const auto found = probe(path);
        if (found.openError == EACCES || found.openError == EPERM) {
            refused = true;
        } else if (found.openError == 0 && found.captures) {
            return CameraAuthorization::authorized;
        }
    }
    return refused ? CameraAuthorization::denied : CameraAuthorization::authorized;
}

} // namespace orvane::linuxbackend
