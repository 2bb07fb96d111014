#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvane::linuxbackend {

// The system calls the camera code makes on a V4L2 node, behind one seam so that tests can
// stand in a driver of their own. Each call fails like the system call: -1 (or MAP_FAILED)
// with errno set.
class V4l2Io {
public:
    virtual ~V4l2Io() = default;

    // Opens read-write, non-blocking, close-on-exec.
    virtual int open(const std::string& path) = 0;
    virtual int close(int fd) = 0;
    // Retries on EINTR.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // A shared read-write mapping of a driver buffer.
    virtual void* mmap(int fd, std::size_t length, std::int64_t offset) = 0;
    virtual int munmap(void* address, std::size_t length) = 0;
    // Waits up to `timeoutMilliseconds` for a filled buffer: 1 ready, 0 timed out, -1 failed.
    virtual int poll(int fd, int timeoutMilliseconds) = 0;
};

} // namespace orvane::linuxbackend
