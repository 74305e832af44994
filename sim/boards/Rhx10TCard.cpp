#include "sim/boards/Rhx10TCard.h"

#include "sim/boards/PoeCard.h"

namespace qrtsim {

namespace {

const BoardRegistrar kRegistrar{
    BoardType{Rhx10TCard::kModel,
              {"poe_class0", "poe_class1", "i2c_busy_polls", "controller"},
              [](const BoardConfig& config, BoardContext& context) {
                  return std::unique_ptr<Board>(new Rhx10TCard(config, context));
              }}};

}  // namespace

Rhx10TCard::Rhx10TCard(const BoardConfig& config, BoardContext& context) {
    PoeCard::refusePortKeysBeyond(config, kModel, kPorts);
    pcbVersion_ = unsigned(config.integer("pcb_version", kDefaultPcbVersion, 0, 7));
    cardId_ = unsigned(config.integer("card_id", 0, 0, 255));
    const std::string controller = config.text("controller", "X550");
    if (controller != "X550" && controller != "I210") config.fail("controller", "X550 or I210");
    const EthControllerLayout& chip =
        controller == "I210" ? IntelEthController::i210() : IntelEthController::x550();

    for (unsigned function = 0; function < lan_.size(); ++function) {
        lan_[function] = std::make_unique<IntelEthController>(chip, function);
        if (config.has("i2c_busy_polls"))
            lan_[function]->setBusyPolls(unsigned(config.integer("i2c_busy_polls", 1, 0, 100000)));
        lan_[function]->setSeed(Latency::chipSeed(context.seed, function));
        lan_[function]->setClock(*context.clock);
    }
    cpld_ = std::make_unique<RhxCpld>();
    cpld_->setVersion(PoeCard::cpldVersion(config, kCpldVersion));
    cpld_->setBoardIdentity(uint8_t(kAssemblyVariant | pcbVersion_), uint8_t(cardId_));
    cpld_->setSmbusTarget(kEthernetSmbusAddress);
    cpld_->setFrameSink(context.frames);
    mcu_ = PoeCard::makeMcu(config, kPorts, false);
    eeprom_ = PoeCard::makeEeprom(config, kPorts, kPartNumber);

    lan_[0]->i2cBus().attach(RhxCpld::kI2cAddress, &cpld_->i2cPort());
    cpld_->masterBus().attach(RhxMcu::kAddress, mcu_.get());
    cpld_->masterBus().attach(At24c02d::kAddress, eeprom_.get());
    cpld_->setClock(*context.clock);
    cpld_->setI2cBitTime(IntelEthController::kBitUs);
    cpld_->setSeed(Latency::chipSeed(context.seed, 2));
    mcu_->setClock(*context.clock);
    eeprom_->setClock(*context.clock);

    if (context.trace) {
        auto trace = [section = config.section, sink = context.trace](const std::string& line) {
            sink("[" + section + "] " + line);
        };
        lan_[0]->setTrace(trace);
        lan_[1]->setTrace([section = config.section, sink = context.trace](
                              const std::string& line) { sink("[" + section + "] lan1 " + line); });
        cpld_->setTrace(trace);
        mcu_->setTrace(trace);
        eeprom_->setTrace(trace);
    }
}

void Rhx10TCard::saveState(nlohmann::json& out) const {
    out["model"] = kModel;
    out["ports"] = kPorts;
    out["pcb_version"] = pcbVersion_;
    out["card_id"] = cardId_;
    nlohmann::json lans = nlohmann::json::array();
    for (const auto& lan : lan_) {
        nlohmann::json state;
        lan->saveState(state);
        lans.push_back(state);
    }
    out["x550"] = lans;
    cpld_->saveState(out["cpld"]);
    mcu_->saveState(out["mcu"]);
    PoeCard::saveEeprom(*eeprom_, kPorts, out["eeprom"]);
}

}  // namespace qrtsim
