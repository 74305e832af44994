#include "sim/chips/IntelEthController.h"

#include <cstdio>

namespace qrtsim {

namespace {

constexpr uint8_t kReadBit = 0x08;      // command byte bit 3 = word bit 27
constexpr uint8_t kNewSlaveBit = 0x10;  // word bit 28
constexpr uint8_t kI210AddressBase = 0x40;

// X550: the extended pin control register's bits 18, 19 and 26 put the I2C clock and data
// pins under the I2C master; at reset the board keeps pin 0 an output driven high (the PHY's
// reset line released) and pin 8's direction set. The parameter register wants its enables in
// bits 15 and 16 and bit 31 clear; the device address is in bits 30:24; bits 14:0 and 23:17
// hold the bus timing (clock divider, hold and setup counts) the NVM loads at reset.
const EthControllerLayout kX550 = {
    "X550",     0x1563,
    0x15F58,    0x15F5C,
    0x0020,     (1u << 18) | (1u << 19) | (1u << 26),
    0x00000101, (1u << 15) | (1u << 16),
    1u << 31,   0x002A3A07,
    0xFF018000, false,
    0xE7,  // bits 31:29 and 26:24 carry nothing on the X550
};
// I210: bit 1 of the extended control register enables the I2C master; the reset value keeps
// the board's other settings. The parameter register wants bit 15; its other bits hold the
// bus timing. The device address is in every command.
const EthControllerLayout kI210 = {
    "I210",     0x1533,   0x1028, 0x102C,     0x0018,   1u << 1,
    0x00100000, 1u << 15, 0,      0x00002814, 1u << 15, true,
    0xE0,  // bits 31:29
};

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

}  // namespace

const EthControllerLayout& IntelEthController::x550() {
    return kX550;
}
const EthControllerLayout& IntelEthController::i210() {
    return kI210;
}

IntelEthController::IntelEthController(const EthControllerLayout& chip, unsigned lanFunction)
    : chip_(chip),
      lanFunction_(lanFunction & 3),
      pinSetup_(chip.pinSetupReset),
      parameter_(chip.parameterReset),
      violations_(chip.name) {}

uint32_t IntelEthController::readRegister32(uint64_t offset) {
    offset &= ~uint64_t{3};
    if (offset == kStatusRegister) return lanFunction_ << 2;
    if (offset == chip_.pinSetupRegister) return pinSetup_;
    if (offset == chip_.i2cParameter) return parameter_;
    if (offset == chip_.i2cCommand) {
        // The transfer takes its time: reads before its end see it running.
        if (faults_.active("busy")) return commandWord_ & ~(kReady | kError);
        if (!running()) return commandWord_;
        if (busyLeft_ != 0) --busyLeft_;
        return runningWord_;
    }
    auto it = registers_.find(offset);
    return it == registers_.end() ? 0 : it->second;
}

void IntelEthController::writeRegister32(uint64_t offset, uint32_t value) {
    offset &= ~uint64_t{3};
    if (offset == kStatusRegister) return;  // read-only
    if (offset == chip_.pinSetupRegister) {
        if (((value ^ chip_.pinSetupReset) & ~chip_.i2cPinBits) != 0)
            violations_.count("pin-setup-changed", hex(value, 8));
        pinSetup_ = value;
    } else if (offset == chip_.i2cParameter) {
        // The timing bits were loaded at reset; a write that changes them was not read first.
        if (((value ^ parameter_) & ~chip_.parameterHostBits) != 0)
            violations_.count("parameter-bits-changed",
                              hex(parameter_, 8) + " -> " + hex(value, 8));
        parameter_ = value;
    } else if (offset == chip_.i2cCommand) {
        command(value);
    } else {
        registers_[offset] = value;
    }
}

void IntelEthController::command(uint32_t word) {
    if (faults_.active("busy")) return;  // the master never let go of the stuck transfer
    if (running()) {
        // The running transfer keeps the master.
        violations_.count("command-while-busy", hex(word, 8));
        return;
    }
    ++commands_;
    const uint8_t commandByte = uint8_t(word >> 24);
    const bool read = (commandByte & kReadBit) != 0;
    const uint8_t reg = uint8_t(word >> 16);
    uint16_t data = uint16_t(word);
    if ((commandByte & chip_.reservedCommandBits) != 0)
        violations_.count("reserved-command-bits", hex(word, 8));
    if (read && data != 0) violations_.count("data-in-read-command", hex(word, 8));

    bool ok = true;
    if ((pinSetup_ & chip_.i2cPinBits) != chip_.i2cPinBits) {
        violations_.count("i2c-pins-not-enabled", hex(pinSetup_, 8));
        ok = false;
    }
    const bool parameterReady = (parameter_ & chip_.parameterSet) == chip_.parameterSet &&
                                (parameter_ & chip_.parameterClear) == 0;
    if (ok && !parameterReady) {
        violations_.count("parameter-not-enabled", hex(parameter_, 8));
        ok = false;
    }
    int address = -1;
    if (ok && chip_.addressInCommand) {
        address = kI210AddressBase | (commandByte & 0x07);
    } else if (ok) {
        if ((commandByte & kNewSlaveBit) != 0) slave_ = int((parameter_ >> 24) & 0x7F);
        if (slave_ < 0) violations_.count("no-slave-address", hex(word, 8));
        address = slave_;
    }
    if (address < 0 || faults_.active("error")) ok = false;
    if (ok) ok = transfer(uint8_t(address), read, reg, data);

    if (!ok) ++failed_;
    runningWord_ = word & 0x1FFFFFFFu & ~kReady;
    commandWord_ = (word & 0x1FFF0000u) | data | kReady | (ok ? 0 : kError);
    if (read && !ok) commandWord_ &= ~0xFFFFu;
    // The host sees the end at the last of its polls the protocol allows when the chip is slow.
    if (faults_.active("slow")) {
        const unsigned allowed = read ? kReadPollsAllowed : kWritePollsAllowed;
        busyLeft_ = allowed - 1;
        done_.start(*clock_, (allowed - 1) * kPollIntervalUs);
    } else {
        busyLeft_ = fixedBusyPolls_ >= 0 ? unsigned(fixedBusyPolls_) : latency_.draw(1, 3, 1);
        done_.start(*clock_, (read ? kReadBits : kWriteBits) * kBitUs);
    }
    if (trace_) {
        char line[96];
        std::snprintf(line, sizeof line, "%s i2c %s addr=0x%02x reg=0x%02x %02x %02x -> %s",
                      chip_.name, read ? "read" : "write", address < 0 ? 0 : address, reg,
                      data & 0xFF, data >> 8, ok ? "ack" : "error");
        trace_(line);
    }
}

bool IntelEthController::transfer(uint8_t address, bool read, uint8_t reg, uint16_t& data) {
    bool ok = bus_.start(address, false) && bus_.writeByte(reg);
    if (ok && !read) {
        ok = bus_.writeByte(uint8_t(data)) && bus_.writeByte(uint8_t(data >> 8));
    } else if (ok) {
        ok = bus_.start(address, true);  // repeated start
        if (ok) {
            uint8_t low = bus_.readByte(false);
            uint8_t high = bus_.readByte(true);
            data = uint16_t(low | high << 8);
        }
    }
    bus_.stop();
    return ok;
}

void IntelEthController::saveState(nlohmann::json& out) const {
    out["chip"] = chip_.name;
    out["lan_function"] = lanFunction_;
    out["pin_setup"] = hex(pinSetup_, 8);
    out["i2c_parameter"] = hex(parameter_, 8);
    out["i2c_command"] = hex(commandWord_, 8);
    out["i2c_slave"] = slave_;
    out["i2c_commands"] = commands_;
    out["i2c_failed"] = failed_;
    out["violations"] = violations_.toJson();
    nlohmann::json others = nlohmann::json::object();
    for (const auto& [offset, value] : registers_) others[hex(uint32_t(offset), 5)] = hex(value, 8);
    out["registers"] = others;
}

}  // namespace qrtsim
