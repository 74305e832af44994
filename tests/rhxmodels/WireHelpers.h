#pragma once

// Drives a virtual I2C bus the way a plain I2C master does, for tests of the chip models.

#include <cstdint>
#include <vector>

#include "sim/chips/I2cBus.h"

namespace qrttest {

// One write message: start, the bytes, stop. Returns how many bytes were acknowledged, or -1
// when the address was not.
inline int i2cWrite(qrtsim::I2cBus& bus, uint8_t address, const std::vector<uint8_t>& bytes) {
    if (!bus.start(address, false)) {
        bus.stop();
        return -1;
    }
    int acked = 0;
    for (uint8_t b : bytes) {
        if (!bus.writeByte(b)) break;
        ++acked;
    }
    bus.stop();
    return acked;
}

// One read message of `n` bytes (empty when the address was not acknowledged).
inline std::vector<uint8_t> i2cRead(qrtsim::I2cBus& bus, uint8_t address, size_t n) {
    std::vector<uint8_t> bytes;
    if (bus.start(address, true)) {
        for (size_t i = 0; i < n; ++i) bytes.push_back(bus.readByte(i + 1 == n));
    }
    bus.stop();
    return bytes;
}

}  // namespace qrttest
