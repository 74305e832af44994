#include "sim/boards/Rhx44PlusCard.h"

#include "sim/boards/PoeCard.h"

namespace qrtsim {

namespace {

const BoardRegistrar kRegistrar{BoardType{
    Rhx44PlusCard::kModel, {"cpld_packed"}, [](const BoardConfig& config, BoardContext& context) {
        return std::unique_ptr<Board>(new Rhx44PlusCard(config, context));
    }}};

}  // namespace

Rhx44PlusCard::Rhx44PlusCard(const BoardConfig& config, BoardContext& context) {
    for (const char* key : {"sn", "pn", "mcu_version", "power_source", "temperature"}) {
        if (config.has(key))
            config.fail(key, "the PCIe-RHX44+ has no microcontroller and no identity EEPROM");
    }
    pcbVersion_ = unsigned(config.integer("pcb_version", kDefaultPcbVersion, 0, 31));
    cardId_ = unsigned(config.integer("card_id", 0, 0, 15));

    switch_ = std::make_unique<PexSwitch>(PexSwitch::pex8608());
    switch_->setPowerOnDirection(PoeCard::kPowerOnDirection);
    switch_->setClock(*context.clock);
    switch_->setSeed(Latency::chipSeed(context.seed, 0));
    for (unsigned pin = 0; pin < switch_->chip().pinCount; ++pin) switch_->setStrap(pin, true);
    for (unsigned bit = 0; bit < 5; ++bit)
        switch_->setStrap(PoeCard::kPcbVersionPins[bit], (pcbVersion_ >> bit) & 1u);
    for (unsigned bit = 0; bit < 4; ++bit)
        switch_->setStrap(PoeCard::kCardIdPins[bit], ((cardId_ >> bit) & 1u) == 0);
    switch_->setStrap(PoeCard::kTiedLowPin, false);

    cpld_ = std::make_unique<RhxCpld>();
    cpld_->setVersion(PoeCard::cpldVersion(config, kCpldVersion));
    switch_->attachSerialDevice(&cpld_->spiPort());
    cpld_->setClock(*context.clock);
    cpld_->setSeed(Latency::chipSeed(context.seed, 1));
    gpioI2c_.attach(PsePowerChip::kAddress, &powerChip_);

    if (context.trace) {
        auto trace = [section = config.section, sink = context.trace](const std::string& line) {
            sink("[" + section + "] " + line);
        };
        switch_->setTrace(trace);
        cpld_->setTrace(trace);
        decoder_.setTrace(trace);
        powerChip_.setTrace(trace);
    }
}

void Rhx44PlusCard::WatchedSwitch::writeRegister32(uint64_t offset, uint32_t value) {
    // A write outside a command cache run is a request of its own, far from the last one.
    if (unsettledWrite_) nowNs_ += kIdleGapNs;
    nowNs_ += kPinWriteNs;
    unsettledWrite_ = true;
    card_.switch_->writeRegister32(offset, value);
    const bool output = (offset & ~uint64_t{3}) == card_.switch_->chip().outputRegister;
    const uint64_t drives = masked_ && maskOffset_ == offset ? mask_ : ~uint64_t{0};
    masked_ = false;
    card_.decoder_.drive(card_.switch_->pinLevel(kClockPin), card_.switch_->pinLevel(kDataPin),
                         output && ((drives >> kClockPin) & 1u) != 0,
                         output && ((drives >> kDataPin) & 1u) != 0, nowNs_);
}

void Rhx44PlusCard::WatchedSwitch::cachedWriteMask(uint64_t offset, uint64_t mask) {
    maskOffset_ = offset;
    mask_ = mask;
    masked_ = true;
}

void Rhx44PlusCard::WatchedSwitch::cachedWriteSettled(uint32_t microseconds) {
    nowNs_ += uint64_t{microseconds} * 1000;
    unsettledWrite_ = false;
}

void Rhx44PlusCard::WatchedSwitch::commandCacheExecuted() {
    nowNs_ += kIdleGapNs;
    card_.decoder_.burstEnded();
}

void Rhx44PlusCard::saveState(nlohmann::json& out) const {
    out["model"] = kModel;
    out["ports"] = PsePowerChip::kPorts;
    out["pcb_version"] = pcbVersion_;
    out["card_id"] = cardId_;
    switch_->saveState(out["switch"]);
    cpld_->saveState(out["cpld"]);
    decoder_.saveState(out["gpio_i2c"]);
    powerChip_.saveState(out["power_chip"]);
}

}  // namespace qrtsim
