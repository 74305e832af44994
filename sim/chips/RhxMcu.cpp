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

// Two-bit codes of the PoE enable byte.
constexpr uint8_t kPortOn = 2;
constexpr uint8_t kPortOff = 1;

// What each command does, for the trace.
struct CommandName {
    uint8_t command;
    const char* name;
};
constexpr CommandName kCommandNames[] = {
    {kCmdTemperature, "read-temperature"},
    {kCmdDeviceState, "read-device-state"},
    {kCmdSetProtect, "set-protect-temperature"},
    {kCmdSetRecovery, "set-recovery-temperature"},
    {kCmdVersion, "read-version"},
    {kCmdLastPowerStates, "read-last-power-states"},
    {kCmdSetPoEEnable, "set-poe-enable"},
    {kCmdPseReadOne, "pse-read-byte"},
    {kCmdPseWrite, "pse-write-byte"},
    {kCmdPortStatus0, "read-port0-status"},
    {kCmdPortStatus0 + 1, "read-port1-status"},
    {kCmdPortStatus0 + 2, "read-port2-status"},
    {kCmdPortStatus0 + 3, "read-port3-status"},
    {kCmdBusy, "read-busy"},
    {kCmdGetProtect, "read-protect-temperature"},
    {kCmdGetRecovery, "read-recovery-temperature"},
    {kCmdGetPoEEnable, "read-poe-enable"},
    {kCmdPseReadTwo, "pse-read-word"},
    {kCmdReset, "reset"},
    {kCmdSetTempProtection, "set-temperature-protection"},
    {kCmdGetTempProtection, "read-temperature-protection"},
    {kCmdConsumedBudget, "read-consumed-budget"},
    {kCmdLeftBudget, "read-left-budget"},
    {kCmdSetBudgetControl, "set-budget-control"},
    {kCmdGetBudgetControl, "read-budget-control"},
    {kCmdGetFanDuty, "read-fan-duty"},
    {kCmdSetFanDuty, "set-fan-duty"},
    {kCmdFanRpm, "read-fan-rpm"},
    {kCmdGetSmartFan, "read-smart-fan"},
    {kCmdSetSmartFan, "set-smart-fan"},
};

constexpr size_t kExchangeBytes = 3;  // command byte and a two-byte data word
constexpr size_t kLogLimit = 4096;    // a long-running rig keeps the recent exchanges only

std::vector<uint8_t> word16(unsigned value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

std::vector<uint8_t> byteReply(unsigned value) {
    return {static_cast<uint8_t>(value), 0x00};
}

bool pseReadOnly(uint8_t reg) {
    return (reg >= RhxMcu::kPsePortStatus && reg <= RhxMcu::kPsePowerStatus) ||
           (reg >= RhxMcu::kPseCurrent && reg < RhxMcu::kPseCurrent + 4 * RhxMcu::kPorts);
}

}  // namespace

RhxMcu::RhxMcu() = default;

std::array<uint8_t, 2> RhxMcu::encodeTemperature(double celsius) {
    long magnitude = std::lround(std::fabs(celsius) * 32.0) * 4;  // 1/32 degree steps
    magnitude = std::min(magnitude, 0x7FFCL);
    uint8_t sign = celsius < 0 && magnitude != 0 ? 0x80 : 0x00;
    return {static_cast<uint8_t>(magnitude & 0xFC),
            static_cast<uint8_t>(sign | ((magnitude >> 8) & 0x7F))};
}

// ---------------------------------------------------------------------------------------------
// The wire

bool RhxMcu::start(bool read) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (silent_) return false;
    if (writing_ && received_.size() == kExchangeBytes) {
        // A repeated start also ends a write.
        execute(Command{received_[0], received_[1], received_[2]});
    }
    received_.clear();
    writing_ = !read;
    replyPos_ = 0;
    return true;
}

bool RhxMcu::writeByte(uint8_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writing_ || received_.size() >= kExchangeBytes) return false;  // no room: not acked
    received_.push_back(byte);
    return true;
}

