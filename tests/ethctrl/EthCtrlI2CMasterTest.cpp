// The Ethernet controllers' I2C master: the kit's X550 and I210 classes driving the rig's model
// of each controller through a PCI map, with a 256-byte memory device on the controller's bus.
// Every case ends with the model's violation count at zero unless it provokes one.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "QRT_Types.h"
#include "core/controllers/ethctrl/C_nkEthCtrlFactory.h"
#include "sim/chips/IntelEthController.h"
#include "support/ChipClocks.h"
#include "support/I2cMemorySlave.h"
#include "support/PauseRecorder.h"
#include "support/SimPciMap.h"

namespace {

using qrtsim::IntelEthController;

constexpr uint64_t kX550Command = 0x15F58;
constexpr uint64_t kI210Command = 0x1028;

// The model, with every command word the host writes logged on the way in.
struct LoggedController : qrtsim::PciFunction {
    LoggedController(const qrtsim::EthControllerLayout& chip, unsigned lan, uint64_t command)
        : model(chip, lan), commandRegister(command) {}
    uint16_t vendorId() const override { return model.vendorId(); }
    uint16_t deviceId() const override { return model.deviceId(); }
    uint32_t readRegister32(uint64_t offset) override { return model.readRegister32(offset); }
    void writeRegister32(uint64_t offset, uint32_t value) override {
        if (offset == commandRegister) commands.push_back(value);
        model.writeRegister32(offset, value);
    }
    IntelEthController model;
    uint64_t commandRegister;
    std::vector<uint32_t> commands;
};

struct Controller {
    Controller(C_nkEthCtrlFactory::NK_ETHCTRLTYPE type, uint8_t deviceAddress, unsigned lan = 0)
        : hw(type == C_nkEthCtrlFactory::NK_ETHCTRL_X550 ? IntelEthController::x550()
                                                         : IntelEthController::i210(),
             lan, type == C_nkEthCtrlFactory::NK_ETHCTRL_X550 ? kX550Command : kI210Command),
          map(hw),
          ctrl(factory.create(type)) {
        static const qrttest::RecordedPauseClock pauses;
        hw.model.setClock(pauses);
        hw.model.i2cBus().attach(deviceAddress, &device);
    }
    LoggedController hw;
    qrttest::SimPciMap map;
    qrttest::I2cMemorySlave device;
    C_nkEthCtrlFactory factory;
    I_nkEthCtrl* ctrl;

