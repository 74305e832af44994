#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/chips/PciFunction.h"
#include "sim/chips/SerialPortDevice.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// What differs between the PLX switches the cards carry: identity, pin count, where the GPIO
// registers sit and how the direction field of each pin is laid out, and the serial-EEPROM
// port's command words.
struct PexChipLayout {
    const char* name;  // "PEX 8608"
    uint16_t deviceId;
    unsigned pinCount;
    uint32_t directionRegister;
    unsigned directionFieldWidth;  // bits per pin in the direction register
    unsigned directionBitInField;  // the bit of the field that makes the pin an output
    uint32_t inputRegister;
    uint32_t outputRegister;
    // Complete command words of the serial port (everything above the block index). The PEX
    // 8718 needs its EEPROM addressing bits in every command; a word with other bits is not a
    // command the port executes.
    uint32_t writeCommand;
    uint32_t readCommand;
};

// A PLX PEX 8608 or PEX 8718 PCIe switch as the kit's driver sees it: its GPIO block and its
// serial-EEPROM port, with every other register a plain 32-bit cell.
//
// Pins: the direction register holds a field per pin; only one bit of it decides the
// direction, the rest (and the bits above the last pin) are stored as written. An input pin
// reads the level the board puts on it (its strap); an output pin reads what the output
// register drives.
//
// Serial port: the control register carries a block index in bits 12..0 and a command above
// it; the data register holds the word to send or the word received. A write command hands the
// data register's word to the attached device; a read command fetches the device's word, which
// appears in the data register when the command finishes. A command keeps the busy flag
// (bit 18) set for a configurable number of control-register reads; a command issued while the
// flag is set is lost, as on the chip. With nothing attached, reads return the idle level of
// the data line (all ones).
class PexSwitch : public PciFunction {
  public:
    static constexpr uint16_t kVendorPlx = 0x10B5;
    static constexpr uint64_t kSerialControl = 0x260;
    static constexpr uint64_t kSerialData = 0x264;
    static constexpr uint32_t kSerialBusy = 1u << 18;
    static constexpr uint32_t kBlockIndexMask = 0x1FFF;

    static const PexChipLayout& pex8608();
    static const PexChipLayout& pex8718();

    explicit PexSwitch(const PexChipLayout& chip);

    uint16_t vendorId() const override { return kVendorPlx; }
    uint16_t deviceId() const override { return chip_.deviceId; }
    uint32_t readRegister32(uint64_t offset) override;
    void writeRegister32(uint64_t offset, uint32_t value) override;
    void saveState(nlohmann::json& out) const override;

    const PexChipLayout& chip() const { return chip_; }

    // Board wiring.
    void attachSerialDevice(SerialPortDevice* device) { serialDevice_ = device; }
    // Level the board holds an input pin at (pull-up, strap resistor, sensed signal).
    void setStrap(unsigned pin, bool level);
    // Control-register reads that show the busy flag after each command.
    void setSerialBusyPolls(unsigned polls) { busyPolls_ = polls; }
    // Decoded lines for the rig's trace: the violations the switch sees.
    void setTrace(std::function<void(const std::string&)> trace) {
        violations_.setTrace(std::move(trace));
    }

    // Pin state as the board sees it.
    bool pinIsOutput(unsigned pin) const;
    bool pinLevel(unsigned pin) const;

    // Serial port bookkeeping, for tests and the state file.
    struct SerialCounters {
        unsigned writes = 0;          // write commands executed
        unsigned reads = 0;           // read commands executed
        unsigned rejected = 0;        // control words that are no command of this chip
        unsigned whileBusy = 0;       // commands issued while the previous one ran (dropped)
        unsigned dataWritesBusy = 0;  // data register written while a command ran
    };
    const SerialCounters& serialCounters() const { return counters_; }
    bool serialBusy() const { return busyLeft_ != 0; }

  private:
    uint32_t inputLevels() const;
    void serialCommand(uint32_t control);
    void completeSerialCommand();

    const PexChipLayout& chip_;
    SerialPortDevice* serialDevice_ = nullptr;
    std::map<uint64_t, uint32_t> registers_;  // every cell that is not modelled below
    uint32_t direction_ = 0;
    uint32_t output_ = 0;
    uint32_t straps_ = 0;

    uint32_t control_ = 0;  // last control word, busy flag excluded
    uint32_t data_ = 0;
    unsigned busyPolls_ = 1;
    unsigned busyLeft_ = 0;
    bool pendingRead_ = false;
    uint32_t readWord_ = 0;
    SerialCounters counters_;
    Violations violations_{"switch"};
};

}  // namespace qrtsim
