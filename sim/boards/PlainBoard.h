#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/boards/Board.h"
#include "sim/chips/PciFunction.h"

namespace qrtsim {

// The PCI identity a product shows the kit's driver: the function the driver's scan finds on
// the card (PCIe switch or Ethernet controller). The embedded system has none.
struct ProductIdentity {
    const char* model;  // the product's model string
    bool hasPciFunction;
    uint16_t vendorId;
    uint16_t deviceId;
};

// Every product model of the kit, in the order of its product type values.
const std::vector<ProductIdentity>& productIdentities();
const ProductIdentity* findProductIdentity(const std::string& model);

// A PCI function that is nothing but 32-bit cells: reads return what was last written, 0 for a
// cell never written.
class RegisterFileFunction : public PciFunction {
  public:
    RegisterFileFunction(uint16_t vendorId, uint16_t deviceId)
        : vendorId_(vendorId), deviceId_(deviceId) {}

    uint16_t vendorId() const override { return vendorId_; }
    uint16_t deviceId() const override { return deviceId_; }
    uint32_t readRegister32(uint64_t offset) override;
    void writeRegister32(uint64_t offset, uint32_t value) override;
    // The cells written so far, as {"0x644": "0x00000003"}.
    void saveState(nlohmann::json& out) const override;

  private:
    uint16_t vendorId_;
    uint16_t deviceId_;
    std::map<uint64_t, uint32_t> cells_;
};

// Stand-in for a product whose board model is not built: the product's PCI function with a
// plain register file, so that the driver finds the card and programs can reach it. A
// registered board type for the model takes its place.
class PlainBoard : public Board {
  public:
    explicit PlainBoard(const ProductIdentity& identity);

    std::vector<PciFunction*> pciFunctions() override;
    void saveState(nlohmann::json& out) const override;

  private:
    const ProductIdentity& identity_;
    std::unique_ptr<RegisterFileFunction> function_;
};

// The board type the rig uses for `model` when no board type is registered for it; null when
// the model is no product of the kit.
std::unique_ptr<BoardType> plainBoardType(const std::string& model);

}  // namespace qrtsim
