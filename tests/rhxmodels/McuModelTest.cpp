// The card microcontroller model on its own, for what the SDK's controller tests do not
// reach: broken exchanges, the PSE's read-only registers and the over-temperature cut.

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

TEST_F(McuModel, PseMeasurementsAreReadOnlyAndFollowThePortPower) {
    mcu.setPortDevice(2, {4, 0x2040, 0x0123});
    EXPECT_EQ(ask(0x87, 2, 0x10), (Bytes{0x10, 0x4F}));  // all enabled, port 2 powered
    send(0x88, 0x3A, 0x00);
    send(0x88, 0x12, 0xA5);
    EXPECT_EQ(mcu.pseRegister(0x3A), 0x40);
    EXPECT_EQ(mcu.pseRegister(0x12), 0xA5);
    send(0x86, 0x10);  // port 2 off: no power, no measurements
    EXPECT_EQ(ask(0x97, 3, 0x3A), (Bytes{0x3A, 0x00, 0x00}));
    EXPECT_EQ(ask(0x8B)[0], 0x04);
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

}  // namespace
