// The card microcontroller where its chip model cannot produce the case: reply codes the
// firmware never sends, transport failures with their own status, the pauses of the reads,
// the temperature sampling's pauses and the PSE relay's. Its protocol is tested against the
// chip model (tests/rhxmodels).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeBuses.h"
#include "core/controllers/rhxmcu/C_rhxMCU.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

struct Mcu : public ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(0, mcu.initial(&bus));
        rhxtest::clearPauses();
    }
    void reply(std::initializer_list<std::vector<unsigned char>> words) {
        bus.replies.insert(bus.replies.end(), words);
    }
    // A read exchange on the wire: the command with a zero word, then a plain 2-byte read.
    std::vector<std::string> reads(std::initializer_list<const char*> commands) {
        std::vector<std::string> wire;
        for (const char* c : commands) {
            wire.push_back(std::string("W ") + c + "/1 00 00");
            wire.push_back("R 00/0 x2");
        }
        return wire;
    }
    rhxtest::FakeI2C bus;
    C_rhxMCU mcu;
};

TEST_F(Mcu, ReadsPauseTwentyMillisecondsAndDecodeTheReply) {
    const unsigned char words[][2] = {{0x6D, 0}, {0x92, 0}, {0x0A, 0},    {0x9A, 0}, {0xFF, 0},
                                      {0x0B, 0}, {0x03, 0}, {0x00, 1},    {0xE2, 4}, {0x05, 0},
                                      {0x07, 0}, {0x2A, 0}, {0x10, 0x27}, {0x04, 0}};
    for (const auto& w : words) bus.replies.push_back({w[0], w[1]});
    RHXMCU_POESTATE s, t;
    EXPECT_EQ(0, mcu.getPoEState(&s));
    EXPECT_EQ(0, mcu.getPoEState(&t));
    EXPECT_THAT(
        (std::vector<int>{s.stateBit0, s.stateBit1, s.powerSource, s.stateBit5, s.bit6Code,
                          t.stateBit0, t.stateBit1, t.powerSource, t.stateBit5, t.bit6Code}),
        ElementsAre(1, 0, 3, 1, 2, 0, 1, 0, 0, 4));
    int last[4], on[6] = {9, 9, 9, 9, 9, 9}, off[4];
    EXPECT_EQ(0, mcu.getPSERecvoeryPowerState(last, 4));
    EXPECT_THAT(last, ElementsAre(0, 1, 0, 1));
    EXPECT_EQ(0, mcu.getPoEEnable(on, 6));
    EXPECT_THAT(on, ElementsAre(1, 1, 0, 1, 9, 9));  // only code 2 is on; no fifth port
    EXPECT_EQ(0, mcu.getPoEEnable(off, 4));
    EXPECT_THAT(off, Each(0));  // code 3 is not on
    unsigned poeClass = 0, flag = 0, rpm = 0;
    int busy = 0, protection = 9, control = 0, duty = 0, smart = 0;
    float used = 0, left = 0;
    EXPECT_EQ(0, mcu.getPoEPortStatus(2, &poeClass, &flag) + mcu.isMCUBusy(&busy) +
                     mcu.getTemperatureProtectionEnable(&protection) +
                     mcu.getConsumedPowerBudget(&used) + mcu.getLeftPowerBudget(&left) +
                     mcu.getPowerBudgetControlEnable(&control) + mcu.getFanPWMDuty(&duty) +
                     mcu.getFanRPM(&rpm) + mcu.getSmartFanEnable(&smart));
    EXPECT_THAT(
        (std::vector<double>{double(poeClass), double(flag), double(busy), double(protection), used,
                             left, double(control), double(duty), double(rpm), double(smart)}),
        ElementsAre(3, 1, 1, 0, 125, 0.5, 7, 42, 10000, 1));
    EXPECT_THAT(bus.log, ElementsAreArray(reads({"81", "81", "85", "96", "96", "8b", "8d", "9a",
                                                 "9b", "9c", "9e", "a6", "a8", "a9"})));
    EXPECT_EQ(14u, rhxtest::pauseCount(20));
}

