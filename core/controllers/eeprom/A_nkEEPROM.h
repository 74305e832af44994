#pragma once

#include "QRT_Types.h"
#include "core/controllers/eeprom/I_nkEEPROM.h"

// Base of the EEPROM devices: every operation is not supported.
class A_nkEEPROM : public I_nkEEPROM {
  public:
    int initial(I_nkI2C*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readData(unsigned long, unsigned char*, unsigned int) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int writeData(unsigned long, unsigned char*, unsigned int) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
};
