#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "sim/chips/I2cSlave.h"

namespace qrtsim {

// A virtual I2C bus: routes the conditions a master drives to the slave at the addressed
// 7-bit address. Used by Linux I2C adapters of the rig and by I2C masters inside chip models
// (the CPLD's bridge, the Ethernet controller's I2C master).
class I2cBus {
  public:
    struct Message {
        uint16_t address = 0;  // 7-bit address
        bool read = false;
        std::vector<uint8_t> data;  // bytes to write, or filled by a read
    };

    void attach(uint8_t address, I2cSlave* slave) { slaves_[address & 0x7F] = slave; }
    void detach(uint8_t address) { slaves_.erase(address & 0x7F); }
    I2cSlave* slaveAt(uint8_t address) const;

    // Low-level conditions, as a master state machine drives them.
    // start: the address byte; false when nobody acknowledges.
    bool start(uint8_t address, bool read);
    bool writeByte(uint8_t byte);
    uint8_t readByte(bool last);  // 0xFF (bus pulled high) when no slave is selected
    void stop();

    // Linux I2C_RDWR semantics: each message begins with a (repeated) start, one stop at the
    // end. Returns the number of messages fully transferred; stops at the first NACK.
    size_t transfer(std::vector<Message>& messages);

  private:
    std::map<uint8_t, I2cSlave*> slaves_;
    I2cSlave* selected_ = nullptr;
};

}  // namespace qrtsim
