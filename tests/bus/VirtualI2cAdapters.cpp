#include "bus/VirtualI2cAdapters.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qrttest {

// Never destroyed: descriptors may still be closed while the program exits.
std::map<unsigned, VirtualAdapter>& VirtualI2cAdapters::adapters() {
    static auto* all = new std::map<unsigned, VirtualAdapter>();
    return *all;
}

std::map<int, unsigned>& VirtualI2cAdapters::openDescriptors() {
    static auto* open = new std::map<int, unsigned>();
    return *open;
}

}  // namespace qrttest

namespace {

using qrttest::VirtualAdapter;
using qrttest::VirtualI2cAdapters;
const char kAdapterPrefix[] = "/dev/i2c-";

template <class Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int openAdapter(const char* path) {
    const unsigned number = std::strtoul(path + sizeof(kAdapterPrefix) - 1, nullptr, 10);
    if (VirtualI2cAdapters::adapters().count(number) == 0) {
        errno = ENOENT;
        return -1;
    }
    // A real descriptor keeps the number unique while the adapter is open. Each adapter is a
    // file of its own, private to this process, so that an advisory lock on it is shared only
    // by the opens of that adapter (on /dev/null it would be shared by every process of the
    // machine that locks /dev/null).
    static auto realOpen = real<int (*)(const char*, int, ...)>("open");
    static auto* backing = new std::map<unsigned, int>();
    auto file = backing->find(number);
    if (file == backing->end()) {
        const int memory = memfd_create("virtual-i2c-adapter", MFD_CLOEXEC);
        if (memory < 0) return -1;
        file = backing->emplace(number, memory).first;
    }
    const std::string reopen = "/proc/self/fd/" + std::to_string(file->second);
    const int fd = realOpen(reopen.c_str(), O_RDWR);
    if (fd >= 0) VirtualI2cAdapters::openDescriptors()[fd] = number;
    return fd;
}

int transfer(VirtualAdapter& adapter, i2c_rdwr_ioctl_data* request) {
    ++adapter.rdwrCalls;
    std::vector<qrtsim::I2cBus::Message> onBus(request->nmsgs);
    for (unsigned i = 0; i < request->nmsgs; ++i) {
        const i2c_msg& m = request->msgs[i];
        onBus[i].address = m.addr;
        onBus[i].read = (m.flags & I2C_M_RD) != 0;
        onBus[i].data.assign(m.buf, m.buf + m.len);
    }
    size_t done = 0;
    if (adapter.refuseNext > 0)
        --adapter.refuseNext;
    else if (adapter.forcedResult < 0)
        done = adapter.bus.transfer(onBus);
    for (unsigned i = 0; i < request->nmsgs; ++i) {
        const i2c_msg& m = request->msgs[i];
        if (i < done && onBus[i].read) std::memcpy(m.buf, onBus[i].data.data(), m.len);
        adapter.messages.push_back({m.addr, m.flags, onBus[i].data});
    }
    if (adapter.forcedResult >= 0) return adapter.forcedResult;
    if (done == request->nmsgs) return static_cast<int>(done);
    errno = EREMOTEIO;
    return -1;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    if (std::strncmp(path, kAdapterPrefix, sizeof(kAdapterPrefix) - 1) == 0)
        return openAdapter(path);
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    auto open = VirtualI2cAdapters::openDescriptors().find(fd);
    if (open == VirtualI2cAdapters::openDescriptors().end())
        return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
    VirtualAdapter& adapter = VirtualI2cAdapters::adapters()[open->second];
    if (request == I2C_RDWR) return transfer(adapter, static_cast<i2c_rdwr_ioctl_data*>(arg));
    ++adapter.otherIoctls;
    errno = ENOTTY;
    return -1;
}

extern "C" int close(int fd) {
    VirtualI2cAdapters::openDescriptors().erase(fd);
    return real<int (*)(int)>("close")(fd);
}
