#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/chips/I2cBus.h"

namespace qrttest {

// Linux I2C adapters that exist only in this test program. open(), ioctl() and close() are
// interposed for the whole program (VirtualI2cAdapters.cpp): "/dev/i2c-N" opens adapter N if
// a test added it (ENOENT otherwise), and each I2C_RDWR on its descriptor is recorded and
// carried out on the adapter's bus as the kernel would: the number of messages, or -1 when
// one is not acknowledged. Other paths and descriptors go to the C library. Single-threaded.
struct VirtualAdapter {
    struct Message {
        uint16_t address;  // as the message carried it
        uint16_t flags;
        std::vector<uint8_t> data;  // written bytes, or what the read returned
    };
    qrtsim::I2cBus bus;
    std::vector<Message> messages;  // every message of every I2C_RDWR, in order
    int rdwrCalls = 0;
    int otherIoctls = 0;
    int refuseNext = 0;     // the next calls fail with -1 without reaching the bus
    int forcedResult = -1;  // >= 0: every call returns this without reaching the bus
};

struct VirtualI2cAdapters {
    static std::map<unsigned, VirtualAdapter>& adapters();  // by adapter number
    static std::map<int, unsigned>& openDescriptors();      // descriptor -> adapter number
};

}  // namespace qrttest
