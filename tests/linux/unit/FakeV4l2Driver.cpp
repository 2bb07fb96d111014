#include "FakeV4l2Driver.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>

namespace orvane::linuxbackend {

namespace {

constexpr std::int64_t bufferSpacing = 1 << 24; // the mmap offset of buffer i is i times this

void copyText(std::uint8_t* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size - 1, text.size()));
}

} // namespace

void FakeV4l2Driver::addNode(const std::string& path, FakeNode node) {
    std::lock_guard lock(mutex_);
    nodes_[path].node = std::move(node);
}

void FakeV4l2Driver::setOpenError(const std::string& path, int error) {
    std::lock_guard lock(mutex_);
    nodes_.at(path).node.openError = error;
}

void FakeV4l2Driver::setGone(const std::string& path, bool gone) {
    std::lock_guard lock(mutex_);
    nodes_.at(path).gone = gone;
    changed_.notify_all();
}

FakeV4l2Driver::Observed FakeV4l2Driver::observed(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return nodes_.at(path).observed;
}

int FakeV4l2Driver::fail(int error) const {
    errno = error;
    return -1;
}

bool FakeV4l2Driver::pushFrame(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    for (auto& [fd, stream] : streams_) {
        if (stream.path != path || !stream.streaming || stream.queued.empty()) {
            continue;
        }
        const auto index = stream.queued.front();
        stream.queued.pop_front();
        auto& buffer = stream.buffers[index];
        const auto size = std::min(buffer.size(), bytes.size());
        std::copy_n(bytes.begin(), size, buffer.begin());
        stream.bytesUsed[index] = static_cast<std::uint32_t>(size);
        stream.filled.push_back(index);
        changed_.notify_all();
        return true;
    }
    return false;
}

bool FakeV4l2Driver::waitUntilDrained(const std::string& path, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(streams_.begin(), streams_.end(), [&](const auto& entry) {
            const auto& stream = entry.second;
            return stream.path == path && stream.streaming && stream.filled.empty() &&
                   stream.waiting;
        });
    });
}

int FakeV4l2Driver::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto node = nodes_.find(path);
    if (node == nodes_.end()) {
        return fail(ENOENT);
    }
    if (node->second.gone) {
        return fail(ENODEV);
    }
    if (node->second.node.openError != 0) {
        return fail(node->second.node.openError);
    }
    ++node->second.observed.openDescriptors;
    const int fd = nextFd_++;
    streams_[fd].path = path;
    return fd;
}

int FakeV4l2Driver::close(int fd) {
    std::lock_guard lock(mutex_);
    auto stream = streams_.find(fd);
    if (stream == streams_.end()) {
        return fail(EBADF);
    }
    auto& observed = nodes_.at(stream->second.path).observed;
    --observed.openDescriptors;
    if (observed.openDescriptors == 0) {
        observed.timePerFrame.reset(); // like drivers that reset on the last release
    }
    if (stream->second.streaming) {
        observed.streaming = false;
    }
    streams_.erase(stream);
    changed_.notify_all();
    return 0;
}

const FakeFormat* FakeV4l2Driver::findFormat(const NodeState& state, std::uint32_t fourcc) const {
    for (const auto& format : state.node.formats) {
        if (format.fourcc == fourcc) {
            return &format;
        }
    }
    return nullptr;
}

bool FakeV4l2Driver::othersHoldBuffers(int fd, const std::string& path) const {
    return std::any_of(streams_.begin(), streams_.end(), [&](const auto& entry) {
        return entry.first != fd && entry.second.path == path && !entry.second.buffers.empty();
    });
}

int FakeV4l2Driver::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard lock(mutex_);
    auto stream = streams_.find(fd);
    if (stream == streams_.end()) {
        return fail(EBADF);
    }
    auto& state = nodes_.at(stream->second.path);
    if (state.gone) {
        return fail(ENODEV);
    }
    if ((request == VIDIOC_S_FMT || request == VIDIOC_REQBUFS) &&
        othersHoldBuffers(fd, stream->second.path)) {
        ++state.observed.ownershipConflicts;
        return fail(EBUSY);
    }
    const int result = handle(stream->second, state, request, argument);
    changed_.notify_all();
    return result;
}

