#pragma once

#include "core/controllers/cpld/A_rhxCPLD.h"

// The CPLD behind the PCIe switch's serial port. Each register is one 4-byte block of the
// port; after every access the CPLD's SPI-busy flag is polled until the CPLD has digested it.
class C_rhxSPICPLD : public A_rhxCPLD {
  public:
    static constexpr unsigned long kRegStatus = 0x2000;  // the I2C master status word
    static constexpr unsigned long kRegVersionWord = 0x201C;
    static constexpr unsigned long kRegVersionTime = 0x704;  // after the marker word
    static constexpr unsigned long kRegVersionDate = 0x708;
    static constexpr unsigned long kVersionMarker = 0xF0F0F0F0;
    static constexpr unsigned long kVersionAbsent = 0xFFFFFFFF;
    static constexpr int kBusyPolls = 1000;
    static constexpr unsigned int kVersionTextSize = 32;

    C_rhxSPICPLD();

    using A_rhxCPLD::initial;
    int initial(I_nkSPI* spi) override;
    int getVersion(char* text, unsigned int size) override;
    int readData(unsigned long reg, RHXCPLD_READDATA* word) override;
    int writeData(unsigned long reg, RHXCPLD_WRITEDATA* word, unsigned int length) override;
    void release() override;
    // The access lock of the device whose bus carries the CPLD.
    A_deviceAccessLock* deviceAccessLock() override;

  private:
    int readRegister(unsigned long reg, RHXCPLD_READDATA* word);
    void waitWhileBusy();

    I_nkSPI* m_spi = nullptr;
    char m_versionText[kVersionTextSize] = {};
};
