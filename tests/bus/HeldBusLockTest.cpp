// Each bus object guards its hardware with its own lock: while one caller's transfer is under
// way, another caller gets -100 once the bounded wait is over and never reaches the hardware.
// Real time: the bus objects' waits run side by side, about ten seconds in all.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QRT_Types.h"
#include "bus/VirtualI2cAdapters.h"
#include "core/bus/C_nkDTSI2C.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/ethctrl/C_nkEthCtrlFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "sim/chips/IntelEthController.h"
#include "sim/chips/PexSwitch.h"
#include "sim/chips/RhxCpld.h"
#include "support/SimPciMap.h"

namespace {

// Hardware that stops answering while its gate is shut: the caller inside holds its locks.
class Gate {
  public:
    void pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (shut_) entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !shut_; });
    }
    void shut() {
        std::lock_guard<std::mutex> lock(mutex_);
        shut_ = true;
    }
    // Bounded, so that a holder that never reaches the hardware fails the test, not hangs it.
    bool waitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return entered_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        shut_ = false;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool shut_ = false;
    bool entered_ = false;
};

// A chip's register space behind a gate, and the PCI map onto it that the SDK's objects take.
class GatedFunction : public qrtsim::PciFunction {
  public:
    explicit GatedFunction(qrtsim::PciFunction& chip) : chip_(chip) {}
    uint16_t vendorId() const override { return chip_.vendorId(); }
    uint16_t deviceId() const override { return chip_.deviceId(); }
    uint32_t readRegister32(uint64_t offset) override {
        gate.pass();
        return chip_.readRegister32(offset);
    }
    void writeRegister32(uint64_t offset, uint32_t value) override {
        gate.pass();
        chip_.writeRegister32(offset, value);
    }

    Gate gate;
    qrttest::SimPciMap map{*this};

  private:
    qrtsim::PciFunction& chip_;
};

class GatedSlave : public qrtsim::I2cSlave {
  public:
    explicit GatedSlave(Gate& gate) : gate_(gate) {}
    bool start(bool) override { return gate_.pass(), true; }
    bool writeByte(uint8_t) override { return true; }
    uint8_t readByte(bool) override { return 0; }
    void stop() override {}

  private:
    Gate& gate_;
};

// One bus object: the transfer that holds its lock, and the calls that must then answer -100.
struct HeldBus {
    std::string name;
    std::function<int()> holder;
    std::vector<std::function<int()>> contenders;
};

TEST(HeldBusLock, EveryBusObjectAnswersBusyWhileAnotherCallerHoldsIt) {
    unsigned char data[4] = {1, 2, 3, 4};
    unsigned char buffer[4] = {};

    // The embedded system's Linux I2C adapter.
    Gate adapterGate;
    GatedSlave device(adapterGate);
    qrttest::VirtualI2cAdapters::adapters()[7].bus.attach(0x2D, &device);
    C_nkDTSI2C adapter;
    ASSERT_EQ(adapter.initial(7), QRT_SUCCESS);
    ASSERT_EQ(adapter.setI2CSlave(0x2D), QRT_SUCCESS);

    // A PEX 8608: its serial port and pins.
    qrtsim::PexSwitch pex(qrtsim::PexSwitch::pex8608());
    GatedFunction pexRegisters(pex);
    C_nkPCISwitcherFactory switches;
    I_nkPCISwitcher* sw = switches.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    ASSERT_EQ(sw->initial(&pexRegisters.map), QRT_SUCCESS);

    // An X550's I2C master.
    qrtsim::IntelEthController lan(qrtsim::IntelEthController::x550());
    GatedFunction lanRegisters(lan);
    C_nkEthCtrlFactory controllers;
    I_nkEthCtrl* x550 = controllers.create(C_nkEthCtrlFactory::NK_ETHCTRL_X550);
    ASSERT_EQ(x550->initial(&lanRegisters.map), QRT_SUCCESS);
    ASSERT_EQ(x550->setI2CSlave(0x50), QRT_SUCCESS);

    // The CPLD's bridge and registers, on another switch's serial port.
    qrtsim::RhxCpld cpldChip;
    qrtsim::PexSwitch cpldPex(qrtsim::PexSwitch::pex8608());
    cpldPex.attachSerialDevice(&cpldChip.spiPort());
    GatedFunction cpldPexRegisters(cpldPex);
    I_nkPCISwitcher* cpldSwitch = switches.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    ASSERT_EQ(cpldSwitch->initial(&cpldPexRegisters.map), QRT_SUCCESS);
    C_rhxCPLDFactory cplds;
    I_rhxCPLD* cpld = cplds.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
    ASSERT_EQ(cpld->initial(static_cast<I_nkSPI*>(cpldSwitch)), QRT_SUCCESS);
    ASSERT_EQ(cpld->setI2CSlave(0x2D), QRT_SUCCESS);

    struct Case {
        HeldBus bus;
        Gate& gate;
    };
    RHXCPLD_READDATA word{};
    Case cases[] = {
        {{"Linux I2C adapter",
          [&] { return adapter.writeI2C(0, 1, data, 1); },
          {[&] { return adapter.readI2C(buffer, 1, 0, 1); },
           [&] { return adapter.setI2CSlave(0x2E); }}},
         adapterGate},
        {{"PEX serial port and pins",
          [&] { return sw->readSPI(0, buffer, 4); },
          {[&] { return sw->writeSPI(0, data, 4); }, [&] { return sw->applyGPO(); }}},
         pexRegisters.gate},
        {{"X550 I2C master",
          [&] { return x550->readI2C(buffer, 2, 0, 1); },
          {[&] { return x550->writeI2C(0, 1, data, 2); }, [&] { return x550->setI2CSlave(0x51); }}},
         lanRegisters.gate},
        {{"CPLD bridge and registers",
          [&] { return cpld->readI2C(buffer, 1, 0, 1); },
          {[&] { return cpld->writeI2C(0, 1, data, 1); },
           [&] { return cpld->readData(0x0C, &word); }}},
         cpldPexRegisters.gate},
    };

    std::vector<std::thread> holders, contenders;
    std::vector<std::vector<int>> answers(std::size(cases));
    for (Case& c : cases) {
        c.gate.shut();
        holders.emplace_back([&c] { c.bus.holder(); });
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        if (!cases[i].gate.waitUntilEntered()) {
            ADD_FAILURE() << cases[i].bus.name << ": the holder never reached the hardware";
            continue;
        }
        answers[i].resize(cases[i].bus.contenders.size());
        for (size_t k = 0; k < cases[i].bus.contenders.size(); ++k)
            contenders.emplace_back(
                [&answers, &cases, i, k] { answers[i][k] = cases[i].bus.contenders[k](); });
    }
    for (std::thread& t : contenders) t.join();
    for (Case& c : cases) c.gate.open();
    for (std::thread& t : holders) t.join();
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(answers[i], std::vector<int>(answers[i].size(), QRT_ERR_BUSY))
            << cases[i].bus.name;
}

}  // namespace
