#include "sim/chips/PexSwitch.h"

#include <cstdio>

namespace qrtsim {

namespace {

// The PEX 8608 has sixteen pins with two control bits each, which fill its direction
// register; the PEX 8718 six pins with three bits each, and its EEPROM port addressing field
// 0b101.
// clang-format off
const PexChipLayout kPex8608 = {
    "PEX 8608", 0x8608, /*pins*/ 16, /*direction*/ 0x62C, /*input*/ 0x63C, /*output*/ 0x644,
    /*fieldBits*/ 2, /*addressingField*/ 0b000};
const PexChipLayout kPex8718 = {
    "PEX 8718", 0x8718, /*pins*/ 6, /*direction*/ 0x600, /*input*/ 0x61C, /*output*/ 0x624,
    /*fieldBits*/ 3, /*addressingField*/ 0b101};
// clang-format on

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

uint32_t PexSwitch::directionBits() const {
    uint32_t bits = 0;
    for (unsigned pin = 0; pin < chip_.pinCount; ++pin) bits |= 1u << chip_.outputEnableBit(pin);
    return bits;
}

void PexSwitch::setPowerOnDirection(uint32_t value) {
    direction_ = value & ~directionBits();
}

void PexSwitch::setStrap(unsigned pin, bool level) {
    if (pin >= chip_.pinCount) return;
    if (level)
        straps_ |= 1u << pin;
    else
        straps_ &= ~(1u << pin);
}

bool PexSwitch::pinIsOutput(unsigned pin) const {
    if (pin >= chip_.pinCount) return false;
    return (direction_ >> chip_.outputEnableBit(pin)) & 1u;
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
    if (offset == chip_.inputRegister) return faults_.active("ff") ? 0xFFFFFFFF : inputLevels();
    if (offset == chip_.outputRegister) return output_;
    if (offset == kSerialData) return readSerialData();
    if (offset == kSerialControl) {
        if (faults_.active("busy")) return control_ | kSerialBusy;
        // Each poll of a running command counts down; the first poll that finds the port idle
        // sees the end of the transfer, from which a read's word settles.
        if (busyLeft_ == 0) {
            if (finishing_) completeSerialCommand();
            return control_;
        }
        --busyLeft_;
        return control_ | kSerialBusy;
    }
    return 0;
}

uint32_t PexSwitch::readSerialData() {
    if (busyLeft_ != 0 || faults_.active("busy")) {
        violations_.count("data-read-while-busy");
    } else if (pendingRead_ && (finishing_ || !readSettled_.ready(*clock_))) {
        violations_.count("data-read-too-early");
    } else if (pendingRead_) {
        data_ = readWord_;
        pendingRead_ = false;
        if (serialDevice_ != nullptr) serialDevice_->wordCollected();
    }
    return data_;
}

void PexSwitch::writeRegister32(uint64_t offset, uint32_t value) {
    offset &= ~uint64_t{3};
    if (offset == chip_.directionRegister) {
        uint32_t changed = (direction_ ^ value) & ~directionBits();
        if (changed != 0)
            violations_.count("preserved-bits-changed",
                              "direction " + hex32(direction_) + " -> " + hex32(value));
        direction_ = value;
    } else if (offset == chip_.outputRegister) {
        output_ = value & ((1u << chip_.pinCount) - 1);
    } else if (offset == kSerialData) {
        if (busyLeft_ != 0 || faults_.active("busy")) {
            // The port is shifting a word through the data register; the write is lost.
            ++counters_.dataWritesBusy;
            violations_.count("data-write-while-busy", hex32(value));
            return;
        }
        data_ = value;
        pendingRead_ = false;
    } else if (offset == kSerialControl) {
        serialCommand(value);
    } else {
        char where[24];
        std::snprintf(where, sizeof where, "0x%03llx", static_cast<unsigned long long>(offset));
        violations_.count(offset == 0 || offset == chip_.inputRegister ? "write-to-read-only"
                                                                       : "unknown-register",
                          std::string(where) + " <- " + hex32(value));
    }
}

void PexSwitch::serialCommand(uint32_t control) {
    control &= ~kSerialBusy;  // the status bit is read-only
    uint32_t command = control & ~kBlockIndexMask;
    bool write = command == chip_.writeCommand();
    bool read = command == chip_.readCommand();
    if (!write && !read) {
        ++counters_.rejected;
        violations_.count("unknown-serial-command", hex32(control));
        return;
    }
    if (busyLeft_ != 0 || faults_.active("busy")) {
        // The port is still shifting the previous word; the new command is lost.
        ++counters_.whileBusy;
        violations_.count("command-while-busy", hex32(control));
        return;
    }
    control_ = control;
    uint32_t block = control & kBlockIndexMask;
    // The device sees the transfer at once (so the board state never lags behind a program
    // that exits right after a write); the host sees a read's word only once it has settled.
    if (write) {
        ++counters_.writes;
        if (serialDevice_ != nullptr) serialDevice_->writeBlock(block, data_);
        pendingRead_ = false;
    } else {
        ++counters_.reads;
        readWord_ = serialDevice_ != nullptr ? serialDevice_->readBlock(block) : 0xFFFFFFFF;
        if (serialDevice_ != nullptr && serialDevice_->faults.active("ff")) readWord_ = 0xFFFFFFFF;
        pendingRead_ = true;
    }
    busyLeft_ = faults_.active("slow") ? kSlowBusyPolls
                : busyPolls_ >= 0
                    ? unsigned(busyPolls_)
                    : latency_.draw(kDefaultBusyPolls, kDefaultBusyPolls + 1, kDefaultBusyPolls);
    finishing_ = true;
    if (busyLeft_ == 0) completeSerialCommand();
}

void PexSwitch::completeSerialCommand() {
    finishing_ = false;
    readSettled_.start(*clock_, kReadSettleUs);
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
    out["serial"] = {
        {"control", hex32(control_ | (busyLeft_ ? kSerialBusy : 0))},
        {"data", hex32(data_)},
        {"busy_polls", busyPolls_ >= 0 ? nlohmann::json(busyPolls_) : nlohmann::json("drawn")},
        {"writes", counters_.writes},
        {"reads", counters_.reads},
        {"rejected_commands", counters_.rejected},
        {"commands_while_busy", counters_.whileBusy},
        {"data_writes_while_busy", counters_.dataWritesBusy}};
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
