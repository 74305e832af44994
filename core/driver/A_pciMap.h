#pragma once

#include "QRT_Types.h"
#include "core/driver/I_pciMap.h"

// Defaults of a PCI map: every operation answers -5 (not supported). Only derived maps are
// created.
class A_pciMap : public I_pciMap {
  public:
    ~A_pciMap() override;
    int initial(I_driverIO*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDeviceInfo(int*, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readRegister(unsigned long, unsigned, unsigned char*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int writeRegister(unsigned long, unsigned, unsigned char*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int cacheWriteCmds(unsigned long, unsigned, unsigned char*, unsigned char*, unsigned,
                       unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int clearCmdCache() override { return QRT_ERR_NOT_SUPPORTED; }
    int exeCmdCache() override { return QRT_ERR_NOT_SUPPORTED; }
    int tryLock() override { return QRT_ERR_NOT_SUPPORTED; }
    int unLock() override { return QRT_ERR_NOT_SUPPORTED; }
    A_deviceAccessLock* deviceAccessLock() override;

  protected:
    A_pciMap() = default;
};
