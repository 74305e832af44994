#pragma once

#include "core/bus/I_nkPCISwitcher.h"
#include "core/bus/nkUnsupportedOperations.h"

// Base of the PCIe switch classes: a switch that offers nothing. The chip classes override
// what their silicon really has (pins and the serial-EEPROM port; no switch has I2C).
class A_nkPCISwitcher : public I_nkPCISwitcher {
  public:
    NK_UNSUPPORTED_GPIO_OPERATIONS
    NK_UNSUPPORTED_I2C_OPERATIONS
    NK_UNSUPPORTED_SPI_OPERATIONS
    NK_UNSUPPORTED_CHIP_OPERATIONS
    int getGPOAddr(int*) override { return QRT_ERR_NOT_SUPPORTED; }
};