TEST_F(Mcu, FailedExchangeSkipsPauseAndReadAndLeavesOutputs) {
    bus.onWrite = [](unsigned long, const unsigned char*) { return -7; };
    int duty = 33;
    EXPECT_EQ(-7, mcu.getFanPWMDuty(&duty));
    EXPECT_EQ(33, duty);
    EXPECT_EQ(1u, bus.log.size());
    EXPECT_TRUE(rhxtest::pausesMs().empty());
    C_rhxMCU unbound;
    float t;
    EXPECT_EQ(-13, unbound.setFanPWMDuty(1));
    EXPECT_EQ(-13, unbound.getThermalTemperature(&t));
}

TEST_F(Mcu, TemperaturePairsAreValidatedAndTheSecondSampleReported) {
    struct Pair {
        std::vector<unsigned char> first, second;
        int status;
        float value;
    };
    const Pair pairs[] = {
        {{0x03, 0x14}, {0x74, 0x19}, 0, 50.90625f},  // 40.0 (low bits ignored), 50.9
        {{0x00, 0x14}, {0xC0, 0x19}, -100, 0},       // 40.0 then 51.5
        {{0x80, 0x02}, {0x80, 0x81}, 0, -3.0f},      // 5.0 then -3.0
        {{0x00, 0x00}, {0x00, 0x00}, -100, 0},       // first 0.0
        {{0x00, 0x4B}, {0x00, 0x4B}, -100, 0},       // first 150.0
        {{0x80, 0x82}, {0x80, 0x82}, -100, 0}};      // first -5.0
    for (const Pair& p : pairs) {
        bus.log.clear();
        bus.replies = {p.first, p.second, p.first, p.second};
        rhxtest::clearPauses();
        float t = 0;
        EXPECT_EQ(p.status, mcu.getThermalTemperature(&t));
        EXPECT_FLOAT_EQ(p.value, t);
        const size_t samples = p.status == 0 ? 2 : 4;
        EXPECT_EQ(2 * samples, bus.log.size());
        EXPECT_EQ("W 80/1 00 00", bus.log.front());
        EXPECT_EQ(samples, rhxtest::pauseCount(100));
        EXPECT_EQ(samples, rhxtest::pauseCount(10));
    }
}

TEST_F(Mcu, PSEReadsSelectTheRegisterThenCheckTheEchoOfTheRelayedAnswer) {
    reply({{0x0C, 0x35}, {0x30, 0x00, 0x10}});
    unsigned char value[2] = {};
    EXPECT_EQ(0, mcu.readPSEOneByteData(0x0C, value));
    EXPECT_EQ(0x35, value[0]);
    EXPECT_EQ(0, mcu.readPSETwoByteData(0x30, value));
    EXPECT_THAT(value, ElementsAre(0x00, 0x10));
    EXPECT_THAT(bus.log, ElementsAre("W 88/1 0c 00", "W 87/1 0c 00", "R 00/0 x2", "W 88/1 30 00",
                                     "W 97/1 30 00", "R 00/0 x3"));
    EXPECT_THAT(rhxtest::pausesMs(), ElementsAre(20u, 75u, 20u, 150u));

    reply({{0x0D, 0x35}, {0x31, 0x01, 0x02}});
    EXPECT_EQ(-1, mcu.readPSEOneByteData(0x0C, value));
    EXPECT_EQ(-1, mcu.readPSETwoByteData(0x30, value));
    EXPECT_EQ(-1, mcu.readPSEOneByteData(0x10, value));  // no answer at all
    EXPECT_THAT(value, ElementsAre(0x00, 0x10));
}

TEST(McuFactory, MakesTheCardMicrocontrollerOnly) {
    C_rhxMCUFactory factory;
    EXPECT_NE(nullptr, dynamic_cast<C_rhxMCU*>(factory.create(C_rhxMCUFactory::NK_HWMCU_RHX)));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_rhxMCUFactory::NK_HWMCU>(1)));
}

}  // namespace
