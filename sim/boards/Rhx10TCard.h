#pragma once

#include <array>
#include <memory>

#include "sim/boards/Board.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/IntelEthController.h"
#include "sim/chips/RhxCpld.h"
#include "sim/chips/RhxMcu.h"

namespace qrtsim {

// The PCIe-RHX10T, the two-port 10-gigabit PoE card. Its Intel X550 shows two LAN functions
// (8086:1563 each, status bits 3:2 = 0 and 1); the first one's I2C master carries the CPLD at
// 0x42, whose own I2C master carries the card microcontroller (0x2D) and the identity EEPROM
// (0x50) as on the other PoE cards. The CPLD reports the PCB revision (0..7) in its register
// 0x0C and the card identifier (0..255) at byte 0x7E, and sends its trigger packets to the
// X550's SMBus address 0x62. The EEPROM carries the part number "RHX53105-00" unless the rig
// says otherwise.
//
// Keys beyond the common ones: "poe_class0", "poe_class1" as on the other PoE cards, and
// "i2c_busy_polls", the command-register reads that show an I2C command still running
// (default 1).
class Rhx10TCard : public Board {
  public:
    static constexpr const char* kModel = "PCIe-RHX10T";
    static constexpr unsigned kPorts = 2;
    static constexpr const char* kPartNumber = "53105-00";
    static constexpr const char* kCpldVersion = "20190618_1030";
    static constexpr uint8_t kEthernetSmbusAddress = 0x62;
    static constexpr unsigned kDefaultPcbVersion = 2;
    // The bits of the CPLD's board word above the PCB revision: the assembly variant.
    static constexpr uint8_t kAssemblyVariant = 0xA8;

    Rhx10TCard(const BoardConfig& config, BoardContext& context);

    std::vector<PciFunction*> pciFunctions() override { return {lan_[0].get(), lan_[1].get()}; }
    void saveState(nlohmann::json& out) const override;
    std::map<std::string, FaultTable*> faultTables() override {
        return {{"lan0", &lan_[0]->faults()},
                {"lan1", &lan_[1]->faults()},
                {"cpld", &cpld_->i2cPort().faults},
                {"mcu", &mcu_->faults},
                {"eeprom", &eeprom_->faults}};
    }

    IntelEthController& lan(unsigned function) { return *lan_.at(function); }
    RhxCpld& cpld() { return *cpld_; }
    RhxMcu& mcu() { return *mcu_; }

  private:
    unsigned pcbVersion_ = 0;
    unsigned cardId_ = 0;
    std::array<std::unique_ptr<IntelEthController>, 2> lan_;
    std::unique_ptr<RhxCpld> cpld_;
    std::unique_ptr<RhxMcu> mcu_;
    std::unique_ptr<At24c02d> eeprom_;
};

}  // namespace qrtsim
