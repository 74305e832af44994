#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "sim/chips/FaultTable.h"

namespace qrtsim {

// A device on a PCIe switch's serial-EEPROM port. The switch hands it 32-bit words addressed
// by block index: a write command delivers the word last written to the data register, a read
// command latches the returned word into the data register.
class SerialPortDevice {
  public:
    virtual ~SerialPortDevice() = default;
    virtual void writeBlock(uint32_t blockIndex, uint32_t word) = 0;
    virtual uint32_t readBlock(uint32_t blockIndex) = 0;
    virtual void saveState(nlohmann::json& out) const { (void)out; }
    // The host has collected the word of the last read from the switch's data register.
    virtual void wordCollected() {}

    // Faults injected while programs run, which the switch applies on the device's behalf:
    // "ff" (the device's data line floats: every word read is all ones, although the device
    // goes through its read as usual).
    FaultTable faults{{"ff"}};
};

}  // namespace qrtsim
