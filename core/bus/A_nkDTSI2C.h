#pragma once

#include "core/bus/I_nkDTSI2C.h"
#include "core/bus/nkUnsupportedOperations.h"

// Base of the Linux I2C adapter: answers "not supported" until C_nkDTSI2C overrides.
class A_nkDTSI2C : public I_nkDTSI2C {
  public:
    NK_UNSUPPORTED_I2C_OPERATIONS
    int initial(unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
};
