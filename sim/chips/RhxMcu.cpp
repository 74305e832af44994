#include "sim/chips/RhxMcu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qrtsim {

namespace {

// Command bytes of the firmware.
enum : uint8_t {
    kCmdTemperature = 0x80,
    kCmdDeviceState = 0x81,
    kCmdSetProtect = 0x82,
    kCmdSetRecovery = 0x83,
    kCmdVersion = 0x84,
    kCmdLastPowerStates = 0x85,
    kCmdSetPoEEnable = 0x86,
    kCmdPseReadOne = 0x87,
    kCmdPseWrite = 0x88,
    kCmdPortStatus0 = 0x89,  // ports 0..3: 0x89..0x8C
    kCmdBusy = 0x8D,
    kCmdGetProtect = 0x92,
    kCmdGetRecovery = 0x93,
    kCmdGetPoEEnable = 0x96,
    kCmdPseReadTwo = 0x97,
    kCmdReset = 0x98,
    kCmdSetTempProtection = 0x99,
    kCmdGetTempProtection = 0x9A,
    kCmdConsumedBudget = 0x9B,
    kCmdLeftBudget = 0x9C,
    kCmdSetBudgetControl = 0x9D,
    kCmdGetBudgetControl = 0x9E,
    kCmdGetFanDuty = 0xA6,
    kCmdSetFanDuty = 0xA7,
    kCmdFanRpm = 0xA8,
    kCmdGetSmartFan = 0xA9,
    kCmdSetSmartFan = 0xAA,
};

// Two-bit codes of the PoE enable byte: 0 keeps the port as it is (setter only), 1 off, 2 on;
// the firmware reports 3 for a port the host enabled but the protection holds off.
constexpr uint8_t kPortKeep = 0;
constexpr uint8_t kPortOff = 1;
constexpr uint8_t kPortOn = 2;
constexpr uint8_t kPortHeldOff = 3;

// What the firmware accepts in the data word of a command.
enum class DataWord {
    kZero,       // read commands and reset: both bytes zero
    kByte,       // byte 0 any value, byte 1 zero
    kSwitch,     // byte 0 is 0 or 1, byte 1 zero
    kDuty,       // byte 0 is a duty of 0..99 percent, byte 1 zero
    kPortCodes,  // byte 0: four 2-bit codes, none of them 3; byte 1 zero
    kAny,        // the PSE write: register and value
};

// The command set: what each command does, what its data word must hold and, for a read
// command, how long the firmware takes to prepare the reply (0: a setter, nothing to read).
struct CommandInfo {
    uint8_t command;
    const char* name;
    DataWord data;
    unsigned replyMs;
};
constexpr unsigned kReadMs = 20;
constexpr CommandInfo kCommands[] = {
    {kCmdTemperature, "read-temperature", DataWord::kZero, 100},
    {kCmdDeviceState, "read-device-state", DataWord::kZero, kReadMs},
    {kCmdSetProtect, "set-protect-temperature", DataWord::kByte, 0},
    {kCmdSetRecovery, "set-recovery-temperature", DataWord::kByte, 0},
    {kCmdVersion, "read-version", DataWord::kZero, kReadMs},
    {kCmdLastPowerStates, "read-last-power-states", DataWord::kZero, kReadMs},
    {kCmdSetPoEEnable, "set-poe-enable", DataWord::kPortCodes, 0},
    {kCmdPseReadOne, "pse-read-byte", DataWord::kByte, 75},
    {kCmdPseWrite, "pse-write-byte", DataWord::kAny, 0},
    {kCmdPortStatus0, "read-port0-status", DataWord::kZero, kReadMs},
    {kCmdPortStatus0 + 1, "read-port1-status", DataWord::kZero, kReadMs},
    {kCmdPortStatus0 + 2, "read-port2-status", DataWord::kZero, kReadMs},
    {kCmdPortStatus0 + 3, "read-port3-status", DataWord::kZero, kReadMs},
    {kCmdBusy, "read-busy", DataWord::kZero, kReadMs},
    {kCmdGetProtect, "read-protect-temperature", DataWord::kZero, kReadMs},
    {kCmdGetRecovery, "read-recovery-temperature", DataWord::kZero, kReadMs},
    {kCmdGetPoEEnable, "read-poe-enable", DataWord::kZero, kReadMs},
    {kCmdPseReadTwo, "pse-read-word", DataWord::kByte, 150},
    {kCmdReset, "reset", DataWord::kZero, 0},
    {kCmdSetTempProtection, "set-temperature-protection", DataWord::kSwitch, 0},
    {kCmdGetTempProtection, "read-temperature-protection", DataWord::kZero, kReadMs},
    {kCmdConsumedBudget, "read-consumed-budget", DataWord::kZero, kReadMs},
    {kCmdLeftBudget, "read-left-budget", DataWord::kZero, kReadMs},
    {kCmdSetBudgetControl, "set-budget-control", DataWord::kSwitch, 0},
    {kCmdGetBudgetControl, "read-budget-control", DataWord::kZero, kReadMs},
    {kCmdGetFanDuty, "read-fan-duty", DataWord::kZero, kReadMs},
    {kCmdSetFanDuty, "set-fan-duty", DataWord::kDuty, 0},
    {kCmdFanRpm, "read-fan-rpm", DataWord::kZero, kReadMs},
    {kCmdGetSmartFan, "read-smart-fan", DataWord::kZero, kReadMs},
    {kCmdSetSmartFan, "set-smart-fan", DataWord::kSwitch, 0},
};

const CommandInfo* findCommand(uint8_t command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return &info;
    return nullptr;
}

// The relay needs this long to select a PSE register (0x88) before it can relay a read of it.
constexpr uint64_t kSelectUs = 20000;
constexpr unsigned kMaxDuty = 99;

constexpr size_t kExchangeBytes = 3;  // command byte and a two-byte data word
constexpr size_t kLogLimit = 4096;    // a long-running rig keeps the recent exchanges only

std::vector<uint8_t> word16(unsigned value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

std::vector<uint8_t> byteReply(unsigned value) {
    return {static_cast<uint8_t>(value), 0x00};
}

std::string exchangeText(const RhxMcu::Command& c) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x %02x %02x", c.command, c.data0, c.data1);
    return text;
}

bool pseReadOnly(uint8_t reg) {
    return (reg >= RhxMcu::kPsePortStatus && reg <= RhxMcu::kPsePowerStatus) ||
           (reg >= RhxMcu::kPseCurrent && reg < RhxMcu::kPseCurrent + 4 * RhxMcu::kPorts);
}

}  // namespace

