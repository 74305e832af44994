#pragma once

#include "I_nkGPIO.h"
#include "I_nkI2C.h"
#include "I_nkSPI.h"

// A PCIe switch: pins, serial-EEPROM port and the driver's device access lock.
class I_nkPCISwitcher : public I_nkGPIO, public I_nkI2C, public I_nkSPI {
  public:
    virtual int tryLockOpation() = 0;
    virtual int unLockOpation() = 0;
    // Copies min(size, strlen(name)) characters, no terminator added.
    virtual int getChipName(char* name, unsigned int size) = 0;
    // Binds to an I_pciMap* and checks the device identity.
    virtual int initial(void* pciMap) = 0;
    virtual int getGPOAddr(int* offset) = 0;
};
