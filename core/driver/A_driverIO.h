#pragma once

#include "core/driver/I_driverIO.h"

// Defaults of a driver channel: every operation answers -5 (not supported). Only derived
// channels are created.
class A_driverIO : public I_driverIO {
  public:
    ~A_driverIO() override;
    unsigned open(const char* name) override;
    unsigned ioctl(unsigned long request, void* record, unsigned int length) override;
    unsigned close() override;

  protected:
    A_driverIO() = default;
};
