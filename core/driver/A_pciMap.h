#pragma once

#include "core/driver/I_pciMap.h"

// Defaults of a PCI map: every operation answers -5 (not supported). Only derived maps are
// created.
class A_pciMap : public I_pciMap {
  public:
    ~A_pciMap() override;
    int initial(I_driverIO* io, unsigned index) override;
    int getDeviceInfo(int* a, int* b) override;
    int readRegister(unsigned long offset, unsigned width, unsigned char* data,
                     unsigned length) override;
    int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                      unsigned length) override;
    int cacheWriteCmds(unsigned long offset, unsigned width, unsigned char* data,
                       unsigned char* second, unsigned length, unsigned last) override;
    int clearCmdCache() override;
    int exeCmdCache() override;
    int tryLock() override;
    int unLock() override;
    A_deviceAccessLock* deviceAccessLock() override;

  protected:
    A_pciMap() = default;
};
