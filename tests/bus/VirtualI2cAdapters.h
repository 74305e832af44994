#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "sim/chips/I2cBus.h"

namespace qrttest {

// Linux I2C adapters that exist only in this test program. open(), ioctl() and close() are
// interposed for the whole program (VirtualI2cAdapters.cpp): "/dev/i2c-N" opens adapter N when
// a test has added it (and fails with ENOENT otherwise), and every I2C_RDWR on such a
// descriptor is recorded and carried out on the adapter's qrtsim::I2cBus, as the kernel would:
// the call returns the number of messages, or -1 when a message is not acknowledged. Every
// other path and descriptor goes to the real C library.
struct VirtualAdapter {
    struct Message {
        uint16_t address;  // as the message carried it, before the bus masks it to 7 bits
        uint16_t flags;
        std::vector<uint8_t> data;  // written bytes, or what the read returned
    };

    qrtsim::I2cBus bus;
    std::vector<Message> messages;  // every message of every I2C_RDWR call, in order
    int rdwrCalls = 0;
    int refuseNext = 0;     // the next calls fail with -1 (EREMOTEIO) without reaching the bus
    int forcedResult = -1;  // >= 0: every call returns this without reaching the bus
    int otherIoctls = 0;    // requests other than I2C_RDWR
};

class VirtualI2cAdapters {
  public:
    static VirtualI2cAdapters& instance();

    // Adapter N from now on; replaces an earlier one with that number.
    VirtualAdapter& add(unsigned number);
    void clear();
    // Descriptors of virtual adapters currently open.
    size_t openDescriptors();
    // Opens of "/dev/i2c-N" paths, successful or not.
    int openCalls();

    // Used by the interposed calls.
    int open(const char* path);
    bool owns(int fd);
    int rdwr(int fd, void* arg);
    void countOtherIoctl(int fd);
    void closed(int fd);

  private:
    std::mutex m_mutex;
    std::map<unsigned, VirtualAdapter> m_adapters;
    std::map<int, unsigned> m_descriptors;  // open descriptor -> adapter number
    int m_openCalls = 0;
};

}  // namespace qrttest
