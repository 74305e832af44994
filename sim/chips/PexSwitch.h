#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/FaultTable.h"
#include "sim/chips/Latency.h"
#include "sim/chips/PciFunction.h"
#include "sim/chips/SerialPortDevice.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// What differs between the PLX switches the cards carry, in the chip's own terms: identity,
// pin count, the GPIO register block, the width of each pin's field in the direction register,
// and the addressing field the serial-EEPROM port wants in every command.
//
// Both chips give each pin a field of control bits in the direction register, pin 0 in the
// lowest bits; the field's most significant bit is the pin's output enable. The serial port's
// control word carries the SPI EEPROM instruction in bits 15..13 (WRITE 0x02, READ 0x03, as a
// serial EEPROM takes them) above the block index in bits 12..0, and on the PEX 8718 the
// port's addressing field in bits 23..21; a word with other bits is no command of the port.
struct PexChipLayout {
    const char* name;  // "PEX 8608"
    uint16_t deviceId;
    unsigned pinCount;
    uint32_t directionRegister;
    uint32_t inputRegister;    // bit i: the level of pin i
    uint32_t outputRegister;   // bit i: the level pin i drives as an output
    unsigned fieldBits;        // control bits per pin in the direction register
    uint32_t addressingField;  // bits 23..21 of every serial command

    // The bit of the direction register that makes `pin` an output.
    unsigned outputEnableBit(unsigned pin) const { return pin * fieldBits + fieldBits - 1; }
    uint32_t command(uint32_t instruction) const {
        return addressingField << kAddressingShift | instruction << kInstructionShift;
    }
    uint32_t writeCommand() const { return command(kEepromWrite); }
    uint32_t readCommand() const { return command(kEepromRead); }

    static constexpr unsigned kInstructionShift = 13;
    static constexpr unsigned kAddressingShift = 21;
    static constexpr uint32_t kEepromWrite = 0x02;
    static constexpr uint32_t kEepromRead = 0x03;
};

// A PLX PEX 8608 or PEX 8718 PCIe switch as the kit's driver sees it: its GPIO block and its
// serial-EEPROM port. Other registers read 0; a write to a register that is none of these is
// refused (and counted as a violation).
//
// Pins: the direction register holds a field per pin; only one bit of it decides the
// direction. The other bits of every field and the bits above the last pin configure the pins
// in other ways; the board's configuration sets them at power-on (setPowerOnDirection), and a
// write that changes any of them counts as a violation (software must write them back as it
// read them). An input pin reads the level the board puts on it (its strap); an output pin
// reads what the output register drives.
//
// Serial port: the control register carries a block index in bits 12..0 and a command above
// it; the data register holds the word to send or the word received. A write command hands the
// data register's word to the attached device; a read command fetches the device's word. A
// command keeps the busy flag (bit 18) set for a number of control-register reads (2 unless
// the board says otherwise); a read's word reaches the data register 1 ms after the first
// control-register read that finds the port idle again. Counted as violations, and without effect:
// a command or a data-register write while the port is busy, a control word that is no command of
// the chip; a data-register read before the word is there returns what the register held before.
// With nothing attached, reads return the idle level of the data line (all ones).
//
// Faults (qrt-sim --control "<section> fault switch ..."): "busy", the serial port's busy flag
// stays set (commands issued meanwhile are lost, as on a port that never finishes shifting);
// "ff", the input register reads all ones (every pin sensed high); "slow", every command keeps
// the port busy for 999 polls. The device on the serial
// port has faults of its own (SerialPortDevice).
class PexSwitch : public PciFunction {
  public:
    static constexpr uint16_t kVendorPlx = 0x10B5;
    static constexpr uint64_t kSerialControl = 0x260;
    static constexpr uint64_t kSerialData = 0x264;
    static constexpr uint32_t kSerialBusy = 1u << 18;
    static constexpr uint32_t kBlockIndexMask = 0x1FFF;
    static constexpr unsigned kDefaultBusyPolls = 2;
    static constexpr uint64_t kReadSettleUs = 1000;

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
    // The direction register as the board's configuration leaves it at power-on: every pin an
    // input, the other bits of the fields as the board sets them.
    void setPowerOnDirection(uint32_t value);
    // The bits of the direction register that decide pin directions.
    uint32_t directionBits() const;
    void setClock(const ChipClock& clock) { clock_ = &clock; }
    // Control-register reads that show the busy flag after each command, every time (without
    // it: drawn from the seed, 2 or 3, and 999 at the slow end: the port's users poll up to
    // 1000 times).
    void setSerialBusyPolls(unsigned polls) { busyPolls_ = int(polls); }
    void setSeed(uint64_t seed) { latency_.reseed(seed); }
    static constexpr unsigned kSlowBusyPolls = 999;
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
    const Violations& violations() const { return violations_; }
    FaultTable& faults() { return faults_; }

  private:
    uint32_t inputLevels() const;
    void serialCommand(uint32_t control);
    void completeSerialCommand();
    uint32_t readSerialData();

    const PexChipLayout& chip_;
    SerialPortDevice* serialDevice_ = nullptr;
    const ChipClock* clock_ = &ChipClock::steady();
    uint32_t direction_ = 0;
    uint32_t output_ = 0;
    uint32_t straps_ = 0;

    uint32_t control_ = 0;  // last control word, busy flag excluded
    uint32_t data_ = 0;
    int busyPolls_ = -1;  // fixed by the board, or drawn
    Latency latency_;
    unsigned busyLeft_ = 0;
    bool pendingRead_ = false;  // a read's word on its way to the data register
    uint32_t readWord_ = 0;
    bool finishing_ = false;  // no poll has seen the last command's end yet
    ReadyAt readSettled_;
    SerialCounters counters_;
    Violations violations_{"switch"};
    FaultTable faults_{{"busy", "ff", "slow"}};
};

}  // namespace qrtsim
