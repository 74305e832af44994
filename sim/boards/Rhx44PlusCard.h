#pragma once

#include <cstdint>
#include <memory>

#include "sim/boards/Board.h"
#include "sim/chips/GpioI2cDecoder.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/PexSwitch.h"
#include "sim/chips/PsePowerChip.h"
#include "sim/chips/RhxCpld.h"

namespace qrtsim {

// The PCIe-RHX44+, the oldest PoE card: a PEX 8608 switch with the CPLD on its serial-EEPROM
// port, but no microcontroller and no identity EEPROM behind the CPLD. The PoE power chip
// (0x20) sits on an I2C bus that the host bit-bangs on switch pins 0 (clock) and 1 (data),
// both pulled up; the other pins carry the straps of the other PoE cards (PCB revision on pins
// 2, 3, 4, 5 and 10, 5 or more on this board; card identifier on pins 6 to 9, active low; pin 11
// tied low).
//
// Every pin change the switch makes reaches the bus decoder with its time and the lines the
// write drives: a register write takes 1 us, the driver's command cache adds each command's
// settling time (a masked write drives only its mask's pins; a plain write drives them all),
// and a write that is not part of a command cache run follows a long idle gap. Each clock phase
// must last 10 us on this board's slow lines.
//
// Keys beyond the common ones: "cpld_packed". The keys of a microcontroller or an EEPROM
// ("sn", "pn", "mcu_version", "power_source", "temperature") do not apply.
class Rhx44PlusCard : public Board {
  public:
    static constexpr const char* kModel = "PCIe-RHX44+";
    static constexpr const char* kCpldVersion = "20151020_1000";
    static constexpr unsigned kDefaultPcbVersion = 5;
    static constexpr unsigned kClockPin = 0;
    static constexpr unsigned kDataPin = 1;
    static constexpr uint64_t kPinWriteNs = 1000;
    static constexpr uint64_t kIdleGapNs = 1000000;
    // The bus lines of this board are slow (strong filtering, weak pull-ups): the power chip
    // takes a clock phase only when it lasts 10 us, high or low.
    static constexpr uint64_t kClockPhaseMinNs = 10000;

    Rhx44PlusCard(const BoardConfig& config, BoardContext& context);

    std::vector<PciFunction*> pciFunctions() override { return {&pins_}; }
    void saveState(nlohmann::json& out) const override;
    std::map<std::string, FaultTable*> faultTables() override {
        return {{"switch", &switch_->faults()},
                {"cpld", &cpld_->spiPort().faults},
                {"power_chip", &powerChip_.faults}};
    }

    PexSwitch& pciSwitch() { return *switch_; }
    PsePowerChip& powerChip() { return powerChip_; }
    GpioI2cDecoder& gpioBus() { return decoder_; }

  private:
    // The switch as the driver reaches it: every write is passed on, then the levels of the
    // two bus pins go to the decoder.
    class WatchedSwitch : public PciFunction {
      public:
        explicit WatchedSwitch(Rhx44PlusCard& card) : card_(card) {}
        uint16_t vendorId() const override { return card_.switch_->vendorId(); }
        uint16_t deviceId() const override { return card_.switch_->deviceId(); }
        uint32_t readRegister32(uint64_t offset) override {
            return card_.switch_->readRegister32(offset);
        }
        void writeRegister32(uint64_t offset, uint32_t value) override;
        void cachedWriteSettled(uint32_t microseconds) override;
        void cachedWriteMask(uint64_t offset, uint64_t mask) override;
        void commandCacheExecuted() override;
        void saveState(nlohmann::json& out) const override { card_.switch_->saveState(out); }

      private:
        Rhx44PlusCard& card_;
        uint64_t nowNs_ = 0;
        bool unsettledWrite_ = false;  // the last write was not a cached one
        // The bits the next write of the output register drives (a cached, masked write).
        uint64_t maskOffset_ = 0;
        uint64_t mask_ = 0;
        bool masked_ = false;
    };

    unsigned pcbVersion_ = 0;
    unsigned cardId_ = 0;
    std::unique_ptr<PexSwitch> switch_;
    WatchedSwitch pins_{*this};
    std::unique_ptr<RhxCpld> cpld_;
    I2cBus gpioI2c_;
    GpioI2cDecoder decoder_{gpioI2c_, kClockPhaseMinNs, kClockPhaseMinNs};
    PsePowerChip powerChip_;
};

}  // namespace qrtsim
