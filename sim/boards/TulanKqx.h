#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/boards/Board.h"
#include "sim/boards/SystemBoard.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/RhxMcu.h"
#include "sim/chips/VorelDioDriver.h"

namespace qrtsim {

// The TULAN-KQX embedded vision system: the computer the programs of the rig run on. It has
// no PCI function of the kit. Its PoE board's microcontroller (0x2D) and identity EEPROM (0x50)
// sit on two Linux I2C adapters (one when both bus numbers are equal); the system file
// "/etc/tulankqx/system.ini" names them; the digital I/O block is driven through its driver's
// sysfs files and raises kernel uevents (VorelDioDriver).
//
// Control commands (qrt-sim --control "<section> ..."):
//   di <n> <level>           drives input n to 0 or 1; the uevent follows on a selected edge
//   uevent KEY=VALUE ...     raises the DIO driver's uevent with strings replaced or added
//   burst <count>            puts that many uevents of other devices on the socket at once
class TulanKqx : public Board, public SystemBoard {
  public:
    static constexpr const char* kSystemDirectory = "/etc/tulankqx";
    static constexpr const char* kSystemFileName = "system.ini";
    static constexpr int kDefaultMcuBus = 8;
    static constexpr int kDefaultEepromBus = 1;
    static constexpr unsigned kPorts = 4;

    static const std::vector<std::string>& keys();
    static const std::vector<std::string>& listKeys();

    // Throws RigError for a bad rig key.
    TulanKqx(const BoardConfig& config, BoardContext& context);

    std::map<int, I2cBus*> i2cAdapters() override;
    void saveState(nlohmann::json& out) const override;
    std::map<std::string, FaultTable*> faultTables() override {
        return {{"mcu", &mcu_->faults}, {"eeprom", &eeprom_->faults}, {"dio", &dio_->faults()}};
    }

    void attachHost(HostSystem& host, std::vector<std::string>& notes) override;
    bool control(const std::vector<std::string>& words, std::string& reply) override;

    RhxMcu& mcu() { return *mcu_; }
    At24c02d& eeprom() { return *eeprom_; }
    VorelDioDriver& dio() { return *dio_; }

  private:
    void configureMcu(const BoardConfig& config);
    void programEeprom(const BoardConfig& config);
    void configureDio(const BoardConfig& config);
    std::string systemFileText() const;

    int mcuBusNumber_ = kDefaultMcuBus;
    int eepromBusNumber_ = kDefaultEepromBus;
    bool mcuBusKey_ = false;
    bool eepromBusKey_ = false;
    bool systemFile_ = true;
    bool systemFileWritten_ = false;
    I2cBus mcuBus_;
    I2cBus eepromBus_;  // unused when both numbers are equal
    std::unique_ptr<RhxMcu> mcu_;
    std::unique_ptr<At24c02d> eeprom_;
    std::unique_ptr<VorelDioDriver> dio_;
};

}  // namespace qrtsim
