#pragma once

#include "I_nkI2C.h"

// A Linux I2C adapter ("/dev/i2c-N").
class I_nkDTSI2C : public I_nkI2C {
  public:
    virtual int initial(unsigned int busNumber) = 0;
};
