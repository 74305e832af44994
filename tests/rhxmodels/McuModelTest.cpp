// The card microcontroller model on its own, for what the SDK's controller tests do not
// reach: broken exchanges, the PSE's read-only registers and the over-temperature cut.

#include <gtest/gtest.h>

#include "rhxmodels/WireHelpers.h"
#include "sim/chips/RhxMcu.h"
#include "support/ChipClocks.h"

namespace {

using qrtsim::RhxMcu;
using Bytes = std::vector<uint8_t>;

class McuModel : public ::testing::Test {
  protected:
    qrttest::ManualClock clock;
    qrtsim::I2cBus bus;
    RhxMcu mcu;
    void SetUp() override {
        bus.attach(RhxMcu::kAddress, &mcu);
        mcu.setClock(clock);
    }
    int send(uint8_t cmd, uint8_t d0 = 0, uint8_t d1 = 0) {
        return qrttest::i2cWrite(bus, RhxMcu::kAddress, {cmd, d0, d1});
    }
    // A read command, the pause the firmware needs, and the reply.
    Bytes ask(uint8_t cmd, size_t n = 2, unsigned waitMs = 20) {
        send(cmd);
        clock.advanceMs(waitMs);
        return qrttest::i2cRead(bus, RhxMcu::kAddress, n);
    }
    // A relayed PSE read: the register select, 20 ms, the relay command, its pause, the reply.
    Bytes relay(uint8_t cmd, uint8_t reg) {
        send(0x88, reg, 0);
        clock.advanceMs(20);
        send(cmd, reg);
        clock.advanceMs(150);
        return qrttest::i2cRead(bus, RhxMcu::kAddress, cmd == 0x97 ? 3 : 2);
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
    clock.advanceMs(20);
    EXPECT_EQ(qrttest::i2cRead(bus, RhxMcu::kAddress, 3), (Bytes{0x15, 0x00, 0xFF}));
    EXPECT_EQ(mcu.commandLog().size(), 3u);
    EXPECT_EQ(
        mcu.violations().toJson(),
        (nlohmann::json{{"short-exchange", 1}, {"exchange-too-long", 1}, {"read-past-reply", 1}}));
}

// What the firmware refuses, one breach at a time, from a fresh chip each.
TEST(McuProtocol, EveryBreachIsRefusedAndCountedByKind) {
    struct Step {
        enum { kWrite, kRead, kWait } what;
        Bytes bytes;  // written bytes, or the number of bytes to read in bytes[0]
    };
    const struct {
        const char* kind;
        std::vector<Step> steps;
        Bytes reply;  // what the last read returned
    } cases[] = {
        {"unknown-command", {{Step::kWrite, {0x8E, 0, 0}}}, {}},
        {"non-zero-data",
         {{Step::kWrite, {0x84, 0, 1}}, {Step::kWait, {20}}, {Step::kRead, {2}}},
         {0x15, 0x00}},
        {"non-zero-data", {{Step::kWrite, {0x82, 90, 1}}}, {}},
        {"recovery-above-protection", {{Step::kWrite, {0x83, 101, 0}}}, {}},
        {"value-out-of-range", {{Step::kWrite, {0xA7, 100, 0}}}, {}},
        {"value-out-of-range", {{Step::kWrite, {0x99, 2, 0}}}, {}},
        {"value-out-of-range", {{Step::kWrite, {0x86, 0x03, 0}}}, {}},
        {"reply-too-early",
         {{Step::kWrite, {0x80, 0, 0}}, {Step::kWait, {99}}, {Step::kRead, {2}}},
         {0xFF, 0xFF}},
        {"read-without-command",
         {{Step::kWrite, {0x84, 0, 0}},
          {Step::kWait, {20}},
          {Step::kRead, {2}},
          {Step::kRead, {2}}},
         {0xFF, 0xFF}},
        {"command-while-busy", {{Step::kWrite, {0x84, 0, 0}}, {Step::kWrite, {0xA7, 10, 0}}}, {}},
        {"relay-without-select",
         {{Step::kWrite, {0x87, 0x12, 0}}, {Step::kWait, {75}}, {Step::kRead, {2}}},
         {0xFF, 0xFF}},
        {"relay-before-select-done",
         {{Step::kWrite, {0x88, 0x0C, 0}},
          {Step::kWait, {19}},
          {Step::kWrite, {0x87, 0x0C, 0}},
          {Step::kWait, {75}},
          {Step::kRead, {2}}},
         {0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        qrttest::ManualClock clock;
        qrtsim::I2cBus bus;
        RhxMcu mcu;
        mcu.setClock(clock);
        bus.attach(RhxMcu::kAddress, &mcu);
        Bytes reply;
        for (const Step& step : c.steps) {
            if (step.what == Step::kWrite) qrttest::i2cWrite(bus, RhxMcu::kAddress, step.bytes);
            if (step.what == Step::kWait) clock.advanceMs(step.bytes[0]);
            if (step.what == Step::kRead)
                reply = qrttest::i2cRead(bus, RhxMcu::kAddress, step.bytes[0]);
        }
        EXPECT_EQ(mcu.violations().total(), 1u) << mcu.violations().toJson().dump();
        EXPECT_EQ(mcu.violations().of(c.kind), 1u);
        EXPECT_EQ(reply, c.reply);
        EXPECT_EQ(mcu.settings().fanDuty, 60);
        EXPECT_TRUE(mcu.settings().temperatureProtection);
    }
}

TEST_F(McuModel, RepliesCarryTheFullValueRanges) {
    // The two bits below the sensor's 1/32 degree are noise, never all clear three times.
    mcu.setTemperature(-20.5);
    unsigned lowBits = 0;
    for (int i = 0; i < 3; ++i) {
        Bytes t = ask(0x80, 2, 100);
        EXPECT_EQ(((t[1] & 0x7F) * 256 + (t[0] & 0xFC)) / 128.0, 20.5);
        EXPECT_EQ(t[1] & 0x80, 0x80);
        lowBits |= t[0] & 3u;
    }
    EXPECT_EQ(lowBits, 3u);
    // Ports the host enabled but the protection holds off report code 3.
    send(0x86, 0x66);  // ports 0 and 2 on, 1 and 3 off
    mcu.setTemperature(120.0);
    EXPECT_EQ(ask(0x96)[0], 0x77);
    EXPECT_EQ(mcu.violations().total(), 0u);
}

TEST_F(McuModel, PseMeasurementsAreReadOnlyAndFollowThePortPower) {
    mcu.setPortDevice(2, {4, 0x2040, 0x0123});
    EXPECT_EQ(relay(0x87, 0x10), (Bytes{0x10, 0x4F}));  // all enabled, port 2 powered
    send(0x88, 0x3A, 0x00);
    send(0x88, 0x12, 0xA5);
    EXPECT_EQ(mcu.pseRegister(0x3A), 0x40);
    EXPECT_EQ(mcu.pseRegister(0x12), 0xA5);
    send(0x86, 0x10);  // port 2 off: no power, no measurements
    EXPECT_EQ(relay(0x97, 0x3A), (Bytes{0x3A, 0x00, 0x00}));
    EXPECT_EQ(ask(0x8B)[0], 0x04);
    EXPECT_EQ(mcu.violations().total(), 0u);
}

TEST_F(McuModel, OverTemperatureCutsThePortsUntilTheRecoveryTemperature) {
    mcu.setPortDevice(0, {3, 100, 100});
    send(0x83, 60);  // the recovery first: it never goes above the protection held
    send(0x82, 70);
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
