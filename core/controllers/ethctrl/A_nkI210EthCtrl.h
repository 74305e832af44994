#pragma once

#include "core/controllers/ethctrl/A_nkEthCtrlI2CMaster.h"

// The Intel I210's I2C master. It reaches eight devices: the low three bits of the address
// travel in every command (bits 26:24), so only those bits are kept. The parameter register
// needs its enable flag (bit 15); setup sets bit 1 of the extended control register.
class A_nkI210EthCtrl : public A_nkEthCtrlI2CMaster {
  public:
    static constexpr uint64_t kExtendedControlRegister = 0x0018;
    static constexpr uint32_t kI2CEnableBit = 1u << 1;
    static constexpr uint8_t kAddressBits = 0x07;

    int setI2CSlave(unsigned long slave) override;

  protected:
    explicit A_nkI210EthCtrl(const NK_ETHCTRLCHIP& chip);

    int setupController() override;
    uint8_t commandByte(bool read) override;
    uint32_t parameterWord(uint32_t asRead) const override;

    int m_parameterBit15 = 0;  // set by the chip class
};
