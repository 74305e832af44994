#pragma once

#include "core/bus/I_nkEthCtrl.h"
#include "core/bus/nkUnsupportedOperations.h"

// Base of the Ethernet controller classes: a controller that offers nothing. The controller
// classes override the I2C master, the lock pair, the chip name and initial.
class A_nkEthCtrl : public I_nkEthCtrl {
  public:
    NK_UNSUPPORTED_GPIO_OPERATIONS
    NK_UNSUPPORTED_I2C_OPERATIONS
    NK_UNSUPPORTED_SPI_OPERATIONS
    NK_UNSUPPORTED_CHIP_OPERATIONS
};
