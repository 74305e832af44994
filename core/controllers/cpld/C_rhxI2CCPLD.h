#pragma once

#include "core/controllers/cpld/A_rhxCPLD.h"

// The CPLD as an I2C slave (on the 10-gigabit card, behind the Ethernet controller's I2C
// master). The bus moves two data bytes per write, so a register word goes out as two writes
// at reg and reg + 2, and the CPLD needs 5 ms after each of them. A write the bus reported
// failed may still have reached the CPLD (the bus lost sight of it after sending it): the next
// access then waits those 5 ms first.
class C_rhxI2CCPLD : public A_rhxCPLD {
  public:
    static constexpr unsigned long kRegVersionTime = 0x74;
    static constexpr unsigned long kRegVersionDate = 0x78;
    static constexpr unsigned int kBusWriteLength = 2;
    static constexpr int kWritePauseMs = 5;
    static constexpr unsigned int kVersionTextSize = 32;

    C_rhxI2CCPLD();

    using A_rhxCPLD::initial;
    int initial(I_nkI2C* bus) override;
    int getVersion(char* text, unsigned int size) override;
    int readData(unsigned long reg, RHXCPLD_READDATA* word) override;
    int writeData(unsigned long reg, RHXCPLD_WRITEDATA* word, unsigned int length) override;
    void release() override;
    // The access lock of the device whose bus carries the CPLD.
    A_deviceAccessLock* deviceAccessLock() override;

  private:
    int readRegister(unsigned long reg, RHXCPLD_READDATA* word);
    bool registerInRange(unsigned long reg) const;
    // One 2-byte bus write and the CPLD's pause after it.
    int writeOnBus(unsigned long reg, unsigned char* data);
    // The pause a failed write may still need, before the next access.
    void settleFailedWrite();

    I_nkI2C* m_bus = nullptr;
    unsigned int m_regAddrSize = 0;
    unsigned int m_maxRegister = 0;
    char m_versionText[kVersionTextSize] = {};
    bool m_failedWrite = false;  // the last bus write failed and has had no pause since
};
