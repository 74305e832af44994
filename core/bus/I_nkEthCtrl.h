#pragma once

#include "I_nkGPIO.h"
#include "I_nkI2C.h"
#include "I_nkSPI.h"

// An Ethernet controller (X550, I210) whose I2C command register drives an I2C master.
class I_nkEthCtrl : public I_nkGPIO, public I_nkI2C, public I_nkSPI {
  public:
    virtual int tryLockOpation() = 0;
    virtual int unLockOpation() = 0;
    virtual int getChipName(char* name, unsigned int size) = 0;
    virtual int initial(void* pciMap) = 0;
};
