// The card microcontroller: command bytes and data words on the wire, reply decoding, the
// temperature sampling and the PSE register relay.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "FakeBuses.h"
#include "core/controllers/rhxmcu/C_rhxMCU.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using rhxtest::FakeI2C;

namespace {

class Mcu : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mcu.initial(&bus));
        rhxtest::clearPauses();
    }
    void reply(std::initializer_list<std::vector<unsigned char>> words) {
        for (const auto& w : words) bus.replies.push_back(w);
    }
    FakeI2C bus;
    C_rhxMCU mcu;
};

struct WriteCase {
    const char* name;
    std::function<int(I_rhxMCU&)> call;
    const char* wire;
};

class McuWrite : public Mcu, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(McuWrite, SendsCommandByteAndDataWord) {
    EXPECT_EQ(0, GetParam().call(mcu));
    EXPECT_THAT(bus.log, ElementsAre(GetParam().wire));
}

int enables1011(I_rhxMCU& m) {
    int e[4] = {1, 0, 1, 1};
    return m.setPoEEnable(e, 4);
}
int enables01(I_rhxMCU& m) {
    int e[2] = {0, 1};
    return m.setPoEEnable(e, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, McuWrite,
    ::testing::Values(
        WriteCase{"ProtectedTemperatureLow8Bits",
                  [](I_rhxMCU& m) { return m.setProtectedTemperature(0x1A5); }, "W 82/1 a5 00"},
        WriteCase{"RecoveryTemperature", [](I_rhxMCU& m) { return m.setRecoveryTemperature(75); },
                  "W 83/1 4b 00"},
        WriteCase{"PoEEnableFourPorts", enables1011, "W 86/1 a6 00"},
        WriteCase{"PoEEnableTwoPortsLeavesOthersAlone", enables01, "W 86/1 09 00"},
        WriteCase{"PSERegisterWrite", [](I_rhxMCU& m) { return m.writePSEOneByteData(0x12, 0x34); },
                  "W 88/1 12 34"},
        WriteCase{"Reset", [](I_rhxMCU& m) { return m.resetMCU(); }, "W 98/1 00 00"},
        WriteCase{"TemperatureProtectionOn",
                  [](I_rhxMCU& m) { return m.setTemperatureProtectionEnable(5); }, "W 99/1 01 00"},
        WriteCase{"PowerBudgetControlOff",
                  [](I_rhxMCU& m) { return m.setPowerBudgetControlEnable(0); }, "W 9d/1 00 00"},
        WriteCase{"FanDutyHighest", [](I_rhxMCU& m) { return m.setFanPWMDuty(99); },
                  "W a7/1 63 00"},
        WriteCase{"FanDutyZero", [](I_rhxMCU& m) { return m.setFanPWMDuty(0); }, "W a7/1 00 00"},
        WriteCase{"SmartFanOn", [](I_rhxMCU& m) { return m.setSmartFanEnable(1); },
                  "W aa/1 01 00"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    unsigned char command;
    std::vector<unsigned char> reply;
    std::function<int(I_rhxMCU&, std::string*)> call;  // describes the outputs
    const char* outputs;
};

class McuRead : public Mcu, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(McuRead, WritesCommandWithZeroWordPausesAndDecodesTheReply) {
    bus.replies.push_back(GetParam().reply);
    std::string outputs;
    EXPECT_EQ(0, GetParam().call(mcu, &outputs));
    char command[16];
    std::snprintf(command, sizeof command, "W %02x/1 00 00", GetParam().command);
    EXPECT_THAT(bus.log, ElementsAre(command, "R 00/0 x2"));
    EXPECT_THAT(rhxtest::pausesMs(), ElementsAre(20u));
    EXPECT_EQ(GetParam().outputs, outputs);
}

std::string ints(const int* v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::to_string(v[i]) + (i + 1 < n ? " " : "");
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, McuRead,
    ::testing::Values(
        ReadCase{"DeviceState", 0x81, {0x6D, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     RHXMCU_POESTATE s;
                     int r = m.getPoEState(&s);
                     int v[5] = {s.stateBit0, s.stateBit1, s.powerSource, s.stateBit5, s.bit6Code};
                     *o = ints(v, 5);
                     return r;
                 },
                 "1 0 3 1 2"},
        ReadCase{"DeviceStateBit6Clear", 0x81, {0x92, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     RHXMCU_POESTATE s;
                     int r = m.getPoEState(&s);
                     int v[5] = {s.stateBit0, s.stateBit1, s.powerSource, s.stateBit5, s.bit6Code};
                     *o = ints(v, 5);
                     return r;
                 },
                 "0 1 0 0 4"},
        ReadCase{"LastPowerState", 0x85, {0x0A, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int v[4] = {9, 9, 9, 9};
                     int r = m.getPSERecvoeryPowerState(v, 4);
                     *o = ints(v, 4);
                     return r;
                 },
                 "0 1 0 1"},
        ReadCase{"PoEEnableOnlyCodeTwoIsOn", 0x96, {0x9A, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int v[6] = {9, 9, 9, 9, 9, 9};
                     int r = m.getPoEEnable(v, 6);
                     *o = ints(v, 6);
                     return r;
                 },
                 "1 1 0 1 9 9"},
        ReadCase{"PoEEnableAllOnesIsAllOff", 0x96, {0xFF, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int v[4] = {9, 9, 9, 9};
                     int r = m.getPoEEnable(v, 4);
                     *o = ints(v, 4);
                     return r;
                 },
                 "0 0 0 0"},
        ReadCase{"PortStatusClassAndFlag", 0x8B, {0x0B, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     unsigned c = 0, f = 0;
                     int r = m.getPoEPortStatus(2, &c, &f);
                     *o = std::to_string(c) + " " + std::to_string(f);
                     return r;
                 },
                 "3 1"},
        ReadCase{"Busy", 0x8D, {0x03, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int b = 0;
                     int r = m.isMCUBusy(&b);
                     *o = std::to_string(b);
                     return r;
                 },
                 "1"},
        ReadCase{"TemperatureProtection", 0x9A, {0x00, 0x01},
                 [](I_rhxMCU& m, std::string* o) {
                     int e = 9;
                     int r = m.getTemperatureProtectionEnable(&e);
                     *o = std::to_string(e);
                     return r;
                 },
                 "0"},
        ReadCase{"ConsumedBudgetInTenths", 0x9B, {0xE2, 0x04},
                 [](I_rhxMCU& m, std::string* o) {
                     float w = 0;
                     int r = m.getConsumedPowerBudget(&w);
                     *o = std::to_string(w);
                     return r;
                 },
                 "125.000000"},
        ReadCase{"LeftBudgetInTenths", 0x9C, {0x05, 0x00},
                 [](I_rhxMCU& m, std::string* o) {
                     float w = 0;
                     int r = m.getLeftPowerBudget(&w);
                     *o = std::to_string(w);
                     return r;
                 },
                 "0.500000"},
        ReadCase{"PowerBudgetControlAsIs", 0x9E, {0x07, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int e = 0;
                     int r = m.getPowerBudgetControlEnable(&e);
                     *o = std::to_string(e);
                     return r;
                 },
                 "7"},
        ReadCase{"FanDuty", 0xA6, {0x2A, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int d = 0;
                     int r = m.getFanPWMDuty(&d);
                     *o = std::to_string(d);
                     return r;
                 },
                 "42"},
        ReadCase{"FanSpeedLittleEndian", 0xA8, {0x10, 0x27},
                 [](I_rhxMCU& m, std::string* o) {
                     unsigned rpm = 0;
                     int r = m.getFanRPM(&rpm);
                     *o = std::to_string(rpm);
                     return r;
                 },
                 "10000"},
        ReadCase{"SmartFan", 0xA9, {0x04, 0},
                 [](I_rhxMCU& m, std::string* o) {
                     int e = 0;
                     int r = m.getSmartFanEnable(&e);
                     *o = std::to_string(e);
                     return r;
                 },
                 "1"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(Mcu, PortStatusClassCodesAndPortRange) {
    const unsigned char codes[] = {0x06, 0x07, 0x00, 0x05};
    const unsigned expected[] = {0, 255, 65535, 5};
    for (int i = 0; i < 4; ++i) {
        bus.replies.push_back({codes[i], 0});
        unsigned poeClass = 1234;
        EXPECT_EQ(0, mcu.getPoEPortStatus(0, &poeClass, nullptr));
        EXPECT_EQ(expected[i], poeClass) << "code " << int(codes[i]);
    }
    bus.log.clear();
    unsigned c;
    EXPECT_EQ(-11, mcu.getPoEPortStatus(4, &c, &c));
    EXPECT_EQ(-11, mcu.setFanPWMDuty(100));
    EXPECT_EQ(-11, mcu.setFanPWMDuty(-1));
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(Mcu, VersionIsReadUntilValidThenServedFromCache) {
    char text[8] = "x";
    reply({{0x00, 0}, {0xFF, 0}, {0x21, 0}});
    EXPECT_EQ(-1, mcu.getVersion(text, sizeof text));
    EXPECT_EQ(-1, mcu.getVersion(text, sizeof text));
    EXPECT_EQ(0, mcu.getVersion(text, sizeof text));
    EXPECT_STREQ("2.1", text);
    EXPECT_EQ(0, mcu.resetMCU());
    EXPECT_EQ(0, mcu.getVersion(text, sizeof text));
    EXPECT_STREQ("2.1", text);
    EXPECT_EQ(7u, bus.log.size());  // three reads of 0x84 and the reset, nothing after
}

TEST_F(Mcu, FailedExchangeSkipsPauseAndReadAndLeavesOutputs) {
    bus.onWrite = [](unsigned long, const unsigned char*, unsigned) { return -7; };
    int duty = 33;
    EXPECT_EQ(-7, mcu.getFanPWMDuty(&duty));
    EXPECT_EQ(33, duty);
    EXPECT_EQ(1u, bus.log.size());
    EXPECT_TRUE(rhxtest::pausesMs().empty());
    C_rhxMCU unbound;
    EXPECT_EQ(-13, unbound.getFanPWMDuty(&duty));
    EXPECT_EQ(-13, unbound.setFanPWMDuty(1));
    float t;
    EXPECT_EQ(-13, unbound.getThermalTemperature(&t));
}

// ---------------------------------------------------------------------------------------------
// Temperature

TEST_F(Mcu, TemperatureIsSignAndMagnitudeInThirtySecondsOfADegree) {
    EXPECT_FLOAT_EQ(41.0f, A_rhxMCU::parseThermalTemperature({{0x80, 0x14}}));
    EXPECT_FLOAT_EQ(-41.0f, A_rhxMCU::parseThermalTemperature({{0x80, 0x94}}));
    EXPECT_FLOAT_EQ(41.0f, A_rhxMCU::parseThermalTemperature({{0x83, 0x14}}));  // bits 1..0
    EXPECT_FLOAT_EQ(255.96875f, A_rhxMCU::parseThermalTemperature({{0xFC, 0x7F}}));
}

struct SamplePair {
    std::vector<unsigned char> first, second;
    int status;
    float value;
};

class McuTemperature : public Mcu, public ::testing::WithParamInterface<SamplePair> {};

TEST_P(McuTemperature, PairIsValidatedAndTheSecondSampleReported) {
    const SamplePair& p = GetParam();
    for (int attempt = 0; attempt < 2; ++attempt) {
        bus.replies.push_back(p.first);
        bus.replies.push_back(p.second);
    }
    float t = 999.0f;
    EXPECT_EQ(p.status, mcu.getThermalTemperature(&t));
    EXPECT_FLOAT_EQ(p.value, t);
    const size_t reads = p.status == 0 ? 2 : 4;
    EXPECT_EQ(2 * reads, bus.log.size());
    EXPECT_EQ("W 80/1 00 00", bus.log.front());
    EXPECT_EQ(reads, rhxtest::pauseCount(100));
    EXPECT_EQ(reads, rhxtest::pauseCount(10));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, McuTemperature,
    ::testing::Values(SamplePair{{0x00, 0x14}, {0x74, 0x19}, 0, 50.90625f},     // 40.0, 50.9
                      SamplePair{{0x00, 0x14}, {0xC0, 0x19}, -100, 999.0f},     // 40.0, 51.5
                      SamplePair{{0x80, 0x02}, {0x80, 0x81}, 0, -3.0f},         // 5.0, -3.0
                      SamplePair{{0x00, 0x00}, {0x00, 0x00}, -100, 999.0f},     // 0.0
                      SamplePair{{0x00, 0x4B}, {0x00, 0x4B}, -100, 999.0f},     // 150.0
                      SamplePair{{0x80, 0x82}, {0x80, 0x82}, -100, 999.0f}));  // -5.0

TEST_F(Mcu, AllOnesRepliesAreNoDataAndGiveUpAfterSixReads) {
    for (int i = 0; i < 10; ++i) bus.replies.push_back({0xFF, 0xFF});
    float t = 7.0f;
    EXPECT_EQ(-100, mcu.getThermalTemperature(&t));
    EXPECT_EQ(7.0f, t);
    EXPECT_EQ(12u, bus.log.size());
    EXPECT_EQ(6u, rhxtest::pauseCount(100));
    EXPECT_EQ(0u, rhxtest::pauseCount(10));
}

TEST_F(Mcu, NoDataOnceIsRetriedWithinTheSample) {
    reply({{0xFF, 0xFF}, {0x00, 0x14}, {0x00, 0x15}});
    float t = 0;
    EXPECT_EQ(0, mcu.getThermalTemperature(&t));
    EXPECT_FLOAT_EQ(42.0f, t);
    EXPECT_EQ(6u, bus.log.size());
}

TEST_F(Mcu, ThresholdReadRepeatsWhileUnsetAndReportsTheLastValue) {
    reply({{0xFF, 0}, {0xFF, 0}, {0x5A, 0}, {0xFF, 0}, {0xFF, 0}, {0xFF, 0}});
    int degrees = 0;
    EXPECT_EQ(0, mcu.getProtectedTemperature(&degrees));
    EXPECT_EQ(90, degrees);
    EXPECT_EQ(0, mcu.getRecoveryTemperature(&degrees));
    EXPECT_EQ(255, degrees);
    EXPECT_THAT(bus.log,
                ElementsAreArray({"W 92/1 00 00", "R 00/0 x2", "W 92/1 00 00", "R 00/0 x2",
                                  "W 92/1 00 00", "R 00/0 x2", "W 93/1 00 00", "R 00/0 x2",
                                  "W 93/1 00 00", "R 00/0 x2", "W 93/1 00 00", "R 00/0 x2"}));
    EXPECT_EQ(-1, mcu.getRecoveryTemperature(&degrees));  // nothing left to read: bus error
    EXPECT_EQ(14u, bus.log.size());
}

// ---------------------------------------------------------------------------------------------
// PSE relay

TEST_F(Mcu, PSEByteReadSelectsTheRegisterThenReadsItsEchoAndValue) {
    reply({{0x0C, 0x35}});
    unsigned char value = 0;
    EXPECT_EQ(0, mcu.readPSEOneByteData(0x0C, &value));
    EXPECT_EQ(0x35, value);
    EXPECT_THAT(bus.log, ElementsAre("W 88/1 0c 00", "W 87/1 0c 00", "R 00/0 x2"));
    EXPECT_THAT(rhxtest::pausesMs(), ElementsAre(20u, 75u));
}

TEST_F(Mcu, PSEWordReadReturnsLowThenHighByte) {
    reply({{0x30, 0x00, 0x10}});
    unsigned char value[2] = {};
    EXPECT_EQ(0, mcu.readPSETwoByteData(0x30, value));
    EXPECT_EQ(0x00, value[0]);
    EXPECT_EQ(0x10, value[1]);
    EXPECT_THAT(bus.log, ElementsAre("W 88/1 30 00", "W 97/1 30 00", "R 00/0 x3"));
    EXPECT_THAT(rhxtest::pausesMs(), ElementsAre(20u, 150u));
}

TEST_F(Mcu, PSEAnswerForAnotherRegisterIsRejected) {
    reply({{0x0D, 0x35}, {0x31, 0x01, 0x02}});
    unsigned char value[2] = {0xAA, 0xBB};
    EXPECT_EQ(-1, mcu.readPSEOneByteData(0x0C, value));
    EXPECT_EQ(-1, mcu.readPSETwoByteData(0x30, value));
    EXPECT_EQ(0xAA, value[0]);
    EXPECT_EQ(0xBB, value[1]);
}

TEST_F(Mcu, PSEReadFailureIsPassedOnWithoutTouchingTheValue) {
    unsigned char value = 0xAA;
    EXPECT_EQ(-1, mcu.readPSEOneByteData(0x10, &value));  // no reply scripted
    EXPECT_EQ(0xAA, value);
}

TEST(McuFactory, MakesTheCardMicrocontrollerOnly) {
    C_rhxMCUFactory factory;
    EXPECT_NE(nullptr, dynamic_cast<C_rhxMCU*>(factory.create(C_rhxMCUFactory::NK_HWMCU_RHX)));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_rhxMCUFactory::NK_HWMCU>(1)));
    A_rhxMCU bare;
    int v;
    EXPECT_EQ(-5, bare.getFanPWMDuty(&v));
    EXPECT_EQ(-5, bare.readData(0x80, nullptr, 0));
}

}  // namespace
