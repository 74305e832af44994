#pragma once

#include "core/common/C_ObjectLock.h"
#include "core/controllers/eeprom/A_nkEEPROM.h"

// Microchip AT24C02D: 256 bytes behind a one-byte word address, written in pages of 8.
class C_nkAT24C02D : public A_nkEEPROM {
  public:
    static constexpr unsigned long kLastAddress = 255;
    static constexpr unsigned int kWordAddressSize = 1;
    static constexpr unsigned int kWriteChunk = 8;
    // Self-timed write cycle: the device ignores its address until a page write has been
    // programmed.
    static constexpr int kWriteCycleMs = 5;

    C_nkAT24C02D();
    ~C_nkAT24C02D() override;

    int initial(I_nkI2C* bus) override;
    int readData(unsigned long address, unsigned char* buf, unsigned int len) override;
    int writeData(unsigned long address, unsigned char* data, unsigned int len) override;

  private:
    C_ObjectSemaphore m_lock;
    I_nkI2C* m_bus = nullptr;
};
