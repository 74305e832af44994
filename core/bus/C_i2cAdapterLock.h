#pragma once

#include "core/common/A_deviceAccessLock.h"

// An advisory lock on a Linux I2C adapter's device node (flock on the open descriptor). The
// kernel serialises single messages only; every process of the kit takes this lock around a
// transaction of several messages (a register write, the pause and the read of the answer), so
// that another process's messages never fall in between. The kernel drops it when the
// descriptor closes, a process that dies included.
class C_i2cAdapterLock : public A_deviceAccessLock {
  public:
    // `fd` is the adapter descriptor of the bus object, which reopens it on a new binding.
    explicit C_i2cAdapterLock(const int& fd) : m_fd(fd) {}

  protected:
    int lockDevice() override;
    int unlockDevice() override;

  private:
    const int& m_fd;
};
