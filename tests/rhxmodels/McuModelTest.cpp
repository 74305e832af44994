// The card microcontroller model on its own: exchanges as they arrive on the wire.

#include <gtest/gtest.h>

#include "rhxmodels/WireHelpers.h"
#include "sim/chips/RhxMcu.h"

namespace {

using qrtsim::RhxMcu;
using Bytes = std::vector<uint8_t>;

class McuModel : public ::testing::Test {
  protected:
    qrtsim::I2cBus bus;
    RhxMcu mcu;
    void SetUp() override { bus.attach(RhxMcu::kAddress, &mcu); }
    int send(uint8_t cmd, uint8_t d0 = 0, uint8_t d1 = 0) {
        return qrttest::i2cWrite(bus, RhxMcu::kAddress, {cmd, d0, d1});
    }
    Bytes ask(uint8_t cmd, size_t n = 2, uint8_t d0 = 0) {
        send(cmd, d0);
        return qrttest::i2cRead(bus, RhxMcu::kAddress, n);
    }
};

TEST_F(McuModel, TemperatureReplyIsSignAndMagnitudeInQuarterSteps) {
    EXPECT_EQ(RhxMcu::encodeTemperature(41.0), (std::array<uint8_t, 2>{0x80, 0x14}));
    EXPECT_EQ(RhxMcu::encodeTemperature(-41.0), (std::array<uint8_t, 2>{0x80, 0x94}));
    EXPECT_EQ(RhxMcu::encodeTemperature(0.03125), (std::array<uint8_t, 2>{0x04, 0x00}));
    mcu.queueTemperatureSamples({40.0, 51.5});
    EXPECT_EQ(ask(0x80), (Bytes{0x00, 0x14}));
    EXPECT_EQ(ask(0x80), (Bytes{0xC0, 0x19}));
    EXPECT_EQ(ask(0x80), (Bytes{0x80, 0x14})) << "back to the steady 41.0";
}

TEST_F(McuModel, PoEEnableCodesSwitchOnlyThePortsTheyName) {
    auto s = mcu.settings();
    s.poeEnabled = {false, false, true, true};
    mcu.setSettings(s);
    send(0x86, 0x09);  // port 0 off (01), port 1 on (10), ports 2 and 3 kept (00)
    s = mcu.settings();
    EXPECT_EQ(s.poeEnabled, (std::array<bool, 4>{false, true, true, true}));
    EXPECT_EQ(ask(0x96), (Bytes{0xA9, 0x00}));
    send(0x86, 0xFF);  // code 11 names no state: nothing changes
    EXPECT_EQ(ask(0x96)[0], 0xA9);
    EXPECT_EQ(ask(0x85)[0], 0x0E);
}

TEST_F(McuModel, OnlyCompleteThreeByteExchangesAreCarriedOut) {
    EXPECT_EQ(qrttest::i2cWrite(bus, RhxMcu::kAddress, {0xA7, 0x21}), 2);
    EXPECT_EQ(mcu.settings().fanDuty, 60) << "a transfer cut short is dropped";
    EXPECT_EQ(qrttest::i2cWrite(bus, RhxMcu::kAddress, {0xA7, 0x21, 0x00, 0x00}), 3)
        << "a fourth byte is not acknowledged";
    EXPECT_EQ(mcu.settings().fanDuty, 0x21);
    EXPECT_EQ(ask(0xA8), (Bytes{0xBC, 0x07}));  // 6000 rpm x 33 % = 1980
    send(0x84);
    EXPECT_EQ(qrttest::i2cRead(bus, RhxMcu::kAddress, 3), (Bytes{0x15, 0x00, 0xFF}));
    EXPECT_EQ(mcu.commandLog().size(), 3u);
}

TEST_F(McuModel, PseRelayEchoesTheRegisterAndKeepsMeasurementsReadOnly) {
    mcu.setPortDevice(2, {4, 0x2040, 0x0123});
    EXPECT_EQ(ask(0x87, 2, 0x0E), (Bytes{0x0E, 0x44}));  // class 4, detection good
    EXPECT_EQ(ask(0x87, 2, 0x10), (Bytes{0x10, 0x4F}));  // all enabled, port 2 powered
    EXPECT_EQ(ask(0x97, 3, 0x3A), (Bytes{0x3A, 0x40, 0x20}));
    EXPECT_EQ(ask(0x97, 3, 0x38), (Bytes{0x38, 0x23, 0x01}));
    EXPECT_EQ(ask(0x8B), (Bytes{0x0C, 0x00}));  // class 4, power good
    send(0x88, 0x3A, 0x00);
    send(0x88, 0x12, 0xA5);
    EXPECT_EQ(mcu.pseRegister(0x3A), 0x40);
    EXPECT_EQ(mcu.pseRegister(0x12), 0xA5);
    mcu.corruptEchoes(1);
    EXPECT_NE(ask(0x87, 2, 0x12)[0], 0x12);
    EXPECT_EQ(ask(0x87, 2, 0x12), (Bytes{0x12, 0xA5}));
    send(0x86, 0x10);  // port 2 off: no power, no measurements
    EXPECT_EQ(ask(0x97, 3, 0x3A), (Bytes{0x3A, 0x00, 0x00}));
    EXPECT_EQ(ask(0x8B)[0], 0x04);
}

TEST_F(McuModel, FaultModesAnswerFFOrNothing) {
    mcu.answerFF(0x92, 2);
    EXPECT_EQ(ask(0x92), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(ask(0x92), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(ask(0x92), (Bytes{100, 0x00}));
    mcu.answerFF(0x80, -1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ask(0x80), (Bytes{0xFF, 0xFF}));
    mcu.setSilent(true);
    EXPECT_EQ(send(0x98), -1);
    EXPECT_EQ(mcu.settings().resets, 0u);
}

TEST_F(McuModel, OverTemperatureCutsThePortsUntilTheRecoveryTemperature) {
    mcu.setPortDevice(0, {3, 100, 100});
    send(0x82, 70);
    send(0x83, 60);
    mcu.setTemperature(70.0);
    EXPECT_TRUE(mcu.overTemperature());
    EXPECT_EQ(ask(0x89)[0], 0x03);
    mcu.setTemperature(65.0);
    EXPECT_TRUE(mcu.overTemperature());
    mcu.setTemperature(60.0);
    EXPECT_FALSE(mcu.overTemperature());
    EXPECT_EQ(ask(0x89)[0], 0x0B);
    send(0x99, 0);
    mcu.setTemperature(90.0);
    EXPECT_FALSE(mcu.overTemperature()) << "protection disabled";
}

TEST_F(McuModel, DeviceStateCarriesThePowerSourceInBits3And2) {
    auto s = mcu.settings();
    s.powerSource = 2;
    s.stateFlags = 0x63 | 0x0C;  // bits 3..2 of the flags are not theirs to set
    mcu.setSettings(s);
    EXPECT_EQ(ask(0x81), (Bytes{0x6B, 0x00}));
}

}  // namespace
