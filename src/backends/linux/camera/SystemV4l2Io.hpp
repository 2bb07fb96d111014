#pragma once

#include "backends/linux/camera/V4l2Io.hpp"

namespace orvane::linuxbackend {

// The real system calls.
class SystemV4l2Io : public V4l2Io {
public:
    int open(const std::string& path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(int fd, std::size_t length, std::int64_t offset) override;
    int munmap(void* address, std::size_t length) override;
    int poll(int fd, int timeoutMilliseconds) override;
};

} // namespace orvane::linuxbackend
