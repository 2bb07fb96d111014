#include "backends/linux/camera/SystemV4l2Io.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace orvane::linuxbackend {

int SystemV4l2Io::open(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

int SystemV4l2Io::close(int fd) {
    return ::close(fd);
}

int SystemV4l2Io::ioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

void* SystemV4l2Io::mmap(int fd, std::size_t length, std::int64_t offset) {
    return ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                  static_cast<off_t>(offset));
}

int SystemV4l2Io::munmap(void* address, std::size_t length) {
    return ::munmap(address, length);
}

int SystemV4l2Io::poll(int fd, int timeoutMilliseconds) {
    pollfd entry{fd, POLLIN, 0};
    const int result = ::poll(&entry, 1, timeoutMilliseconds);
    if (result > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
        (entry.revents & POLLIN) == 0) {
        // A node that went away (unplugged) or stopped streaming reports POLLERR for good.
        errno = EIO;
        return -1;
    }
    return result > 0 ? 1 : result;
}

} // namespace orvane::linuxbackend
