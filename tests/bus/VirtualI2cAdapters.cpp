#include "bus/VirtualI2cAdapters.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const char kAdapterPrefix[] = "/dev/i2c-";

template <class Fn>
Fn realFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

bool isAdapterPath(const char* path) {
    return path != nullptr && std::strncmp(path, kAdapterPrefix, sizeof(kAdapterPrefix) - 1) == 0;
}

int forwardOpen(const char* name, const char* path, int flags, mode_t mode) {
    static OpenFn real = realFunction<OpenFn>(name);
    return real(path, flags, mode);
}

}  // namespace

namespace qrttest {

VirtualI2cAdapters& VirtualI2cAdapters::instance() {
    // Never destroyed: descriptors may still be closed while the program exits.
    static VirtualI2cAdapters* adapters = new VirtualI2cAdapters();
    return *adapters;
}

VirtualAdapter& VirtualI2cAdapters::add(unsigned number) {
    std::lock_guard<std::mutex> g(m_mutex);
    m_adapters.erase(number);
    return m_adapters[number];
}

void VirtualI2cAdapters::clear() {
    std::lock_guard<std::mutex> g(m_mutex);
    m_adapters.clear();
    m_openCalls = 0;
}

size_t VirtualI2cAdapters::openDescriptors() {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_descriptors.size();
}

int VirtualI2cAdapters::openCalls() {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_openCalls;
}

int VirtualI2cAdapters::open(const char* path) {
    std::lock_guard<std::mutex> g(m_mutex);
    ++m_openCalls;
    const unsigned number = static_cast<unsigned>(std::stoul(path + sizeof(kAdapterPrefix) - 1));
    if (m_adapters.count(number) == 0) {
        errno = ENOENT;
        return -1;
    }
    // A real descriptor keeps the number unique while the adapter is open.
    const int fd = forwardOpen("open", "/dev/null", O_RDWR, 0);
    if (fd >= 0) m_descriptors[fd] = number;
    return fd;
}

bool VirtualI2cAdapters::owns(int fd) {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_descriptors.count(fd) != 0;
}

void VirtualI2cAdapters::countOtherIoctl(int fd) {
    std::lock_guard<std::mutex> g(m_mutex);
    auto it = m_adapters.find(m_descriptors[fd]);
    if (it != m_adapters.end()) ++it->second.otherIoctls;
}

int VirtualI2cAdapters::rdwr(int fd, void* arg) {
    std::lock_guard<std::mutex> g(m_mutex);
    auto it = m_adapters.find(m_descriptors[fd]);
    if (it == m_adapters.end()) {
        errno = ENODEV;
        return -1;
    }
    VirtualAdapter& adapter = it->second;
    ++adapter.rdwrCalls;
    auto* request = static_cast<i2c_rdwr_ioctl_data*>(arg);

    std::vector<qrtsim::I2cBus::Message> onBus;
    for (unsigned i = 0; i < request->nmsgs; ++i) {
        const i2c_msg& m = request->msgs[i];
        qrtsim::I2cBus::Message message;
        message.address = m.addr;
        message.read = (m.flags & I2C_M_RD) != 0;
        message.data.assign(m.buf, m.buf + m.len);
        onBus.push_back(message);
    }
    size_t done = 0;
    if (adapter.forcedResult < 0 && adapter.refuseNext == 0) {
        done = adapter.bus.transfer(onBus);
    } else if (adapter.refuseNext > 0) {
        --adapter.refuseNext;
    }
    for (unsigned i = 0; i < request->nmsgs; ++i) {
        const i2c_msg& m = request->msgs[i];
        if (i < done && (m.flags & I2C_M_RD) != 0) std::memcpy(m.buf, onBus[i].data.data(), m.len);
        adapter.messages.push_back({m.addr, m.flags, onBus[i].data});
    }
    if (adapter.forcedResult >= 0) return adapter.forcedResult;
    if (done != request->nmsgs) {
        errno = EREMOTEIO;
        return -1;
    }
    return static_cast<int>(done);
}

void VirtualI2cAdapters::closed(int fd) {
    std::lock_guard<std::mutex> g(m_mutex);
    m_descriptors.erase(fd);
}

}  // namespace qrttest

// ---- interposed C library calls -------------------------------------------------------------

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (isAdapterPath(path)) return qrttest::VirtualI2cAdapters::instance().open(path);
    return forwardOpen("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (isAdapterPath(path)) return qrttest::VirtualI2cAdapters::instance().open(path);
    return forwardOpen("open64", path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    auto& adapters = qrttest::VirtualI2cAdapters::instance();
    if (adapters.owns(fd)) {
        if (request == I2C_RDWR) return adapters.rdwr(fd, arg);
        adapters.countOtherIoctl(fd);
        errno = ENOTTY;
        return -1;
    }
    static IoctlFn real = realFunction<IoctlFn>("ioctl");
    return real(fd, request, arg);
}

extern "C" int close(int fd) {
    auto& adapters = qrttest::VirtualI2cAdapters::instance();
    if (adapters.owns(fd)) adapters.closed(fd);
    static CloseFn real = realFunction<CloseFn>("close");
    return real(fd);
}