int FakeV4l2Driver::handle(Stream& stream, NodeState& state, unsigned long request,
                           void* argument) {
    const auto& node = state.node;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto& capability = *static_cast<v4l2_capability*>(argument);
        capability = {};
        copyText(capability.card, sizeof capability.card, node.card);
        copyText(capability.bus_info, sizeof capability.bus_info, node.busInfo);
        capability.device_caps = node.deviceCaps;
        capability.capabilities = node.deviceCaps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto& description = *static_cast<v4l2_fmtdesc*>(argument);
        if (description.index >= node.formats.size()) {
            return fail(EINVAL);
        }
        description.pixelformat = node.formats[description.index].fourcc;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& size = *static_cast<v4l2_frmsizeenum*>(argument);
        const auto* format = findFormat(state, size.pixel_format);
        if (format == nullptr || size.index >= format->sizes.size()) {
            return fail(EINVAL);
        }
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {format->sizes[size.index].first, format->sizes[size.index].second};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& interval = *static_cast<v4l2_frmivalenum*>(argument);
        const auto* format = findFormat(state, interval.pixel_format);
        if (format == nullptr) {
            return fail(EINVAL);
        }
        if (format->continuousIntervals) {
            if (interval.index != 0) {
                return fail(EINVAL);
            }
            interval.type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
            interval.stepwise.min = format->continuousIntervals->first;
            interval.stepwise.max = format->continuousIntervals->second;
            interval.stepwise.step = {1, 1};
            return 0;
        }
        if (interval.index >= format->discreteIntervals.size()) {
            return fail(EINVAL);
        }
        interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval.discrete = format->discreteIntervals[interval.index];
        return 0;
    }
    case VIDIOC_S_FMT: {
        auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
        const auto* format = findFormat(state, pix.pixelformat);
        if (format == nullptr) {
            format = &node.formats.front(); // drivers substitute a format of their own
        }
        auto size = format->sizes.front();
        for (const auto& offered : format->sizes) {
            if (offered.first == pix.width && offered.second == pix.height) {
                size = offered;
            }
        }
        pix.pixelformat = format->fourcc;
        pix.width = size.first;
        pix.height = size.second;
        pix.bytesperline = format->fourcc == V4L2_PIX_FMT_YUYV ? size.first * 2 : 0;
        pix.sizeimage = size.first * size.second * 2;
        state.observed.format = pix;
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto& capture = static_cast<v4l2_streamparm*>(argument)->parm.capture;
        if (request == VIDIOC_S_PARM) {
            if (node.sParmError != 0) {
                return fail(node.sParmError);
            }
            state.observed.timePerFrame = capture.timeperframe;
        }
        capture.capability = node.adjustableRate ? V4L2_CAP_TIMEPERFRAME : 0;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto& request = *static_cast<v4l2_requestbuffers*>(argument);
        stream.buffers.clear();
        stream.queued.clear();
        stream.filled.clear();
        request.count = std::min<std::uint32_t>(request.count, 8);
        stream.buffers.assign(request.count,
                              std::vector<std::uint8_t>(state.observed.format.sizeimage));
        stream.bytesUsed.assign(request.count, 0);
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: {
        auto& buffer = *static_cast<v4l2_buffer*>(argument);
        if (request == VIDIOC_DQBUF) {
            if (stream.filled.empty()) {
                return fail(EAGAIN);
            }
            buffer.index = stream.filled.front();
            stream.filled.pop_front();
            buffer.bytesused = stream.bytesUsed[buffer.index];
            buffer.flags = 0;
            return 0;
        }
        if (buffer.index >= stream.buffers.size()) {
            return fail(EINVAL);
        }
        if (request == VIDIOC_QBUF) {
            stream.queued.push_back(buffer.index);
            return 0;
        }
        buffer.length = static_cast<std::uint32_t>(stream.buffers[buffer.index].size());
        buffer.m.offset = static_cast<std::uint32_t>(buffer.index * bufferSpacing);
        return 0;
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        stream.streaming = request == VIDIOC_STREAMON;
        state.observed.streaming = stream.streaming;
        if (!stream.streaming) {
            stream.queued.clear();
            stream.filled.clear();
        }
        return 0;
    default:
        return fail(ENOTTY);
    }
}

void* FakeV4l2Driver::mmap(int fd, std::size_t length, std::int64_t offset) {
    std::lock_guard lock(mutex_);
    auto stream = streams_.find(fd);
    const auto index = static_cast<std::size_t>(offset / bufferSpacing);
    if (stream == streams_.end() || index >= stream->second.buffers.size() ||
        length > stream->second.buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++nodes_.at(stream->second.path).observed.mappedBuffers;
    return stream->second.buffers[index].data();
}

int FakeV4l2Driver::munmap(void* address, std::size_t) {
    std::lock_guard lock(mutex_);
    for (auto& [fd, stream] : streams_) {
        for (auto& buffer : stream.buffers) {
            if (buffer.data() == address) {
                --nodes_.at(stream.path).observed.mappedBuffers;
                return 0;
            }
        }
    }
    return fail(EINVAL);
}

int FakeV4l2Driver::poll(int fd, int timeoutMilliseconds) {
    std::unique_lock lock(mutex_);
    auto stream = streams_.find(fd);
    if (stream == streams_.end()) {
        return fail(EBADF);
    }
    if (!stream->second.streaming) {
        return fail(EIO);
    }
    stream->second.waiting = true;
    changed_.notify_all();
    const bool ready = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds), [&] {
        auto current = streams_.find(fd);
        return current == streams_.end() || !current->second.filled.empty() ||
               nodes_.at(current->second.path).gone;
    });
    stream = streams_.find(fd);
    if (stream == streams_.end()) {
        return fail(EBADF);
    }
    stream->second.waiting = false;
    return ready ? 1 : 0; // a gone node polls readable (POLLERR) and fails the dequeue
}

} // namespace orvane::linuxbackend