RhxMcu::RhxMcu() = default;

std::array<uint8_t, 2> RhxMcu::encodeTemperature(double celsius, unsigned noise) {
    long magnitude = std::lround(std::fabs(celsius) * 32.0) * 4;  // 1/32 degree steps
    magnitude = std::min(magnitude, 0x7FFCL) | long(noise & 3u);
    uint8_t sign = celsius < 0 && magnitude >= 4 ? 0x80 : 0x00;
    return {static_cast<uint8_t>(magnitude & 0xFF),
            static_cast<uint8_t>(sign | ((magnitude >> 8) & 0x7F))};
}

// ---------------------------------------------------------------------------------------------
// The wire

bool RhxMcu::start(bool read) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (silent_) return false;
    if (writing_ && received_.size() == kExchangeBytes && !dropped_) {
        // A repeated start also ends a write.
        execute(Command{received_[0], received_[1], received_[2]});
    }
    endRead();
    received_.clear();
    dropped_ = false;
    writing_ = !read;
    reading_ = read;
    reply_.clear();
    replyPos_ = 0;
    if (read) {
        // The read takes the reply of the last read command, once; before the reply is ready,
        // or without a command, the host clocks in the idle level.
        if (!replyPending_) {
            violations_.count("read-without-command");
        } else if (!replyReady_.ready(*clock_)) {
            violations_.count("reply-too-early", std::to_string(replyReady_.remainingUs(*clock_)) +
                                                     " us before it is ready");
        } else {
            reply_ = pending_;
        }
        replyPending_ = false;
    }
    return true;
}

