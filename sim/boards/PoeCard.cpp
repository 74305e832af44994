#include "sim/boards/PoeCard.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/boards/PoeBoardParts.h"

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

bool hexDigits(const std::string& text, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
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
    return poe_board::defaultMac(section, port);
}

PoeCard::PoeCard(const PoeCardModel& model, const BoardConfig& config, BoardContext& context)
    : model_(model) {
    for (unsigned port = model.ports; port < 4; ++port) {
        for (const std::string& key :
             {"mac" + std::to_string(port), "poe_class" + std::to_string(port)}) {
            if (config.has(key))
                config.fail(key, "the " + std::string(model.model) + " has " +
                                     std::to_string(model.ports) + " camera ports");
        }
    }
    pcbVersion_ = unsigned(config.integer("pcb_version", model.pcbVersion, 0, kPcbVersionMax));
    cardId_ = unsigned(config.integer("card_id", 0, 0, kCardIdMax));

    switch_ = std::make_unique<PexSwitch>(PexSwitch::pex8608());
    wireStraps(pcbVersion_, cardId_);
    configureCpld(config);
    switch_->attachSerialDevice(&cpld_->spiPort());
    configureMcu(config);
    programEeprom(config);
    cpld_->masterBus().attach(RhxMcu::kAddress, mcu_.get());
    cpld_->masterBus().attach(At24c02d::kAddress, eeprom_.get());

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
    cpld_->setVersion(parseCpldVersion(config, model_.cpldVersion));
    // Only the Pro boards wire the SMBus sender to the Ethernet controllers.
    if (model_.toe) cpld_->setSmbusTarget(kEthernetSmbusAddress);
}

void PoeCard::configureMcu(const BoardConfig& config) {
    mcu_ = std::make_unique<RhxMcu>();
    poe_board::configureMcu(*mcu_, config, model_.ports, model_.fan);
}

void PoeCard::programEeprom(const BoardConfig& config) {
    eeprom_ = std::make_unique<At24c02d>();
    // The first boards carry no part number; their EEPROM field stays erased.
    std::string partNumber = model_.partNumber != nullptr
                                 ? std::string(kPartNumberPrefix) + model_.partNumber
                                 : std::string();
    poe_board::programIdentity(*eeprom_, config, model_.ports, "RX", partNumber);
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
    nlohmann::json& eeprom = out["eeprom"];
    eeprom_->saveState(eeprom);

    // The identity as the EEPROM holds it now (a program may have rewritten it).
    eeprom["identity"] = poe_board::identityState(*eeprom_, model_.ports);
}

}  // namespace qrtsim
