#include "sim/chips/PsePowerChip.h"

namespace qrtsim {

namespace {

constexpr unsigned kCommandBytes = 4;
constexpr uint8_t kPortBits = (1u << PsePowerChip::kPorts) - 1;

struct Command {
    uint8_t code;
    uint8_t selector;
    const char* name;
};
const Command kCommands[] = {
    {PsePowerChip::kPortPower, 0x01, "port_power"},
    {PsePowerChip::kDcDetection, 0x00, "dc_detection"},
    {PsePowerChip::kAcDetection, 0x00, "ac_detection"},
};

const Command* findCommand(uint8_t code) {
    for (const Command& c : kCommands)
        if (c.code == code) return &c;
    return nullptr;
}

}  // namespace

bool PsePowerChip::start(bool read) {
    bytes_.clear();
    addressed_ = !read;
    if (read) violations_.count("read-request");
    return addressed_;
}

bool PsePowerChip::writeByte(uint8_t byte) {
    if (!addressed_) return false;
    if (bytes_.empty() && findCommand(byte) == nullptr) {
        violations_.count("unknown-command");
        addressed_ = false;
        return false;
    }
    if (bytes_.size() == kCommandBytes) {
        violations_.count("too-long");
        return false;
    }
    bytes_.push_back(byte);
    return true;
}

uint8_t PsePowerChip::readByte(bool) {
    return 0xFF;  // never addressed for reading
}

void PsePowerChip::stop() {
    if (addressed_ && !bytes_.empty()) execute();
    addressed_ = false;
    bytes_.clear();
}

void PsePowerChip::execute() {
    if (bytes_.size() < kCommandBytes) {
        violations_.count("too-short");
        return;
    }
    const Command* command = findCommand(bytes_[0]);
    const uint8_t value = bytes_[2];
    if (bytes_[1] != command->selector || (value & ~kPortBits) != 0 || bytes_[3] != 0) {
        violations_.count("bad-value");
        return;
    }
    if (command->code == kAcDetection && !dcSet_) {
        violations_.count("ac-before-dc");
        return;
    }
    ++commands_[command->name];
    if (command->code == kDcDetection) dcSet_ = true;
    if (command->code == kPortPower)
        portMask_ = value;
    else if (command->code == kDcDetection)
        dcEnabled_ = static_cast<uint8_t>(~value & kPortBits);
    else
        acEnabled_ = static_cast<uint8_t>(~value & kPortBits);
}

void PsePowerChip::saveState(nlohmann::json& out) const {
    out["port_mask"] = portMask_;
    out["dc_enable"] = dcEnabled_;
    out["ac_enable"] = acEnabled_;
    out["commands"] = nlohmann::json::object();
    for (const auto& [name, count] : commands_) out["commands"][name] = count;
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
