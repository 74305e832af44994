#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/FaultTable.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/Latency.h"
#include "sim/chips/PciFunction.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// What differs between the Intel Ethernet controllers whose I2C master the cards use.
struct EthControllerLayout {
    const char* name;  // "X550"
    uint16_t deviceId;
    uint64_t i2cCommand;
    uint64_t i2cParameter;
    // The register whose bits hand the I2C pins to the I2C master, those bits, and its value
    // at reset (the board's other pin settings, which must stay as they are).
    uint64_t pinSetupRegister;
    uint32_t i2cPinBits;
    uint32_t pinSetupReset;
    // Parameter-register bits the I2C master needs set, and those it needs clear.
    uint32_t parameterSet;
    uint32_t parameterClear;
    // The parameter register at reset: the bus timing and pin settings the board's NVM loads,
    // which the host must keep (read, change its own bits, write back).
    uint32_t parameterReset;
    // The parameter-register bits the host may change: the enables and the device address.
    uint32_t parameterHostBits;
    // true: the device address travels in every command (bits 26:24, on top of 0x40); false:
    // it sits in the parameter register (bits 30:24) and is taken over by a command that
    // carries the new-slave mark.
    bool addressInCommand;
    // Command-byte bits (31:24) that must be zero in a command written by the host.
    uint8_t reservedCommandBits;
};

// An Intel X550 or I210 LAN function as the kit's driver sees it: the status register, the pin
// setup register and the I2C master that the I2C command register drives, with every other
// register a plain 32-bit cell.
//
// I2C command register (written): data in bits 15:0 (first byte in 7:0), the device's
// register in bits 23:16, the command byte in 31:24 (bit 27 read, bit 28 new slave). A write
// command sends [address+W] [register] [byte 0] [byte 1] with a stop; a read command sends
// [address+W] [register], a repeated start, [address+R] and clocks two bytes in. The master
// clocks the bus at 100 kHz, so a transfer takes its bits' time on the chip clock (about
// 0.4 ms for a write, 0.5 ms for a read); until then, and for at least a number of reads, the
// register shows it running (bit 29 clear, the command's own data field), then ready (bit 29)
// with the read bytes in bits 15:0, and bit 31 when a byte was not acknowledged.
//
// How long a command shows running is drawn from the seed (1 to 3 reads, and at least the
// transfer's bit time); at the slow end (the "slow" fault or key) a write command ends only at
// the 1000th read and a read command at the 30th, 1 ms of chip time apart: the most the I2C
// master's users may wait for it.
//
// Violations (counted by kind, shown in the state under "violations"): a command written while
// one runs (the controller drops it), reserved command bits, a data field in a read command, a
// transfer while the I2C pins are not handed to the master or the parameter register lacks its
// enables, a transfer before any device address was taken over, a change of the pin setup
// register's other bits, and a parameter-register write that changes a bit of the bus timing
// the host had to keep (written without reading it first).
//
// Faults (qrt-sim --control "<section> fault lan0 ..."): "busy", the I2C command register shows
// a command running for as long as the fault stays (commands written meanwhile are dropped);
// "error", every command ends at once with the error bit, nothing reaches the bus; "slow", the
// commands take the longest their users may wait.
class IntelEthController : public PciFunction {
  public:
    static constexpr uint16_t kVendorIntel = 0x8086;
    static constexpr uint64_t kStatusRegister = 0x0008;
    static constexpr uint32_t kReady = 1u << 29;
    static constexpr uint32_t kError = 1u << 31;

    static const EthControllerLayout& x550();
    static const EthControllerLayout& i210();

    // `lanFunction`: which of the controller's LAN functions this is (status bits 3:2).
    explicit IntelEthController(const EthControllerLayout& chip, unsigned lanFunction = 0);

    uint16_t vendorId() const override { return kVendorIntel; }
    uint16_t deviceId() const override { return chip_.deviceId; }
    uint32_t readRegister32(uint64_t offset) override;
    void writeRegister32(uint64_t offset, uint32_t value) override;
    void saveState(nlohmann::json& out) const override;

    // The bus the I2C master drives (the board attaches its devices).
    I2cBus& i2cBus() { return bus_; }
    // Command-register reads that show a command still running, however long the host waited
    // (without it: drawn from the seed, 1 to 3).
    void setBusyPolls(unsigned polls) { fixedBusyPolls_ = int(polls); }
    void setSeed(uint64_t seed) { latency_.reseed(seed); }
    // The most reads the I2C master's users make before giving up on a command.
    static constexpr unsigned kWritePollsAllowed = 1000;
    static constexpr unsigned kReadPollsAllowed = 30;
    static constexpr uint64_t kPollIntervalUs = 1000;
    void setClock(const ChipClock& clock) { clock_ = &clock; }
    void setTrace(std::function<void(const std::string&)> trace) {
        violations_.setTrace(trace);
        trace_ = std::move(trace);
    }

    const Violations& violations() const { return violations_; }
    unsigned commands() const { return commands_; }
    FaultTable& faults() { return faults_; }

    // Bit times of one transfer on the bus, and the length of one at 100 kHz.
    static constexpr unsigned kWriteBits = 4 * 9 + 2;  // start, 4 bytes, stop
    static constexpr unsigned kReadBits = 5 * 9 + 3;   // and a repeated start, 5 bytes
    static constexpr uint64_t kBitUs = 10;

  private:
    void command(uint32_t word);
    // Runs the transfer on the bus; false when a byte was not acknowledged.
    bool transfer(uint8_t address, bool read, uint8_t reg, uint16_t& data);
    bool running() const { return busyLeft_ != 0 || !done_.ready(*clock_); }

    const EthControllerLayout& chip_;
    unsigned lanFunction_;
    I2cBus bus_;
    std::function<void(const std::string&)> trace_;
    const ChipClock* clock_ = &ChipClock::steady();
    std::map<uint64_t, uint32_t> registers_;  // plain cells
    uint32_t pinSetup_;
    uint32_t parameter_;
    uint32_t commandWord_ = kReady;  // what the command register reads once done
    uint32_t runningWord_ = 0;       // and while the command runs
    int fixedBusyPolls_ = -1;
    Latency latency_;
    unsigned busyLeft_ = 0;
    ReadyAt done_;
    int slave_ = -1;  // the address taken over from the parameter register
    unsigned commands_ = 0;
    unsigned failed_ = 0;
    Violations violations_;
    FaultTable faults_{{"busy", "error", "slow"}};
};

}  // namespace qrtsim
