#pragma once

#include "core/controllers/cpld/A_rhxCPLD.h"

// The CPLD as an I2C slave (on the 10-gigabit card, behind the Ethernet controller's I2C
// master). The bus moves two data bytes per write, so a register word goes out as two writes
// at reg and reg + 2, and the CPLD needs 5 ms after each of them.
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

    I_nkI2C* m_bus = nullptr;
    unsigned int m_regAddrSize = 0;
    unsigned int m_maxRegister = 0;
    char m_versionText[kVersionTextSize] = {};
};
