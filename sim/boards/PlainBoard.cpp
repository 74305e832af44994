#include "sim/boards/PlainBoard.h"

#include <cstdio>

namespace qrtsim {

namespace {

constexpr uint16_t kVendorPlx = 0x10B5;
constexpr uint16_t kPex8608 = 0x8608;
constexpr uint16_t kPex8718 = 0x8718;
constexpr uint16_t kVendorIntel = 0x8086;
constexpr uint16_t kX550 = 0x1563;

// The frame-grabber cards and the 12-port USB3 cards carry a PEX 8608 (the 12-port card needs
// its sixteen pins); the 4- and 8-port USB3 cards a PEX 8718; the 10-gigabit card is found
// through its X550.
const std::vector<ProductIdentity> kProducts = {
    {"PCIe-RHX44+", true, kVendorPlx, kPex8608},
    {"PCIe-RHX52", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54", true, kVendorPlx, kPex8608},
    {"PCIe-RHX52PRO", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54PRO", true, kVendorPlx, kPex8608},
    {"PCIe-RHXGPU-P1000", true, kVendorPlx, kPex8608},
    {"PCIe-W504", true, kVendorPlx, kPex8718},
    {"PCIe-W508", true, kVendorPlx, kPex8718},
    {"PCIe-W512", true, kVendorPlx, kPex8608},
    {"PCIe-RHX10T", true, kVendorIntel, kX550},
    {"TULAN-KQX", false, 0, 0},
    {"PCIe-RHX52P", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54P", true, kVendorPlx, kPex8608},
    {"PCIe-RHX52PPRO", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54PPRO", true, kVendorPlx, kPex8608},
    {"PCIe-W504P", true, kVendorPlx, kPex8718},
    {"PCIe-W508P", true, kVendorPlx, kPex8718},
    {"PCIe-W512P", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54I", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54IPRO", true, kVendorPlx, kPex8608},
    {"PCIe-RHX54PAT", true, kVendorPlx, kPex8608},
};

std::string hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

const std::vector<ProductIdentity>& productIdentities() {
    return kProducts;
}

const ProductIdentity* findProductIdentity(const std::string& model) {
    for (const auto& product : kProducts)
        if (model == product.model) return &product;
    return nullptr;
}

uint32_t RegisterFileFunction::readRegister32(uint64_t offset) {
    auto it = cells_.find(offset);
    return it == cells_.end() ? 0 : it->second;
}

void RegisterFileFunction::writeRegister32(uint64_t offset, uint32_t value) {
    cells_[offset] = value;
}

void RegisterFileFunction::saveState(nlohmann::json& out) const {
    out = nlohmann::json::object();
    for (const auto& cell : cells_) out[hex(cell.first, 3)] = hex(cell.second, 8);
}

PlainBoard::PlainBoard(const ProductIdentity& identity) : identity_(identity) {
    if (identity.hasPciFunction)
        function_ = std::make_unique<RegisterFileFunction>(identity.vendorId, identity.deviceId);
}

std::vector<PciFunction*> PlainBoard::pciFunctions() {
    if (!function_) return {};
    return {function_.get()};
}

void PlainBoard::saveState(nlohmann::json& out) const {
    out["model"] = identity_.model;
    out["plain"] = true;
    if (function_) function_->saveState(out["registers"]);
}

std::unique_ptr<BoardType> plainBoardType(const std::string& model) {
    const ProductIdentity* identity = findProductIdentity(model);
    if (identity == nullptr) return nullptr;
    auto type = std::make_unique<BoardType>();
    type->model = identity->model;
    type->make = [identity](const BoardConfig&, BoardContext&) -> std::unique_ptr<Board> {
        return std::make_unique<PlainBoard>(*identity);
    };
    return type;
}

}  // namespace qrtsim
