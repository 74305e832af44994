#pragma once

#include <memory>

#include "core/driver/I_driverIO.h"

// Owns the process's one channel to the kernel driver. Destroying the factory closes it.
class C_driverIOFactory {
  public:
    C_driverIOFactory();
    ~C_driverIOFactory();
    C_driverIOFactory(const C_driverIOFactory&) = delete;
    C_driverIOFactory& operator=(const C_driverIOFactory&) = delete;

    // The channel, created on first use; null only when it cannot be allocated.
    I_driverIO* create();

  private:
    std::unique_ptr<I_driverIO> m_io;
};
