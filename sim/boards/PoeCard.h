#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/boards/Board.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/PexSwitch.h"
#include "sim/chips/RhxCpld.h"
#include "sim/chips/RhxMcu.h"

namespace qrtsim {

// What one PoE frame-grabber card model is made of.
struct PoeCardModel {
    const char* model;        // "PCIe-RHX54P"
    unsigned ports;           // camera ports: 2 or 4
    unsigned pcbVersion;      // PCB revision the straps carry unless the rig says otherwise
    const char* cpldVersion;  // design stamp of the CPLD it ships with, "YYYYMMDD_hhmm"
    const char* partNumber;   // board part number in the EEPROM; null: the board has none
    bool toe;                 // the CPLD's packets reach the Ethernet controllers (Pro line)
    bool fan;                 // a fan on the microcontroller (the on-board GPU's cooler)
};

// A PoE frame-grabber card on a PEX 8608 switch. The switch's serial-EEPROM port carries the
// CPLD; the CPLD's own I2C master carries the card microcontroller (0x2D) and the identity
// EEPROM (0x50). The switch pins carry the board straps:
//   - pins 2, 3, 4, 5 and 10: PCB revision bits 0 to 4;
//   - pins 6, 7, 8 and 9: card identifier bits 0 to 3, active low (a rotary switch pulls them
//     down);
//   - pin 11: tied low on every board;
//   - pin 12: tied high on the two-port boards, low on the four-port ones;
//   - the other pins float high on their pull-ups.
// The EEPROM holds the port MAC addresses at 8-byte slots from 0x00, the serial number at 0x40
// and the part number at 0x60, each text NUL-padded to the end of its 32-byte field. On the Pro
// boards the CPLD's SMBus sender reaches the port Ethernet controllers (SMBus address 0x49);
// the packets they put on the wire go to the rig's frame sink.
class PoeCard : public Board {
  public:
    static constexpr unsigned kPcbVersionPins[5] = {2, 3, 4, 5, 10};
    static constexpr unsigned kCardIdPins[4] = {6, 7, 8, 9};
    static constexpr unsigned kTiedLowPin = 11;
    static constexpr unsigned kTwoPortPin = 12;

    static constexpr uint8_t kMacSlot = 0x00;  // port i at kMacSlot + 8 * i
    static constexpr uint8_t kSerialNumberField = 0x40;
    static constexpr uint8_t kPartNumberField = 0x60;
    static constexpr unsigned kTextField = 32;  // bytes, terminator included
    static constexpr uint8_t kEthernetSmbusAddress = 0x49;
    // The switch's direction register as the board's configuration leaves it: every pin an
    // input, the other bit of every pin's field set.
    static constexpr uint32_t kPowerOnDirection = 0x55555555;

    static const std::vector<PoeCardModel>& models();
    // The MAC address a port gets when the rig file gives none: locally administered, derived
    // from the section name so that it is the same on every run.
    static std::array<uint8_t, 6> defaultMac(const std::string& section, unsigned port);

    // Chips every PoE board builds alike from its rig keys (the 10-gigabit card and the
    // PCIe-RHX44+ too): the CPLD's stamp ("cpld_version", "cpld_packed"), the microcontroller
    // ("mcu_version", "temperature", "power_source", "poe_classN") and the identity EEPROM
    // ("macN", "sn", "pn"; `partNumber` null: the board has none).
    static void refusePortKeysBeyond(const BoardConfig& config, const char* model, unsigned ports);
    static RhxCpld::Version cpldVersion(const BoardConfig& config, const char* fallback);
    static std::unique_ptr<RhxMcu> makeMcu(const BoardConfig& config, unsigned ports, bool fan);
    static std::unique_ptr<At24c02d> makeEeprom(const BoardConfig& config, unsigned ports,
                                                const char* partNumber);
    // The EEPROM's state with the identity decoded from its bytes (a program may have
    // rewritten them).
    static void saveEeprom(const At24c02d& eeprom, unsigned ports, nlohmann::json& out);

    // Throws RigError for a bad rig key.
    PoeCard(const PoeCardModel& model, const BoardConfig& config, BoardContext& context);

    std::vector<PciFunction*> pciFunctions() override { return {switch_.get()}; }
    void saveState(nlohmann::json& out) const override;
    std::map<std::string, FaultTable*> faultTables() override {
        return {{"switch", &switch_->faults()},
                {"cpld", &cpld_->spiPort().faults},
                {"mcu", &mcu_->faults},
                {"eeprom", &eeprom_->faults}};
    }

    const PoeCardModel& model() const { return model_; }
    PexSwitch& pciSwitch() { return *switch_; }
    RhxCpld& cpld() { return *cpld_; }
    RhxMcu& mcu() { return *mcu_; }
    At24c02d& eeprom() { return *eeprom_; }

  private:
    void wireStraps(unsigned pcbVersion, unsigned cardId);
    void configureCpld(const BoardConfig& config);

    const PoeCardModel& model_;
    unsigned pcbVersion_ = 0;
    unsigned cardId_ = 0;
    std::unique_ptr<PexSwitch> switch_;
    std::unique_ptr<RhxCpld> cpld_;
    std::unique_ptr<RhxMcu> mcu_;
    std::unique_ptr<At24c02d> eeprom_;
};

}  // namespace qrtsim
