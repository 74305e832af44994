#include "sim/boards/Usb3Card.h"

#include <cstdio>
#include <string>

namespace qrtsim {

namespace {

// The prefix the factory puts before the part number in the microcontroller's flash.
constexpr const char* kPartNumberPrefix = "W5-";

// Pins of the 12-port card that carry ports 8, 9, 10 and 11.
constexpr unsigned kPinOfPort8To11[4] = {7, 6, 9, 8};

const std::vector<Usb3CardModel> kModels = {
    {"PCIe-W504", "53104-10", 4, false},  {"PCIe-W508", "53104-20", 8, false},
    {"PCIe-W512", "53104-30", 12, false}, {"PCIe-W504P", "53104-11", 4, true},
    {"PCIe-W508P", "53104-21", 8, true},  {"PCIe-W512P", "53104-31", 12, true},
};

// Keys this board reads beyond the common ones.
const std::vector<std::string> kBoardKeys = {"ex_power", "switch", "card_id_valid",
                                             "serial_busy_polls"};

std::string flashText(const BoardConfig& config, const char* key, const std::string& fallback) {
    std::string text = config.text(key, fallback);
    if (text.size() > Usb3CardMcu::kTextBytes)
        config.fail(key, "at most 14 characters fit the microcontroller's flash field");
    return text;
}

// "major.minor", each 0..255.
void parseVersion(const BoardConfig& config, Usb3CardMcu::Settings& settings) {
    std::string text = config.text("mcu_version", "1.0");
    unsigned major = 0, minor = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &tail) != 2 || major > 255 ||
        minor > 255)
        config.fail("mcu_version", "expected major.minor, each 0 to 255");
    settings.versionMajor = uint8_t(major);
    settings.versionMinor = uint8_t(minor);
}

const BoardRegistrar kRegistrars[] = {
#define QRT_USB3_CARD(i)                                                                         \
    BoardRegistrar {                                                                             \
        BoardType {                                                                              \
            kModels[i].model, kBoardKeys, [](const BoardConfig& config, BoardContext& context) { \
                return std::unique_ptr<Board>(new Usb3Card(kModels[i], config, context));        \
            }                                                                                    \
        }                                                                                        \
    }
    QRT_USB3_CARD(0), QRT_USB3_CARD(1), QRT_USB3_CARD(2),
    QRT_USB3_CARD(3), QRT_USB3_CARD(4), QRT_USB3_CARD(5),
#undef QRT_USB3_CARD
};

}  // namespace

const std::vector<Usb3CardModel>& Usb3Card::models() {
    return kModels;
}

Usb3Card::Usb3Card(const Usb3CardModel& model, const BoardConfig& config, BoardContext& context)
    : model_(model) {
    bool twelvePort = model.ports == 12;
    long long chip = config.integer("switch", twelvePort ? 8608 : 8718, 8608, 8718);
    if (chip != 8608 && chip != 8718) config.fail("switch", "expected 8608 or 8718");
    if (twelvePort && chip != 8608)
        config.fail("switch", "the 12-port card needs the PEX 8608 (ports 8 to 11 on its pins)");
    switch_ =
        std::make_unique<PexSwitch>(chip == 8608 ? PexSwitch::pex8608() : PexSwitch::pex8718());
    switch_->setSerialBusyPolls(unsigned(config.integer("serial_busy_polls", 1, 0, 100000)));

    pcbVersion_ = unsigned(config.integer("pcb_version", model.externalSupply ? 2 : 0, 0, 3));
    bool pex8718 = chip == 8718;
    switch_->setStrap(pex8718 ? 0 : 2, pcbVersion_ & 1);
    switch_->setStrap(pex8718 ? 4 : 10, pcbVersion_ & 2);
    // The sense line idles high and a plugged supply pulls it low.
    switch_->setStrap(kSupplySensePin, config.integer("ex_power", 0, 0, 1) == 0);

    Usb3CardMcu::Settings settings;
    settings.partNumber =
        flashText(config, "pn", std::string(kPartNumberPrefix) + model.partNumber);
    settings.serialNumber = flashText(config, "sn", "00000000");
    settings.cardId = int(config.integer("card_id", 1, 0, 127));
    settings.cardIdValid = config.integer("card_id_valid", 1, 0, 1) != 0;
    parseVersion(config, settings);
    mcu_ = std::make_unique<Usb3CardMcu>(settings);
    if (context.trace) {
        std::string section = config.section;
        auto trace = context.trace;
        auto sectionTrace = [section, trace](const std::string& line) {
            trace("[" + section + "] " + line);
        };
        mcu_->setTrace(sectionTrace);
        switch_->setTrace(sectionTrace);
    }
    switch_->attachSerialDevice(mcu_.get());

    for (unsigned port = 0; port < model.ports; ++port) {
        if (model.ports == 4)
            ports_.push_back({false, 2 * port});
        else if (port < 8)
            ports_.push_back({false, port});
        else
            ports_.push_back({true, kPinOfPort8To11[port - 8]});
    }
}

bool Usb3Card::portPowered(unsigned port) const {
    if (port >= ports_.size()) return false;
    const PortLine& line = ports_[port];
    return line.onPin ? !switch_->pinIsOutput(line.index) : mcu_->channelPowered(line.index);
}

bool Usb3Card::externalSupplyConnected() const {
    return !switch_->pinLevel(kSupplySensePin);
}

void Usb3Card::saveState(nlohmann::json& out) const {
    out["model"] = model_.model;
    nlohmann::json ports = nlohmann::json::array();
    for (unsigned port = 0; port < ports_.size(); ++port)
        ports.push_back(portPowered(port) ? 1 : 0);
    out["port_power"] = ports;
    out["pcb_version"] = pcbVersion_;
    out["external_supply"] = {{"connected", externalSupplyConnected()},
                              {"pin", kSupplySensePin},
                              {"level", switch_->pinLevel(kSupplySensePin) ? 1 : 0}};
    switch_->saveState(out["switch"]);
    mcu_->saveState(out["mcu"]);
}

}  // namespace qrtsim
