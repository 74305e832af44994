#pragma once

#include "core/controllers/ethctrl/A_nkEthCtrlI2CMaster.h"

// The Intel X550's I2C master. The device address lives in the parameter register (bits 30:24,
// with the enable flags in bits 15, 16 and 31); the controller takes it over with the first
// command that carries the new-slave mark. Setup: the device must be the controller's first
// LAN function (status register bits 3:2 = 0), and three bits of the extended pin control
// register hand the I2C pins to the I2C master.
class A_nkX550EthCtrl : public A_nkEthCtrlI2CMaster {
  public:
    static constexpr uint64_t kStatusRegister = 0x0008;
    static constexpr uint32_t kLanIdBits = 0x0000000C;  // bits 3:2
    static constexpr uint64_t kPinControlRegister = 0x0020;
    static constexpr uint32_t kI2CPinBits = (1u << 18) | (1u << 19) | (1u << 26);

    int setI2CSlave(unsigned long slave) override;

  protected:
    explicit A_nkX550EthCtrl(const NK_ETHCTRLCHIP& chip);

    int setupController() override;
    uint8_t commandByte(bool read) override;
    uint32_t parameterWord(uint32_t asRead) const override;

    uint8_t m_writeOpcode = 0x00;
    uint8_t m_readOpcode = 0x08;
    // Parameter-register flags (bits 15, 16 and 31), set by the chip class.
    int m_parameterBit15 = 0;
    int m_parameterBit16 = 0;
    int m_parameterBit31 = 0;
};
