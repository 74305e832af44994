#include "sim/boards/PoeBoardParts.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

namespace qrtsim {

namespace poe_board {

namespace {

constexpr const char* kDefaultMcuVersion = "2.1";

// The budget the microcontroller books the ports against, by the power input it senses
// (device-state bits 3..2), in tenths of a watt.
constexpr uint16_t kBudgetBySource[4] = {616, 1200, 200, 616};

// A powered device by the class code the PSE detected: the power the PSE books for it (tenths
// of a watt) and what a camera of that class typically draws (watts). Code 6 is class 0, code
// 7 a class the PSE could not settle.
struct DeviceClass {
    uint16_t allocation;
    double drawWatts;
};
constexpr DeviceClass kDeviceClasses[8] = {
    {0, 0.0}, {40, 2.5}, {70, 5.0}, {154, 10.0}, {300, 20.0}, {450, 35.0}, {154, 10.0}, {0, 0.0},
};
constexpr double kPortVolts = 48.0;
constexpr double kPseVoltsPerCount = 5.835e-3;
constexpr double kPseAmpsPerCount = 122.07e-6;

uint32_t fnv1a(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

std::string macText(const uint8_t* mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

// A text field of the EEPROM as the state file shows it: up to the terminator or the first
// erased cell (0xFF), with other bytes that are no printable ASCII written as \xNN.
std::string fieldText(const std::array<uint8_t, At24c02d::kSize>& memory, unsigned offset) {
    std::string text;
    for (unsigned i = offset; i < offset + kTextField && memory[i] != 0 && memory[i] != 0xFF; ++i) {
        uint8_t c = memory[i];
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

std::string textKey(const BoardConfig& config, const char* key, const std::string& fallback) {
    std::string text = config.text(key, fallback);
    if (text.size() >= kTextField) config.fail(key, "at most 31 characters fit the EEPROM field");
    return text;
}

// "major.minor", one nibble each: the firmware reports its version in one byte.
uint8_t parseMcuVersion(const BoardConfig& config) {
    std::string text = config.text("mcu_version", kDefaultMcuVersion);
    unsigned major = 0, minor = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &tail) != 2 || major > 15 ||
        minor > 15 || !std::isdigit(static_cast<unsigned char>(text[0])))
        config.fail("mcu_version", "\"" + text + "\" is not major.minor, each 0 to 15");
    return static_cast<uint8_t>(major << 4 | minor);
}

}  // namespace

std::array<uint8_t, 6> defaultMac(const std::string& section, unsigned port) {
    uint32_t hash = fnv1a(section);
    return {0x02,
            static_cast<uint8_t>(hash >> 24),
            static_cast<uint8_t>(hash >> 16),
            static_cast<uint8_t>(hash >> 8),
            static_cast<uint8_t>(hash),
            static_cast<uint8_t>(port)};
}

void configureMcu(RhxMcu& mcu, const BoardConfig& config, unsigned ports, bool fan) {
    RhxMcu::Settings settings;
    settings.version = parseMcuVersion(config);
    settings.temperature = config.number("temperature", settings.temperature, -55, 150);
    settings.powerSource = int(config.integer("power_source", 0, 0, 3));
    settings.totalBudget = kBudgetBySource[settings.powerSource];
    settings.fanFullSpeedRpm = fan ? settings.fanFullSpeedRpm : 0;  // no tachometer
    settings.lastPowerStates = static_cast<uint8_t>((1u << ports) - 1);
    mcu.setSettings(settings);
    for (unsigned port = 0; port < ports; ++port) {
        unsigned code = unsigned(config.integer("poe_class" + std::to_string(port), 0, 0, 7));
        RhxMcu::PortDevice device;
        device.classCode = static_cast<uint8_t>(code);
        device.allocation = kDeviceClasses[code].allocation;
        double watts = kDeviceClasses[code].drawWatts;
        device.voltage = code != 0 ? uint16_t(std::lround(kPortVolts / kPseVoltsPerCount)) : 0;
        device.current = uint16_t(std::lround(watts / kPortVolts / kPseAmpsPerCount));
        mcu.setPortDevice(int(port), device);
    }
}

void programIdentity(At24c02d& eeprom, const BoardConfig& config, unsigned ports,
                     const std::string& serialPrefix, const std::string& partNumber) {
    std::vector<std::array<uint8_t, 6>> macs;
    for (unsigned port = 0; port < ports; ++port) {
        std::string key = "mac" + std::to_string(port);
        std::array<uint8_t, 6> mac = config.mac(key, defaultMac(config.section, port));
        if ((mac[0] & 1u) != 0) config.fail(key, macText(mac.data()) + " is a multicast address");
        if (mac == std::array<uint8_t, 6>{}) config.fail(key, "the all-zero address is no MAC");
        for (unsigned other = 0; other < port; ++other) {
            if (macs[other] == mac)
                config.fail(key, "the same address as port " + std::to_string(other));
        }
        macs.push_back(mac);
        eeprom.load(uint8_t(kMacSlot + 8 * port), std::vector<uint8_t>(mac.begin(), mac.end()));
    }

    char serial[16];
    std::snprintf(serial, sizeof serial, "%.7s%07u", serialPrefix.c_str(),
                  fnv1a(config.section) % 10000000u);
    auto field = [&eeprom](uint8_t offset, const std::string& text) {
        std::vector<uint8_t> bytes(text.begin(), text.end());
        bytes.resize(kTextField, 0);
        eeprom.load(offset, bytes);
    };
    field(kSerialNumberField, textKey(config, "sn", serial));
    // Boards without a part number keep the field erased.
    std::string partNumberText = textKey(config, "pn", partNumber);
    if (!partNumberText.empty()) field(kPartNumberField, partNumberText);
}

nlohmann::json identityState(const At24c02d& eeprom, unsigned ports) {
    std::array<uint8_t, At24c02d::kSize> memory = eeprom.contents();
    nlohmann::json macs = nlohmann::json::array();
    for (unsigned port = 0; port < ports; ++port)
        macs.push_back(macText(&memory[kMacSlot + 8 * port]));
    std::string partNumber = fieldText(memory, kPartNumberField);
    return {
        {"mac", macs},
        {"sn", fieldText(memory, kSerialNumberField)},
        {"pn", partNumber},
        {"board_part_number", partNumber.size() >= 11 ? partNumber.substr(3, 8) : std::string()}};
}

}  // namespace poe_board

}  // namespace qrtsim