    I_nkI2C& i2c() { return *ctrl; }
    unsigned violations() const { return hw.model.violations().total(); }
};

constexpr auto X550 = C_nkEthCtrlFactory::NK_ETHCTRL_X550;
constexpr auto I210 = C_nkEthCtrlFactory::NK_ETHCTRL_I210;

// ---------------------------------------------------------------------------------------------

TEST(EthCtrlI2CMaster, CommandWordsCarryTheNewSlaveMarkOnlyOnTheFirstCommand) {
    struct Case {
        const char* name;
        C_nkEthCtrlFactory::NK_ETHCTRLTYPE type;
        unsigned long slave;
        uint8_t busAddress;  // where the device answers
        std::vector<uint32_t> words;
    };
    // Each case: write {AA, BB} at 0x20 twice, then read two bytes at 0x05 twice.
    const Case cases[] = {
        {"X550", X550, 0x36, 0x36, {0x1020BBAA, 0x0020BBAA, 0x08050000, 0x08050000}},
        // The I210 keeps three address bits, sends them in every command (on top of 0x40)
        // and never marks a read.
        {"I210", I210, 0x0D, 0x45, {0x1520BBAA, 0x0520BBAA, 0x0D050000, 0x0D050000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller t(c.type, c.busAddress);
        ASSERT_EQ(t.ctrl->initial(&t.map), QRT_SUCCESS);
        ASSERT_EQ(t.i2c().setI2CSlave(c.slave), QRT_SUCCESS);
        unsigned char data[2] = {0xAA, 0xBB};
        EXPECT_EQ(t.i2c().writeI2C(0x20, 1, data, 2), QRT_SUCCESS);
        EXPECT_EQ(t.i2c().writeI2C(0x20, 1, data, 2), QRT_SUCCESS);
        t.device.memory[5] = 0x12;
        t.device.memory[6] = 0x34;
        unsigned char got[2] = {};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(t.i2c().readI2C(got, 2, 0x05, 1), QRT_SUCCESS);
            EXPECT_EQ(got[0], 0x12);
            EXPECT_EQ(got[1], 0x34);
        }
        EXPECT_EQ(t.hw.commands, c.words);
        EXPECT_EQ(t.device.memory[0x20], 0xAA);
        EXPECT_EQ(t.device.memory[0x21], 0xBB);
        EXPECT_EQ(t.violations(), 0u);
    }
}

TEST(EthCtrlI2CMaster, AFourByteReadIsTwoCommandsAndAReadMarksANewSlaveOnTheX550) {
    Controller t(X550, 0x42);
    ASSERT_EQ(t.ctrl->initial(&t.map), QRT_SUCCESS);
    ASSERT_EQ(t.i2c().setI2CSlave(0x42), QRT_SUCCESS);
    for (int i = 0; i < 4; ++i) t.device.memory[0x10 + i] = uint8_t(0xA0 + i);
    unsigned char word[4] = {};
    EXPECT_EQ(t.i2c().readI2C(word, 4, 0x10, 1), QRT_SUCCESS);
    EXPECT_EQ(t.hw.commands, (std::vector<uint32_t>{0x18100000, 0x08120000}));
    EXPECT_EQ(std::vector<int>(word, word + 4), (std::vector<int>{0xA0, 0xA1, 0xA2, 0xA3}));
    // The parameter register holds the address and the enables; its other bits (the bus
    // timing the controller came out of reset with) are kept.
    EXPECT_EQ(t.hw.model.readRegister32(0x15F5C),
              0x42018000u | (IntelEthController::x550().parameterReset & 0x00FE7FFFu));
    EXPECT_EQ(t.violations(), 0u);
}

TEST(EthCtrlI2CMaster, ArgumentsAndStateAreCheckedBeforeAnyCommand) {
    Controller x(X550, 0x42), i(I210, 0x40);
    ASSERT_EQ(x.ctrl->initial(&x.map), QRT_SUCCESS);
    ASSERT_EQ(i.ctrl->initial(&i.map), QRT_SUCCESS);
    std::array<unsigned char, 8> buffer{};
    // No slave yet; on the I210 an address whose low three bits are 0 is no slave either.
    EXPECT_EQ(x.i2c().readI2C(buffer.data(), 2, 0, 1), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(i.i2c().setI2CSlave(0x50), QRT_SUCCESS);
    EXPECT_EQ(i.i2c().writeI2C(0, 1, buffer.data(), 2), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(x.i2c().setI2CSlave(0x100), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(x.i2c().setI2CSlave(0x42), QRT_SUCCESS);

    EXPECT_EQ(x.i2c().readI2C(buffer.data(), 6, 250, 1), QRT_ERR_INVALID_PARAM);  // to 256
    EXPECT_EQ(x.i2c().readI2C(buffer.data(), 0, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(x.i2c().readI2C(nullptr, 2, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(x.i2c().writeI2C(0x300, 1, buffer.data(), 2), QRT_ERR_INVALID_PARAM);
    // A write cannot send one byte: the second of its command would be invented.
    EXPECT_EQ(x.i2c().writeI2C(0, 1, buffer.data(), 3), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(x.hw.commands.empty());

    EXPECT_EQ(x.i2c().readI2C(buffer.data(), 4, 250, 1), QRT_SUCCESS);
    // An odd read fills exactly its bytes.
    buffer.fill(0xEE);
    x.device.memory[0x30] = 1, x.device.memory[0x31] = 2, x.device.memory[0x32] = 3;
    EXPECT_EQ(x.i2c().readI2C(buffer.data(), 3, 0x30, 1), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(buffer.begin(), buffer.begin() + 4),
              (std::vector<int>{1, 2, 3, 0xEE}));
    EXPECT_EQ(x.violations(), 0u);
}

// A failed transfer reports its failure, keeps the buffer as it was and leaves the master idle
// for the next command: a read command that has not ended after its 30 polls is watched until
// it does, so the next transfer is neither dropped by the busy master nor answered with the
// result of the command before it.
TEST(EthCtrlI2CMaster, TransfersThatDoNotFinishCleanlyFailAndLeaveTheMasterIdle) {
    struct Case {
        const char* name;
        unsigned busyPolls;
        bool deviceAnswers;
        int write, read;
        bool recovers;  // a transfer after the failed ones reads the device's bytes
    };
    const Case cases[] = {
        // No device acknowledges: the error bit.
        {"no device", 1, false, QRT_ERR_FAILED, QRT_ERR_FAILED, false},
        // A read still running after its 30 polls fails; the write's 1000 polls see it finish.
        {"slow read", 40, true, QRT_SUCCESS, QRT_ERR_FAILED, true},
        // Running for longer than any wait: the read is never written.
        {"stuck", 5000, true, QRT_ERR_BUSY, QRT_ERR_FAILED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller t(X550, c.deviceAnswers ? 0x42 : 0x43);
        t.hw.model.setBusyPolls(c.busyPolls);
        ASSERT_EQ(t.ctrl->initial(&t.map), QRT_SUCCESS);
        ASSERT_EQ(t.i2c().setI2CSlave(0x42), QRT_SUCCESS);
        unsigned char data[2] = {1, 2};
        EXPECT_EQ(t.i2c().writeI2C(0, 1, data, 2), c.write);
        unsigned char buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(t.i2c().readI2C(buffer, 4, 0, 1), c.read);
        EXPECT_EQ(std::vector<int>(buffer, buffer + 4), (std::vector<int>{0xEE, 0xEE, 0xEE, 0xEE}));

        t.hw.model.setBusyPolls(1);
        for (int i = 0; i < 4; ++i) t.device.memory[0x10 + i] = uint8_t(0xC0 + i);
        if (c.recovers) {
            EXPECT_EQ(t.i2c().readI2C(buffer, 4, 0x10, 1), QRT_SUCCESS);
            EXPECT_EQ(std::vector<int>(buffer, buffer + 4),
                      (std::vector<int>{0xC0, 0xC1, 0xC2, 0xC3}));
        }
        // No command was written while another ran.
        EXPECT_EQ(t.violations(), 0u);
    }
}

TEST(EthCtrlI2CMaster, InitialAcceptsOnlyTheFirstLanFunctionOfItsOwnChip) {
    Controller x550(X550, 0x42), secondLan(X550, 0x42, 1), i210(I210, 0x42);
    C_nkEthCtrlFactory factory;
    I_nkEthCtrl* x550OnI210 = factory.create(X550);
    EXPECT_EQ(x550.ctrl->initial(&x550.map), QRT_SUCCESS);
    EXPECT_EQ(i210.ctrl->initial(&i210.map), QRT_SUCCESS);
    EXPECT_EQ(secondLan.ctrl->initial(&secondLan.map), QRT_ERR_FAILED);
    EXPECT_EQ(x550OnI210->initial(&i210.map), QRT_ERR_FAILED);
    EXPECT_EQ(x550.ctrl->initial(nullptr), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(x550.i2c().setI2CSlave(0x42), QRT_ERR_NOT_INITIALIZED);  // the binding is gone
    EXPECT_EQ(factory.create(C_nkEthCtrlFactory::NK_ETHCTRLTYPE(2)), nullptr);

    char name[8] = {};
    EXPECT_EQ(i210.ctrl->getChipName(name, sizeof name), QRT_SUCCESS);
    EXPECT_STREQ(name, "I210");
    unsigned int sizes[3] = {};
    EXPECT_EQ(x550.i2c().getI2CDataBlockSize(&sizes[0]), QRT_SUCCESS);
    EXPECT_EQ(x550.i2c().getI2CRegisterAdrSize(&sizes[1]), QRT_SUCCESS);
    EXPECT_EQ(x550.i2c().getI2CDataAccessSize(&sizes[2]), QRT_SUCCESS);
    EXPECT_EQ(std::vector<unsigned>(sizes, sizes + 3), (std::vector<unsigned>{1, 1, 2}));
    EXPECT_EQ(x550.ctrl->setGPO(0, 1), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(x550.ctrl->readSPI(0, nullptr, 4), QRT_ERR_NOT_SUPPORTED);
}

}  // namespace