bool RhxMcu::writeByte(uint8_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writing_ || dropped_) return false;
    if (received_.size() >= kExchangeBytes) {
        violations_.count("exchange-too-long");  // not taken; the three before it stand
        return false;
    }
    if (received_.empty() && findCommand(byte) == nullptr) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02x", byte);
        violations_.count("unknown-command", text);
        dropped_ = true;
        return false;
    }
    received_.push_back(byte);
    return true;
}

uint8_t RhxMcu::readByte(bool last) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!reading_) return 0xFF;
    lastNacked_ = last;
    if (replyPos_ < reply_.size()) return reply_[replyPos_++];
    if (!reply_.empty() && !overrun_) {
        overrun_ = true;
        violations_.count("read-past-reply");
    }
    return 0xFF;
}

void RhxMcu::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The firmware acts on complete exchanges only; a transfer the host cut short is dropped.
    if (writing_ && !dropped_) {
        if (received_.size() == kExchangeBytes)
            execute(Command{received_[0], received_[1], received_[2]});
        else if (!received_.empty())
            violations_.count("short-exchange", std::to_string(received_.size()) + " bytes");
    }
    endRead();
    received_.clear();
    writing_ = false;
    reading_ = false;
}

// A read ends with a byte the host does not acknowledge; an acknowledged last byte leaves the
// firmware driving the data line for one more.
void RhxMcu::endRead() {
    if (reading_ && !lastNacked_) violations_.count("read-not-ended-with-nack");
    reading_ = false;
    lastNacked_ = true;
    overrun_ = false;
}

void RhxMcu::execute(const Command& c) {
    const CommandInfo* info = findCommand(c.command);
    if (replyPending_ && !replyReady_.ready(*clock_)) {
        // Still preparing the previous reply: the firmware does not take the command.
        violations_.count("command-while-busy", exchangeText(c));
        return;
    }
    if (log_.size() >= kLogLimit) log_.erase(log_.begin(), log_.begin() + kLogLimit / 2);
    log_.push_back(c);
    if (trace_) traceCommand(c);
    replyPending_ = false;
    if (!dataWordValid(c)) return;
    std::vector<uint8_t> reply = replyFor(c);
    if (info->replyMs == 0) return;
    auto ff = ffReplies_.find(c.command);
    if (ff != ffReplies_.end() && ff->second != 0) {
        reply.assign(reply.size(), 0xFF);
        if (ff->second > 0) --ff->second;
    }
    pending_ = reply;
    replyPending_ = true;
    replyReady_.start(*clock_, uint64_t(info->replyMs) * 1000);
}

// Checks the data word against the command's rule. A read command with stray data is still
// answered; a setting that is out of range is refused.
bool RhxMcu::dataWordValid(const Command& c) {
    const CommandInfo* info = findCommand(c.command);
    bool byte1Zero = info->data == DataWord::kAny || c.data1 == 0;
    bool inRange = true;
    switch (info->data) {
        case DataWord::kZero:
            byte1Zero = byte1Zero && c.data0 == 0;
            break;
        case DataWord::kSwitch:
            inRange = c.data0 <= 1;
            break;
        case DataWord::kDuty:
            inRange = c.data0 <= kMaxDuty;
            break;
        case DataWord::kPortCodes:
            for (int p = 0; p < kPorts; ++p)
                inRange = inRange && ((c.data0 >> (2 * p)) & 3) != kPortHeldOff;
            break;
        case DataWord::kByte:
        case DataWord::kAny:
            break;
    }
    if (!byte1Zero) violations_.count("non-zero-data", exchangeText(c));
    if (!inRange) violations_.count("value-out-of-range", exchangeText(c));
    return inRange;
}

