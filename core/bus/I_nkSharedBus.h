#pragma once

class A_deviceAccessLock;

// A bus on a device that other processes reach too: a card's PCI function (the switch's pins
// and serial port, the Ethernet controller's I2C master, the CPLD behind either), a Linux I2C
// adapter. It names the lock that keeps them off the device, so that a controller on the bus
// can hold its whole exchange (command, pause, reply) against them, not just each transfer.
class I_nkSharedBus {
  public:
    virtual ~I_nkSharedBus() {}
    // The device's access lock; null while the bus is bound to no device.
    virtual A_deviceAccessLock* deviceAccessLock() = 0;
};

// The access lock of the device under `bus` (any bus interface), or null when the bus has none:
// not bound yet, or a stand-in that no other process can reach.
template <class Bus>
A_deviceAccessLock* deviceAccessLockOf(Bus* bus) {
    I_nkSharedBus* shared = dynamic_cast<I_nkSharedBus*>(bus);
    return shared != nullptr ? shared->deviceAccessLock() : nullptr;
}
