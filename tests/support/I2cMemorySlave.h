#pragma once

#include <array>
#include <cstdint>

#include "sim/chips/I2cSlave.h"

namespace qrttest {

// A 256-byte memory on an I2C bus, the way small serial EEPROMs behave: the first byte of a
// write sets the address pointer, further bytes are stored at the pointer, reads return bytes
// from the pointer on; the pointer advances and wraps.
class I2cMemorySlave : public qrtsim::I2cSlave {
  public:
    std::array<uint8_t, 256> memory{};
    uint8_t pointer = 0;
    unsigned starts = 0;
    unsigned stops = 0;

    bool start(bool read) override {
        ++starts;
        expectPointer_ = !read;
        return true;
    }
    bool writeByte(uint8_t byte) override {
        if (expectPointer_)
            pointer = byte;
        else
            memory[pointer++] = byte;
        expectPointer_ = false;
        return true;
    }
    uint8_t readByte(bool) override { return memory[pointer++]; }
    void stop() override { ++stops; }

  private:
    bool expectPointer_ = false;
};

}  // namespace qrttest
