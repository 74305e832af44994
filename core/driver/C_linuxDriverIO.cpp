#include "core/driver/C_linuxDriverIO.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

C_linuxDriverIO::~C_linuxDriverIO() {
    close();
}

unsigned C_linuxDriverIO::open(const char* name) {
    close();
    if (name == nullptr) return 0;
    char path[256];
    const int written = std::snprintf(path, sizeof(path), "/dev/%s", name);
    // A cut name would open some other device.
    if (written < 0 || static_cast<size_t>(written) >= sizeof(path)) return 0;
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return 0;
    m_fd = fd;
    return 1;
}

unsigned C_linuxDriverIO::ioctl(unsigned long request, void* record, unsigned int) {
    if (m_fd == kNotOpen) return 0;
    return ::ioctl(m_fd, request, record) == 0 ? 1 : 0;
}

unsigned C_linuxDriverIO::close() {
    if (m_fd != kNotOpen) {
        ::close(m_fd);
        m_fd = kNotOpen;
    }
    return 1;
}