// Carries out one command and returns the reply a read will clock out (setters: none).
std::vector<uint8_t> RhxMcu::replyFor(const Command& c) {
    Settings& s = settings_;
    switch (c.command) {
        case kCmdTemperature: {
            double t = s.temperature;
            if (!samples_.empty()) {
                t = samples_.front();
                samples_.pop_front();
            }
            noise_ = noise_ % 3 + 1;  // the bits below the sensor's resolution are never still
            auto code = encodeTemperature(t, noise_);
            return {code[0], code[1]};
        }
        case kCmdDeviceState:
            return byteReply(deviceState());
        case kCmdSetProtect:
        case kCmdSetRecovery: {
            // The firmware keeps the recovery threshold at or below the protection threshold
            // at every moment; a setting that would cross them is refused.
            const bool protect = c.command == kCmdSetProtect;
            const uint8_t newProtect = protect ? c.data0 : s.protectTemperature;
            const uint8_t newRecovery = protect ? s.recoveryTemperature : c.data0;
            if (newRecovery > newProtect) {
                char text[64];
                std::snprintf(text, sizeof text, "protection %u, recovery %u", newProtect,
                              newRecovery);
                violations_.count("recovery-above-protection", text);
                return {};
            }
            s.protectTemperature = newProtect;
            s.recoveryTemperature = newRecovery;
            updateProtection();
            return {};
        }
        case kCmdVersion:
            return byteReply(s.version);
        case kCmdLastPowerStates:
            return byteReply(s.lastPowerStates & 0x0F);
        case kCmdSetPoEEnable:
            for (int p = 0; p < kPorts; ++p) {
                uint8_t code = (c.data0 >> (2 * p)) & 3;
                if (code == kPortKeep) continue;
                s.poeEnabled[p] = code == kPortOn;
                s.lastPowerStates = static_cast<uint8_t>((s.lastPowerStates & ~(1u << p)) |
                                                         (code == kPortOn ? 1u << p : 0u));
            }
            return {};
        case kCmdPseReadOne:
        case kCmdPseReadTwo:
            return relayReply(c);
        case kCmdPseWrite:
            writePse(c.data0, c.data1);
            selectedPse_ = c.data0;
            selectDone_.start(*clock_, kSelectUs);
            return {};
        case kCmdPortStatus0:
        case kCmdPortStatus0 + 1:
        case kCmdPortStatus0 + 2:
        case kCmdPortStatus0 + 3: {
            int port = c.command - kCmdPortStatus0;
            return byteReply((devices_[port].classCode & 7) | (portPowered(port) ? 0x08 : 0x00));
        }
        case kCmdBusy:
            return byteReply(s.busy ? 1 : 0);
        case kCmdGetProtect:
            return byteReply(s.protectTemperature);
        case kCmdGetRecovery:
            return byteReply(s.recoveryTemperature);
        case kCmdGetPoEEnable: {
            unsigned codes = 0;
            for (int p = 0; p < kPorts; ++p) {
                uint8_t code = !s.poeEnabled[p] ? kPortOff : tripped_ ? kPortHeldOff : kPortOn;
                codes |= unsigned(code) << (2 * p);
            }
            return byteReply(codes);
        }
        case kCmdReset:
            // Settings live in flash and survive; the firmware restarts its supervision.
            ++s.resets;
            tripped_ = false;
            updateProtection();
            return {};
        case kCmdSetTempProtection:
            s.temperatureProtection = c.data0 != 0;
            updateProtection();
            return {};
        case kCmdGetTempProtection:
            return byteReply(s.temperatureProtection ? 1 : 0);
        case kCmdConsumedBudget:
        case kCmdLeftBudget: {
            uint16_t consumed = 0, left = 0;
            budgets(consumed, left);
            return word16(c.command == kCmdConsumedBudget ? consumed : left);
        }
        case kCmdSetBudgetControl:
            s.powerBudgetControl = c.data0;
            return {};
        case kCmdGetBudgetControl:
            return byteReply(s.powerBudgetControl);
        case kCmdGetFanDuty:
            return byteReply(s.fanDuty);
        case kCmdSetFanDuty:
            s.fanDuty = c.data0;
            return {};
        case kCmdFanRpm:
            return word16(std::min(0xFFFFu, s.fanFullSpeedRpm * s.fanDuty / 100));
        case kCmdGetSmartFan:
            return byteReply(s.smartFan ? 1 : 0);
        case kCmdSetSmartFan:
            s.smartFan = c.data0 != 0;
            return {};
        default:
            return {};
    }
}

