#pragma once

#include <memory>
#include <vector>

#include "core/bus/I_nkI2C.h"

// Creates and owns the Linux I2C adapter objects. Consumers borrow the returned bus; it lives
// until the factory is destroyed.
class C_nkI2CFactory {
  public:
    C_nkI2CFactory();
    ~C_nkI2CFactory();

    // A bus object bound to "/dev/i2c-<busNumber>". An adapter without a device node still
    // gives an object (its transfers fail), so the caller always gets a usable pointer unless
    // the object's lock could not be taken.
    I_nkI2C* create(unsigned int busNumber);

    C_nkI2CFactory(const C_nkI2CFactory&) = delete;
    C_nkI2CFactory& operator=(const C_nkI2CFactory&) = delete;

  private:
    std::vector<std::unique_ptr<I_nkI2C>> m_buses;
};
