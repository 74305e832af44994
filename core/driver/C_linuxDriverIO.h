#pragma once

#include "core/common/C_ObjectLock.h"
#include "core/driver/A_driverIO.h"

// The channel to the kit's kernel driver on Linux: one open character device "/dev/<name>" on
// which requests are issued as ioctls carrying the record's address. Truth results.
class C_linuxDriverIO : public A_driverIO {
  public:
    C_linuxDriverIO() = default;
    ~C_linuxDriverIO() override;
    C_linuxDriverIO(const C_linuxDriverIO&) = delete;
    C_linuxDriverIO& operator=(const C_linuxDriverIO&) = delete;

    // Opens "/dev/<name>" read-write, closing a device opened before.
    unsigned open(const char* name) override;
    // Fails when no device is open; succeeds when the system call returns 0. The driver takes
    // the record's size from the request, so `length` is not passed on.
    unsigned ioctl(unsigned long request, void* record, unsigned int length) override;
    // Closes the device if open; always succeeds.
    unsigned close() override;
    const C_ObjectSemaphore* commandCacheLock() override { return &m_commandCacheLock; }

  private:
    static constexpr int kNotOpen = -1;
    int m_fd = kNotOpen;
    C_ObjectSemaphore m_commandCacheLock;
};