// A relayed read of the PSE register the relay has selected: the echo of the register number,
// then its value (two bytes for 0x97). Without a select of the same register, finished
// before the read command, the relay reads what it has selected (the echo tells the host).
std::vector<uint8_t> RhxMcu::relayReply(const Command& c) {
    char text[40];
    if (selectedPse_ != c.data0) {
        std::snprintf(text, sizeof text, "register 0x%02x, selected %d", c.data0, selectedPse_);
        violations_.count("relay-without-select", text);
    } else if (!selectDone_.ready(*clock_)) {
        std::snprintf(text, sizeof text, "register 0x%02x, %llu us early", c.data0,
                      static_cast<unsigned long long>(selectDone_.remainingUs(*clock_)));
        violations_.count("relay-before-select-done", text);
        selectedPse_ = -1;
    }
    uint8_t reg = selectedPse_ < 0 ? 0xFF : static_cast<uint8_t>(selectedPse_);
    uint8_t echo = selectedPse_ < 0 ? 0xFF : reg;
    if (corruptEchoes_ > 0) {
        --corruptEchoes_;
        echo = static_cast<uint8_t>(echo + 1);
    }
    std::vector<uint8_t> reply{echo, selectedPse_ < 0 ? uint8_t(0xFF) : readPse(reg)};
    if (c.command == kCmdPseReadTwo)
        reply.push_back(selectedPse_ < 0 ? uint8_t(0xFF) : readPse(uint8_t(reg + 1)));
    return reply;
}

uint8_t RhxMcu::deviceState() const {
    return static_cast<uint8_t>((settings_.stateFlags & ~0x0Cu) |
                                ((settings_.powerSource & 3) << 2));
}

void RhxMcu::budgets(uint16_t& consumed, uint16_t& left) const {
    const Settings& s = settings_;
    if (s.totalBudget == 0) {
        consumed = s.consumedBudget;
        left = s.leftBudget;
        return;
    }
    unsigned booked = 0;
    for (int p = 0; p < kPorts; ++p)
        if (portPowered(p)) booked += devices_[p].allocation;
    consumed = static_cast<uint16_t>(std::min<unsigned>(booked, 0xFFFF));
    left = static_cast<uint16_t>(s.totalBudget > booked ? s.totalBudget - booked : 0);
}

void RhxMcu::traceCommand(const Command& c) const {
    const CommandInfo* info = findCommand(c.command);
    const char* name = info != nullptr ? info->name : "unknown";
    char line[128];
    int n = std::snprintf(line, sizeof line, "mcu 0x%02x %s %02x %02x", c.command, name, c.data0,
                          c.data1);
    if (c.command == kCmdSetPoEEnable) {
        static const char* const kCodes[4] = {"keep", "off", "on", "?"};
        for (int p = 0; p < kPorts && n > 0 && size_t(n) < sizeof line; ++p)
            n += std::snprintf(line + n, sizeof line - size_t(n), " port%d=%s", p,
                               kCodes[(c.data0 >> (2 * p)) & 3]);
    }
    trace_(line);
}

// Over-temperature cuts every port; the ports come back once the card has cooled down to the
// recovery temperature.
void RhxMcu::updateProtection() {
    const Settings& s = settings_;
    if (!s.temperatureProtection) {
        tripped_ = false;
    } else if (!tripped_ && s.temperature >= s.protectTemperature) {
        tripped_ = true;
    } else if (tripped_ && s.temperature <= s.recoveryTemperature) {
        tripped_ = false;
    }
}

bool RhxMcu::portPowered(int port) const {
    return settings_.poeEnabled[port] && devices_[port].classCode != 0 && !tripped_;
}

// ---------------------------------------------------------------------------------------------
// The PSE behind the relay

uint8_t RhxMcu::readPse(uint8_t reg) const {
    if (reg >= kPsePortStatus && reg < kPsePortStatus + kPorts) {
        const PortDevice& d = devices_[reg - kPsePortStatus];
        return static_cast<uint8_t>(((d.classCode & 7) << 4) | (d.classCode != 0 ? 0x04 : 0x00));
    }
    if (reg == kPsePowerStatus) {
        unsigned bits = 0;
        for (int p = 0; p < kPorts; ++p) {
            if (settings_.poeEnabled[p] && !tripped_) bits |= 1u << p;
            if (portPowered(p)) bits |= 0x10u << p;
        }
        return static_cast<uint8_t>(bits);
    }
    if (reg >= kPseCurrent && reg < kPseCurrent + 4 * kPorts) {
        int port = (reg - kPseCurrent) / 4;
        int field = (reg - kPseCurrent) % 4;  // 0,1 current; 2,3 voltage
        if (!portPowered(port)) return 0;
        uint16_t value = field < 2 ? devices_[port].current : devices_[port].voltage;
        return static_cast<uint8_t>(field % 2 == 0 ? value & 0xFF : value >> 8);
    }
    return pse_[reg];
}

