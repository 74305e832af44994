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
    // Hardware state for `qrt-sim --state`.
    virtual void saveState(nlohmann::json& out) const { (void)out; }
};

}  // namespace qrtsim