uint8_t RhxMcu::readByte(bool last) {
    (void)last;
    std::lock_guard<std::mutex> lock(mutex_);
    if (writing_ || replyPos_ >= reply_.size()) return 0xFF;
    return reply_[replyPos_++];
}

void RhxMcu::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The firmware acts on complete exchanges only; a transfer cut short is dropped.
    if (writing_ && received_.size() == kExchangeBytes)
        execute(Command{received_[0], received_[1], received_[2]});
    received_.clear();
    writing_ = false;
}

void RhxMcu::execute(const Command& c) {
    if (log_.size() >= kLogLimit) log_.erase(log_.begin(), log_.begin() + kLogLimit / 2);
    log_.push_back(c);
    if (trace_) traceCommand(c);
    reply_ = replyFor(c);
    replyPos_ = 0;
    auto ff = ffReplies_.find(c.command);
    if (ff != ffReplies_.end() && ff->second != 0) {
        reply_.assign(std::max<size_t>(reply_.size(), 2), 0xFF);
        if (ff->second > 0) --ff->second;
    }
}

// Carries out one command and returns the reply the next read clocks out (empty: the host
// reads the idle 0xFF).
std::vector<uint8_t> RhxMcu::replyFor(const Command& c) {
    Settings& s = settings_;
    switch (c.command) {
        case kCmdTemperature: {
            double t = s.temperature;
            if (!samples_.empty()) {
                t = samples_.front();
                samples_.pop_front();
            }
            auto code = encodeTemperature(t);
            return {code[0], code[1]};
        }
        case kCmdDeviceState:
            return byteReply(deviceState());
        case kCmdSetProtect:
            s.protectTemperature = c.data0;
            updateProtection();
            return {};
        case kCmdSetRecovery:
            s.recoveryTemperature = c.data0;
            updateProtection();
            return {};
        case kCmdVersion:
            return byteReply(s.version);
        case kCmdLastPowerStates:
            return byteReply(s.lastPowerStates & 0x0F);
        case kCmdSetPoEEnable:
            for (int p = 0; p < kPorts; ++p) {
                uint8_t code = (c.data0 >> (2 * p)) & 3;
                if (code != kPortOn && code != kPortOff) continue;  // 00 keeps the port as is
                s.poeEnabled[p] = code == kPortOn;
                s.lastPowerStates = static_cast<uint8_t>((s.lastPowerStates & ~(1u << p)) |
                                                         (code == kPortOn ? 1u << p : 0u));
            }
            return {};
        case kCmdPseReadOne:
        case kCmdPseReadTwo: {
            uint8_t echo = c.data0;
            if (corruptEchoes_ > 0) {
                --corruptEchoes_;
                echo = static_cast<uint8_t>(echo + 1);
            }
            std::vector<uint8_t> reply{echo, readPse(c.data0)};
            if (c.command == kCmdPseReadTwo) reply.push_back(readPse(uint8_t(c.data0 + 1)));
            return reply;
        }
        case kCmdPseWrite:
            writePse(c.data0, c.data1);
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
            for (int p = 0; p < kPorts; ++p)
                codes |= unsigned(s.poeEnabled[p] ? kPortOn : kPortOff) << (2 * p);
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
            if (c.data0 <= 100) s.fanDuty = c.data0;  // the firmware ignores a duty above 100
            return {};
        case kCmdFanRpm:
            return word16(std::min(0xFFFFu, s.fanFullSpeedRpm * s.fanDuty / 100));
        case kCmdGetSmartFan:
            return byteReply(s.smartFan ? 1 : 0);
        case kCmdSetSmartFan:
            s.smartFan = c.data0 != 0;
            return {};
        default:
            return {};  // unknown commands are acknowledged and ignored
    }
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
    const char* name = "unknown";
    for (const auto& entry : kCommandNames)
        if (entry.command == c.command) name = entry.name;
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
