#pragma once

#include "core/bus/I_nkI2C.h"

// A serial EEPROM on an I2C bus. The owner of the bus selects the device's slave address.
class I_nkEEPROM {
  public:
    virtual ~I_nkEEPROM() {}
    virtual int initial(I_nkI2C* bus) = 0;
    virtual int readData(unsigned long address, unsigned char* buf, unsigned int len) = 0;
    virtual int writeData(unsigned long address, unsigned char* data, unsigned int len) = 0;
};