void RhxMcu::writePse(uint8_t reg, uint8_t value) {
    if (!pseReadOnly(reg)) pse_[reg] = value;  // status and measurements ignore writes
}

// ---------------------------------------------------------------------------------------------
// Configuration and observation

RhxMcu::Settings RhxMcu::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void RhxMcu::setSettings(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
    updateProtection();
}

void RhxMcu::setTemperature(double celsius) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.temperature = celsius;
    updateProtection();
}

void RhxMcu::queueTemperatureSamples(const std::vector<double>& celsius) {
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.insert(samples_.end(), celsius.begin(), celsius.end());
}

void RhxMcu::setPortDevice(int port, const PortDevice& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(static_cast<size_t>(port)) = device;
}

bool RhxMcu::overTemperature() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tripped_;
}

uint8_t RhxMcu::pseRegister(uint8_t reg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readPse(reg);
}

void RhxMcu::setPseRegister(uint8_t reg, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    pse_[reg] = value;
}

void RhxMcu::answerFF(uint8_t command, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    ffReplies_[command] = times;
}

void RhxMcu::setSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
}

void RhxMcu::corruptEchoes(int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    corruptEchoes_ = times;
}

std::vector<RhxMcu::Command> RhxMcu::commandLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void RhxMcu::clearCommandLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

void RhxMcu::setClock(const ChipClock& clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = &clock;
}

void RhxMcu::setTrace(std::function<void(const std::string&)> trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.setTrace(trace);
    trace_ = std::move(trace);
}

void RhxMcu::saveState(nlohmann::json& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Settings& s = settings_;
    char version[8];
    std::snprintf(version, sizeof version, "%d.%d", s.version >> 4, s.version & 0x0F);
    out["version"] = version;
    out["temperature"] = s.temperature;
    out["over_temperature"] = tripped_;
    out["protect_temperature"] = s.protectTemperature;
    out["recovery_temperature"] = s.recoveryTemperature;
    out["temperature_protection"] = s.temperatureProtection;
    out["power_source"] = s.powerSource;
    out["device_state"] = deviceState();
    out["power_budget_control"] = s.powerBudgetControl;
    uint16_t consumed = 0, left = 0;
    budgets(consumed, left);
    if (s.totalBudget != 0) out["total_budget_w"] = s.totalBudget / 10.0;
    out["consumed_budget_w"] = consumed / 10.0;
    out["left_budget_w"] = left / 10.0;
    out["fan"] = {
        {"duty", s.fanDuty}, {"rpm", s.fanFullSpeedRpm * s.fanDuty / 100}, {"smart", s.smartFan}};
    out["busy"] = s.busy;
    out["resets"] = s.resets;
    nlohmann::json ports = nlohmann::json::array();
    for (int p = 0; p < kPorts; ++p) {
        ports.push_back({{"enabled", s.poeEnabled[p]},
                         {"last_power_state", (s.lastPowerStates >> p) & 1},
                         {"class_code", devices_[p].classCode},
                         {"powered", portPowered(p)},
                         {"voltage_counts", devices_[p].voltage},
                         {"current_counts", devices_[p].current},
                         {"allocation_w", devices_[p].allocation / 10.0}});
    }
    out["ports"] = ports;
    nlohmann::json pse = nlohmann::json::object();
    for (int reg = 0; reg < 256; ++reg) {
        uint8_t v = readPse(static_cast<uint8_t>(reg));
        if (v == 0) continue;
        char key[8];
        std::snprintf(key, sizeof key, "0x%02x", reg);
        pse[key] = v;
    }
    out["pse_registers"] = pse;
    out["commands_received"] = log_.size();
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
