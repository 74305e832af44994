#include "sim/chips/PexSwitch.h"

#include <cstdio>

namespace qrtsim {

namespace {

// The two switches differ in pin count, GPIO register block and the direction field per pin:
// the 8608 has two bits per pin (direction in the upper one), the 8718 three (direction in the
// topmost). The 8718's EEPROM port also wants its addressing bits 0x00A00000 in every command.
const PexChipLayout kPex8608 = {"PEX 8608", 0x8608, 16,    0x62C,      2,
                                1,          0x63C,  0x644, 0x00004000, 0x00006000};
const PexChipLayout kPex8718 = {"PEX 8718", 0x8718, 6,     0x600,      3,
                                2,          0x61C,  0x624, 0x00A04000, 0x00A06000};

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

const PexChipLayout& PexSwitch::pex8608() {
    return kPex8608;
}
const PexChipLayout& PexSwitch::pex8718() {
    return kPex8718;
}

PexSwitch::PexSwitch(const PexChipLayout& chip) : chip_(chip) {}

void PexSwitch::setStrap(unsigned pin, bool level) {
    if (pin >= chip_.pinCount) return;
    if (level)
        straps_ |= 1u << pin;
    else
        straps_ &= ~(1u << pin);
}

bool PexSwitch::pinIsOutput(unsigned pin) const {
    if (pin >= chip_.pinCount) return false;
    unsigned bit = pin * chip_.directionFieldWidth + chip_.directionBitInField;
    return (direction_ >> bit) & 1u;
}

bool PexSwitch::pinLevel(unsigned pin) const {
    if (pin >= chip_.pinCount) return false;
    return (inputLevels() >> pin) & 1u;
}

uint32_t PexSwitch::inputLevels() const {
    uint32_t levels = 0;
    for (unsigned pin = 0; pin < chip_.pinCount; ++pin) {
        uint32_t source = pinIsOutput(pin) ? output_ : straps_;
        levels |= source & (1u << pin);
    }
    return levels;
}

uint32_t PexSwitch::readRegister32(uint64_t offset) {
    offset &= ~uint64_t{3};
    if (offset == 0) return (uint32_t{chip_.deviceId} << 16) | kVendorPlx;
    if (offset == chip_.directionRegister) return direction_;
    if (offset == chip_.inputRegister) return inputLevels();
    if (offset == chip_.outputRegister) return output_;
    if (offset == kSerialData) return data_;
    if (offset == kSerialControl) {
        // Each poll of a running command counts down; the command finishes on the last one,
        // so the poll after it sees the port idle with the result in place.
        if (busyLeft_ == 0) return control_;
        if (--busyLeft_ == 0) completeSerialCommand();
        return control_ | kSerialBusy;
    }
    auto it = registers_.find(offset);
    return it == registers_.end() ? 0 : it->second;
}

void PexSwitch::writeRegister32(uint64_t offset, uint32_t value) {
    offset &= ~uint64_t{3};
    if (offset == 0 || offset == chip_.inputRegister) return;  // read-only
    if (offset == chip_.directionRegister) {
        direction_ = value;
    } else if (offset == chip_.outputRegister) {
        output_ = value & ((1u << chip_.pinCount) - 1);
    } else if (offset == kSerialData) {
        if (busyLeft_ != 0) {
            ++counters_.dataWritesBusy;
            violations_.count("data-write-while-busy", hex32(value));
        }
        data_ = value;
    } else if (offset == kSerialControl) {
        serialCommand(value);
    } else {
        registers_[offset] = value;
    }
}

void PexSwitch::serialCommand(uint32_t control) {
    control &= ~kSerialBusy;  // the status bit is read-only
    uint32_t command = control & ~kBlockIndexMask;
    bool write = command == chip_.writeCommand;
    bool read = command == chip_.readCommand;
    if (!write && !read) {
        ++counters_.rejected;
        violations_.count("unknown-serial-command", hex32(control));
        return;
    }
    if (busyLeft_ != 0) {
        // The port is still shifting the previous word; the new command is lost.
        ++counters_.whileBusy;
        violations_.count("command-while-busy", hex32(control));
        return;
    }
    control_ = control;
    uint32_t block = control & kBlockIndexMask;
    // The device sees the transfer at once (so the board state never lags behind a program
    // that exits right after a write); the host sees a read's word only once the flag drops.
    if (write) {
        ++counters_.writes;
        if (serialDevice_ != nullptr) serialDevice_->writeBlock(block, data_);
        pendingRead_ = false;
    } else {
        ++counters_.reads;
        readWord_ = serialDevice_ != nullptr ? serialDevice_->readBlock(block) : 0xFFFFFFFF;
        pendingRead_ = true;
    }
    busyLeft_ = busyPolls_;
    if (busyLeft_ == 0) completeSerialCommand();
}

void PexSwitch::completeSerialCommand() {
    if (pendingRead_) data_ = readWord_;
    pendingRead_ = false;
}

void PexSwitch::saveState(nlohmann::json& out) const {
    out["chip"] = chip_.name;
    out["gpio_direction"] = hex32(direction_);
    out["gpio_output"] = hex32(output_);
    out["gpio_input"] = hex32(inputLevels());
    nlohmann::json pins = nlohmann::json::array();
    for (unsigned pin = 0; pin < chip_.pinCount; ++pin) {
        pins.push_back({{"pin", pin},
                        {"direction", pinIsOutput(pin) ? "out" : "in"},
                        {"level", pinLevel(pin) ? 1 : 0}});
    }
    out["pins"] = pins;
    out["serial"] = {{"control", hex32(control_ | (busyLeft_ ? kSerialBusy : 0))},
                     {"data", hex32(data_)},
                     {"busy_polls", busyPolls_},
                     {"writes", counters_.writes},
                     {"reads", counters_.reads},
                     {"rejected_commands", counters_.rejected},
                     {"commands_while_busy", counters_.whileBusy},
                     {"data_writes_while_busy", counters_.dataWritesBusy}};
    nlohmann::json others = nlohmann::json::object();
    for (const auto& [offset, value] : registers_) others[hex32(uint32_t(offset))] = hex32(value);
    out["registers"] = others;
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
