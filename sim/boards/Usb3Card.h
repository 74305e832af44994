#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/boards/Board.h"
#include "sim/chips/PexSwitch.h"
#include "sim/chips/Usb3CardMcu.h"

namespace qrtsim {

// What one USB3 host card model is made of.
struct Usb3CardModel {
    const char* model;  // "PCIe-W504"
    unsigned ports;
    bool externalSupply;  // the "P" boards: the PCB revision carries the supply input

    // The board part number (without the 3-character prefix the factory puts before it):
    // "53104-", the port count in fours, then the supply option (1 with the supply input).
    std::string partNumber() const;
};

// A PCIe USB3 host card: a PEX switch carrying the USB controllers, and the card
// microcontroller on the switch's serial-EEPROM port switching the power of up to eight
// channels. The board wires:
//   - port power: the 4-port card populates every other microcontroller channel (port i on
//     channel 2i), the 8-port card channels 0..7; the 12-port card adds ports 8..11 on the
//     switch pin pairs 6/7 and 8/9, each pair crossed (the higher pin carries the lower port:
//     pins 7, 6, 9, 8), whose power switch is on while the pin floats (input) and off while the
//     switch drives it;
//   - the PCB revision as two straps, weight 1 and 2: pins 0 and 4 on a PEX 8718, pins 2 and 10
//     on a PEX 8608;
//   - the external supply sense on pin 1, pulled low while a supply is plugged in.
// The 4- and 8-port cards were built with either switch (PEX 8718 by default); the 12-port
// card needs the PEX 8608's sixteen pins.
class Usb3Card : public Board {
  public:
    static const std::vector<Usb3CardModel>& models();

    // Throws RigError for a bad rig key.
    Usb3Card(const Usb3CardModel& model, const BoardConfig& config, BoardContext& context);

    std::vector<PciFunction*> pciFunctions() override { return {switch_.get()}; }
    void saveState(nlohmann::json& out) const override;
    std::map<std::string, FaultTable*> faultTables() override {
        return {{"switch", &switch_->faults()}, {"mcu", &mcu_->faults}};
    }

    // Whether user port `port` has power, as the hardware stands.
    bool portPowered(unsigned port) const;
    bool externalSupplyConnected() const;

    PexSwitch& pciSwitch() { return *switch_; }
    Usb3CardMcu& mcu() { return *mcu_; }

  private:
    struct PortLine {
        bool onPin;  // else a microcontroller channel
        unsigned index;
    };
    static constexpr unsigned kSupplySensePin = 1;

    const Usb3CardModel& model_;
    unsigned pcbVersion_;
    std::vector<PortLine> ports_;
    std::unique_ptr<PexSwitch> switch_;
    std::unique_ptr<Usb3CardMcu> mcu_;
};

}  // namespace qrtsim
