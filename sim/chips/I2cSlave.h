#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "sim/chips/FaultTable.h"

namespace qrtsim {

// A device on a virtual I2C bus, seen byte by byte as the wire carries it. The bus calls
// start() when the device's address goes out (with the direction bit), then writeByte() for
// every byte the master sends or readByte() for every byte it clocks in, and stop() at the
// stop condition. A repeated start is another start() without stop().
class I2cSlave {
  public:
    virtual ~I2cSlave() = default;
    // Returns the acknowledge of the address byte (false: the device does not answer).
    virtual bool start(bool read) = 0;
    // Returns the acknowledge of the data byte.
    virtual bool writeByte(uint8_t byte) = 0;
    // `last`: the master will not acknowledge this byte (end of the read).
    virtual uint8_t readByte(bool last) = 0;
    virtual void stop() = 0;
    virtual void saveState(nlohmann::json& out) const { (void)out; }

    // Faults injected while programs run, which the bus applies on the device's behalf:
    // "nack" (the device does not acknowledge its address, for "read" or "write" transfers)
    // and "ff" (the device lets the data line float: every byte read is 0xFF, although the
    // device goes through its read as usual).
    FaultTable faults{{"nack", "ff"}, {"read", "write"}};
};

}  // namespace qrtsim
