#include "sim/boards/PoeCard.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qrtsim {

namespace {

// The factory writes the board part number behind this prefix.
constexpr const char* kPartNumberPrefix = "RHX";

// clang-format off
const std::vector<PoeCardModel> kModels = {
    // model                 ports pcb  CPLD stamp        part number  ToE    fan
    {"PCIe-RHX52",            2,   1,  "20160718_1110",  nullptr,     false, false},
    {"PCIe-RHX54",            4,   1,  "20160718_1110",  nullptr,     false, false},
    {"PCIe-RHX52PRO",         2,   1,  "20170126_1417",  nullptr,     true,  false},
    {"PCIe-RHX54PRO",         4,   1,  "20170126_1417",  nullptr,     true,  false},
    {"PCIe-RHXGPU-P1000",     4,   1,  "20180611_0930",  "27642-00",  true,  true},
    {"PCIe-RHX52P",           2,   2,  "20190423_1530",  "27640-15",  false, false},
    {"PCIe-RHX54P",           4,   2,  "20190423_1530",  "27640-0B",  false, false},
    {"PCIe-RHX52PPRO",        2,   2,  "20190423_1600",  "27640-16",  true,  false},
    {"PCIe-RHX54PPRO",        4,   2,  "20190423_1600",  "27640-09",  true,  false},
    {"PCIe-RHX54I",           4,   2,  "20200316_1045",  "27640-0D",  false, false},
    {"PCIe-RHX54IPRO",        4,   2,  "20200316_1100",  "27640-0F",  true,  false},
    {"PCIe-RHX54PAT",         4,   3,  "20210902_1420",  "27640-0H",  false, false},
};
// clang-format on

// Keys this board reads beyond the common ones.
const std::vector<std::string> kBoardKeys = {"cpld_packed", "poe_class0", "poe_class1",
                                             "poe_class2", "poe_class3"};

constexpr unsigned kPcbVersionMax = 31;  // five strap pins
constexpr unsigned kCardIdMax = 15;      // four strap pins
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

bool hexDigits(const std::string& text, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// A text field of the EEPROM as the state file shows it: up to the terminator or the first
// erased cell (0xFF), with other bytes that are no printable ASCII written as \xNN.
std::string fieldText(const std::array<uint8_t, At24c02d::kSize>& memory, unsigned offset) {
    std::string text;
    for (unsigned i = offset;
         i < offset + PoeCard::kTextField && memory[i] != 0 && memory[i] != 0xFF; ++i) {
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
    if (text.size() >= PoeCard::kTextField)
        config.fail(key, "at most 31 characters fit the EEPROM field");
    return text;
}

// "YYYYMMDD_hhmm", the form in which the kit prints a CPLD stamp.
RhxCpld::Version parseCpldVersion(const BoardConfig& config, const std::string& fallback) {
    std::string text = config.text("cpld_version", fallback);
    bool packed = config.integer("cpld_packed", 0, 0, 1) != 0;
    if (text.size() != 13 || text[8] != '_' || !hexDigits(text, 0, 8) || !hexDigits(text, 9, 4))
        config.fail("cpld_version", "\"" + text + "\" is not a CPLD stamp like 20160718_1110");
    RhxCpld::Version version;
    version.packed = packed;
    version.date = uint32_t(std::stoul(text.substr(0, 8), nullptr, 16));
    version.time = uint32_t(std::stoul(text.substr(9, 4), nullptr, 16));
    if (packed) {
        // The older CPLDs pack the stamp in one word: the year as 0..15 after 2000, the month
        // in four bits.
        bool decimalYear = text.find_first_not_of("0123456789") >= 4;
        unsigned year = decimalYear ? unsigned(std::stoul(text.substr(0, 4))) : 0;
        unsigned month = (version.date >> 8) & 0xFF;
        if (year < 2000 || year > 2015 || month > 0x0F)
            config.fail("cpld_version",
                        "an older (packed) CPLD stamp needs a year from 2000 to "
                        "2015 and a month of one hex digit");
        version.packedWord = (uint32_t(year - 2000) << 28) | (month << 24) |
                             ((version.date & 0xFF) << 16) | (version.time & 0xFFFF);
    }
    return version;
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

const struct Registration {
    Registration() {
        for (const PoeCardModel& model : kModels) {
            registerBoardType(BoardType{model.model, kBoardKeys,
                                        [&model](const BoardConfig& config, BoardContext& context) {
                                            return std::unique_ptr<Board>(
                                                new PoeCard(model, config, context));
                                        }});
        }
    }
} kRegistration;

}  // namespace

const std::vector<PoeCardModel>& PoeCard::models() {
    return kModels;
}

std::array<uint8_t, 6> PoeCard::defaultMac(const std::string& section, unsigned port) {
    uint32_t hash = fnv1a(section);
    return {0x02,
            static_cast<uint8_t>(hash >> 24),
            static_cast<uint8_t>(hash >> 16),
            static_cast<uint8_t>(hash >> 8),
            static_cast<uint8_t>(hash),
            static_cast<uint8_t>(port)};
}

PoeCard::PoeCard(const PoeCardModel& model, const BoardConfig& config, BoardContext& context)
    : model_(model) {
    refusePortKeysBeyond(config, model.model, model.ports);
    pcbVersion_ = unsigned(config.integer("pcb_version", model.pcbVersion, 0, kPcbVersionMax));
    cardId_ = unsigned(config.integer("card_id", 0, 0, kCardIdMax));

    switch_ = std::make_unique<PexSwitch>(PexSwitch::pex8608());
    switch_->setPowerOnDirection(kPowerOnDirection);
    wireStraps(pcbVersion_, cardId_);
    configureCpld(config);
    switch_->attachSerialDevice(&cpld_->spiPort());
    mcu_ = makeMcu(config, model.ports, model.fan);
    eeprom_ = makeEeprom(config, model.ports, model.partNumber);
    cpld_->masterBus().attach(RhxMcu::kAddress, mcu_.get());
    cpld_->masterBus().attach(At24c02d::kAddress, eeprom_.get());
    switch_->setClock(*context.clock);
    switch_->setSeed(Latency::chipSeed(context.seed, 0));
    cpld_->setSeed(Latency::chipSeed(context.seed, 1));
    cpld_->setClock(*context.clock);
    mcu_->setClock(*context.clock);
    eeprom_->setClock(*context.clock);

    if (context.trace) {
        auto trace = [section = config.section, sink = context.trace](const std::string& line) {
            sink("[" + section + "] " + line);
        };
        switch_->setTrace(trace);
        cpld_->setTrace(trace);
        mcu_->setTrace(trace);
        eeprom_->setTrace(trace);
    }
    if (model.toe) cpld_->setFrameSink(context.frames);
}

void PoeCard::wireStraps(unsigned pcbVersion, unsigned cardId) {
    for (unsigned pin = 0; pin < switch_->chip().pinCount; ++pin) switch_->setStrap(pin, true);
    for (unsigned bit = 0; bit < 5; ++bit)
        switch_->setStrap(kPcbVersionPins[bit], (pcbVersion >> bit) & 1u);
    for (unsigned bit = 0; bit < 4; ++bit)
        switch_->setStrap(kCardIdPins[bit], ((cardId >> bit) & 1u) == 0);
    switch_->setStrap(kTiedLowPin, false);
    switch_->setStrap(kTwoPortPin, model_.ports == 2);
}

void PoeCard::configureCpld(const BoardConfig& config) {
    cpld_ = std::make_unique<RhxCpld>();
    cpld_->setVersion(cpldVersion(config, model_.cpldVersion));
    // Only the Pro boards wire the SMBus sender to the Ethernet controllers.
    if (model_.toe) cpld_->setSmbusTarget(kEthernetSmbusAddress);
}

void PoeCard::refusePortKeysBeyond(const BoardConfig& config, const char* model, unsigned ports) {
    for (unsigned port = ports; port < 4; ++port) {
        for (const std::string& key :
             {"mac" + std::to_string(port), "poe_class" + std::to_string(port)}) {
            if (config.has(key))
                config.fail(key, "the " + std::string(model) + " has " + std::to_string(ports) +
                                     " camera ports");
        }
    }
}

RhxCpld::Version PoeCard::cpldVersion(const BoardConfig& config, const char* fallback) {
    return parseCpldVersion(config, fallback);
}

std::unique_ptr<RhxMcu> PoeCard::makeMcu(const BoardConfig& config, unsigned ports, bool fan) {
    RhxMcu::Settings settings;
    settings.version = parseMcuVersion(config);
    settings.temperature = config.number("temperature", settings.temperature, -55, 150);
    settings.powerSource = int(config.integer("power_source", 0, 0, 3));
    settings.totalBudget = kBudgetBySource[settings.powerSource];
    settings.fanFullSpeedRpm = fan ? settings.fanFullSpeedRpm : 0;  // no tachometer
    settings.lastPowerStates = static_cast<uint8_t>((1u << ports) - 1);
    auto mcu = std::make_unique<RhxMcu>();
    mcu->setSettings(settings);
    for (unsigned port = 0; port < ports; ++port) {
        unsigned code = unsigned(config.integer("poe_class" + std::to_string(port), 0, 0, 7));
        RhxMcu::PortDevice device;
        device.classCode = static_cast<uint8_t>(code);
        device.allocation = kDeviceClasses[code].allocation;
        double watts = kDeviceClasses[code].drawWatts;
        device.voltage = code != 0 ? uint16_t(std::lround(kPortVolts / kPseVoltsPerCount)) : 0;
        device.current = uint16_t(std::lround(watts / kPortVolts / kPseAmpsPerCount));
        mcu->setPortDevice(int(port), device);
    }
    return mcu;
}

std::unique_ptr<At24c02d> PoeCard::makeEeprom(const BoardConfig& config, unsigned ports,
                                              const char* partNumber) {
    auto eeprom = std::make_unique<At24c02d>();
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
        eeprom->load(uint8_t(kMacSlot + 8 * port), std::vector<uint8_t>(mac.begin(), mac.end()));
    }

    char serial[16];
    std::snprintf(serial, sizeof serial, "RX%07u", fnv1a(config.section) % 10000000u);
    auto field = [&eeprom](uint8_t offset, const std::string& text) {
        std::vector<uint8_t> bytes(text.begin(), text.end());
        bytes.resize(kTextField, 0);
        eeprom->load(offset, bytes);
    };
    field(kSerialNumberField, textKey(config, "sn", serial));
    // The first boards carry no part number; their EEPROM field stays erased.
    std::string text =
        partNumber != nullptr ? std::string(kPartNumberPrefix) + partNumber : std::string();
    text = textKey(config, "pn", text);
    if (!text.empty()) field(kPartNumberField, text);
    return eeprom;
}

void PoeCard::saveState(nlohmann::json& out) const {
    out["model"] = model_.model;
    out["ports"] = model_.ports;
    out["pcb_version"] = pcbVersion_;
    out["card_id"] = cardId_;
    out["toe"] = model_.toe;
    out["fan"] = model_.fan;
    switch_->saveState(out["switch"]);
    cpld_->saveState(out["cpld"]);
    mcu_->saveState(out["mcu"]);
    saveEeprom(*eeprom_, model_.ports, out["eeprom"]);
}

void PoeCard::saveEeprom(const At24c02d& eeprom, unsigned ports, nlohmann::json& out) {
    eeprom.saveState(out);
    // The identity as the EEPROM holds it now (a program may have rewritten it).
    std::array<uint8_t, At24c02d::kSize> memory = eeprom.contents();
    nlohmann::json macs = nlohmann::json::array();
    for (unsigned port = 0; port < ports; ++port)
        macs.push_back(macText(&memory[kMacSlot + 8 * port]));
    std::string partNumber = fieldText(memory, kPartNumberField);
    out["identity"] = {
        {"mac", macs},
        {"sn", fieldText(memory, kSerialNumberField)},
        {"pn", partNumber},
        {"board_part_number", partNumber.size() >= 11 ? partNumber.substr(3, 8) : std::string()}};
}

}  // namespace qrtsim
