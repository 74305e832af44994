#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

namespace qrtsim {

// A virtual PCI function as the kit's kernel driver sees it: a vendor/device identity and a
// 32-bit register space. A chip model (PCIe switch, Ethernet controller) implements it.
class PciFunction {
  public:
    virtual ~PciFunction() = default;
    virtual uint16_t vendorId() const = 0;
    virtual uint16_t deviceId() const = 0;
    // One aligned 32-bit register access at a byte offset of the function's register space.
    virtual uint32_t readRegister32(uint64_t offset) = 0;
    virtual void writeRegister32(uint64_t offset, uint32_t value) = 0;
    // The driver's command cache runs its queued writes back to back. After each of them it
    // tells the function how long it waited before the next one (the command's settling time,
    // in microseconds), and when the queue is done, that it has been executed: a function whose
    // hardware cares how its register writes are spaced in time listens here.
    virtual void cachedWriteSettled(uint32_t microseconds) { (void)microseconds; }
    // A cached command is a masked write: the driver tells the function, before the register
    // write that carries it out, which bits of the register the command drives (the others
    // are written back as read). A function whose pins care which lines a write drives listens.
    virtual void cachedWriteMask(uint64_t offset, uint64_t mask) {
        (void)offset;
        (void)mask;
    }
    virtual void commandCacheExecuted() {}
    // Hardware state for `qrt-sim --state`.
    virtual void saveState(nlohmann::json& out) const { (void)out; }
};

}  // namespace qrtsim
