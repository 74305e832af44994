#pragma once

// A PoE card of the rig built in-process from rig keys, reached by the products through an
// in-process PCI map on its PEX 8608: the real controllers talk to the rig's chip models.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/common/I_CommonDef.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"
#include "sim/boards/PoeCard.h"
#include "support/SimPciMap.h"

namespace poetest {

struct FrameLog : qrtsim::FrameSink {
    std::vector<std::vector<uint8_t>> frames;
    void emitFrame(const std::vector<uint8_t>& frame) override { frames.push_back(frame); }
};

class RigCard {
  public:
    explicit RigCard(const std::string& model, std::map<std::string, std::string> keys = {}) {
        qrtsim::BoardConfig config;
        config.file = "bench.rig";
        config.section = "card";
        config.values = std::move(keys);
        config.values["model"] = model;
        context_.frames = &frames;
        context_.trace = [this](const std::string& line) { trace.push_back(line); };
        std::unique_ptr<qrtsim::Board> board = qrtsim::findBoardType(model)->make(config, context_);
        board_.reset(static_cast<qrtsim::PoeCard*>(board.release()));
        map_ = std::make_unique<qrttest::SimPciMap>(board_->pciSwitch());
    }

    qrtsim::PoeCard& board() { return *board_; }
    void* pciMap() { return static_cast<I_pciMap*>(map_.get()); }

    FrameLog frames;
    std::vector<std::string> trace;

  private:
    qrtsim::BoardContext context_;
    std::unique_ptr<qrtsim::PoeCard> board_;
    std::unique_ptr<qrttest::SimPciMap> map_;
};

// A card object of a series base bound to a rig card the way the models bind theirs, and
// accepted as the given type without identification: the bases' own behaviour, apart from
// any model.
template <class Base>
class BenchCard : public Base {
  public:
    BenchCard(QRT_PRODUCT_TYPE type, unsigned ports) : type_(type), ports_(ports) {}

    int initial(void* pciMap) override {
        I_nkPCISwitcher* pex = switches_.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
        this->cpld = cplds_.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
        this->mcu = mcus_.create(C_rhxMCUFactory::NK_HWMCU_RHX);
        this->eeprom = eeproms_.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
        int status = pex->initial(pciMap);
        if (status == 0) status = this->cpld->initial(static_cast<I_nkSPI*>(pex));
        if (status == 0) status = this->mcu->initial(this->cpld);
        if (status == 0) status = this->eeprom->initial(this->cpld);
        if (status != 0) return status;
        this->cpld->setI2CSlave(this->mcuSlave);
        this->productType = type_;
        this->poePortCount = ports_;
        this->initialized = 1;
        return this->updateMAC();
    }

    // Takes the card lock away from the card's own operations, or gives it back.
    void holdCardLock(bool hold) {
        if (hold)
            I_CommonDef::sem_trywait(this->lock.handle());
        else
            I_CommonDef::sem_post(this->lock.handle());
    }

  private:
    QRT_PRODUCT_TYPE type_;
    unsigned ports_;
    C_nkPCISwitcherFactory switches_;
    C_rhxCPLDFactory cplds_;
    C_rhxMCUFactory mcus_;
    C_nkEEPROMFactory eeproms_;
};

}  // namespace poetest
