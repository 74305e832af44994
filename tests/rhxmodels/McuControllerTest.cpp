// The SDK's card microcontroller object through the CPLD bridge (both transports) against the
// microcontroller model: the bytes each operation puts on the wire and what it makes of the
// replies.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "QRT_Types.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"
#include "rhxmodels/Rig.h"

namespace qrtsim {
// How gtest prints an exchange in a failure message.
inline void PrintTo(const RhxMcu::Command& c, std::ostream* os) {
    *os << std::hex << "{" << int(c.command) << " " << int(c.data0) << " " << int(c.data1) << "}";
}
}  // namespace qrtsim

namespace {

using qrtsim::RhxMcu;
using Cmd = RhxMcu::Command;

template <class Card>
class McuOverBridge : public ::testing::Test {
  protected:
    Card card;
    C_rhxMCUFactory factory;
    I_rhxMCU* mcu = nullptr;
    RhxMcu& chip() { return card.mcu; }

    void SetUp() override {
        ASSERT_EQ(card.bindStatus, QRT_SUCCESS);
        ASSERT_EQ(card.sdk->setI2CSlave(RhxMcu::kAddress), QRT_SUCCESS);
        mcu = factory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
        ASSERT_NE(mcu, nullptr);
        ASSERT_EQ(mcu->initial(card.sdk), QRT_SUCCESS);
    }
    std::vector<Cmd> log() { return chip().commandLog(); }
    void setChip(const std::function<void(RhxMcu::Settings&)>& change) {
        auto s = chip().settings();
        change(s);
        chip().setSettings(s);
    }
};

using Cards = ::testing::Types<qrttest::SpiCard, qrttest::I2cCard>;
TYPED_TEST_SUITE(McuOverBridge, Cards);

TYPED_TEST(McuOverBridge, SettersSendTheirCommandAndTheFirmwareTakesIt) {
    struct Case {
        const char* name;
        std::function<int(I_rhxMCU&)> call;
        Cmd wire;
    };
    int four[4] = {1, 0, 1, 1};
    int enables[2] = {0, 1};
    const Case cases[] = {
        {"poe enable 4", [&](I_rhxMCU& m) { return m.setPoEEnable(four, 4); }, {0x86, 0xA6, 0}},
        // Ports beyond the list are left alone.
        {"poe enable", [&](I_rhxMCU& m) { return m.setPoEEnable(enables, 2); }, {0x86, 0x09, 0}},
        {"protect", [](I_rhxMCU& m) { return m.setProtectedTemperature(0x15F); }, {0x82, 0x5F, 0}},
        {"recovery", [](I_rhxMCU& m) { return m.setRecoveryTemperature(75); }, {0x83, 75, 0}},
        {"temp prot on",
         [](I_rhxMCU& m) { return m.setTemperatureProtectionEnable(5); },
         {0x99, 1, 0}},
        {"temp prot",
         [](I_rhxMCU& m) { return m.setTemperatureProtectionEnable(0); },
         {0x99, 0, 0}},
        {"budget", [](I_rhxMCU& m) { return m.setPowerBudgetControlEnable(7); }, {0x9D, 1, 0}},
        {"fan off", [](I_rhxMCU& m) { return m.setFanPWMDuty(0); }, {0xA7, 0, 0}},
        {"fan duty", [](I_rhxMCU& m) { return m.setFanPWMDuty(99); }, {0xA7, 99, 0}},
        {"smart fan", [](I_rhxMCU& m) { return m.setSmartFanEnable(5); }, {0xAA, 1, 0}},
        {"pse write",
         [](I_rhxMCU& m) { return m.writePSEOneByteData(0x12, 0x5A); },
         {0x88, 0x12, 0x5A}},
        {"reset", [](I_rhxMCU& m) { return m.resetMCU(); }, {0x98, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        this->chip().clearCommandLog();
        ASSERT_EQ(c.call(*this->mcu), QRT_SUCCESS);
        EXPECT_EQ(this->log(), std::vector<Cmd>{c.wire});
    }
    RhxMcu::Settings s = this->chip().settings();
    EXPECT_EQ(s.poeEnabled, (std::array<bool, 4>{false, true, true, true}));
    EXPECT_EQ(s.protectTemperature, 0x5F);
    EXPECT_EQ(s.recoveryTemperature, 75);
    EXPECT_FALSE(s.temperatureProtection);
    EXPECT_EQ(s.powerBudgetControl, 1);
    EXPECT_EQ(s.fanDuty, 99);
    EXPECT_TRUE(s.smartFan);
    EXPECT_EQ(s.resets, 1u);
    EXPECT_EQ(this->chip().pseRegister(0x12), 0x5A);

    this->chip().clearCommandLog();
    EXPECT_EQ(this->mcu->setFanPWMDuty(100), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->mcu->setFanPWMDuty(-1), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(this->log().empty());
}

TYPED_TEST(McuOverBridge, GettersDecodeTheFirmwareState) {
    this->setChip([](RhxMcu::Settings& s) {
        s.poeEnabled = {true, false, true, false};
        s.lastPowerStates = 0x09;
        s.protectTemperature = 110;
        s.recoveryTemperature = 95;
        s.powerBudgetControl = 0x42;
        s.consumedBudget = 1234;
        s.leftBudget = 0x1FF;
        s.fanDuty = 80;
        s.fanFullSpeedRpm = 5000;
        s.smartFan = true;
        s.busy = true;
        s.powerSource = 3;
        s.stateFlags = 0x41;
    });
    I_rhxMCU& m = *this->mcu;
    int list[4] = {-1, -1, -1, -1};
    ASSERT_EQ(m.getPoEEnable(list, 4), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(list, list + 4), (std::vector<int>{1, 0, 1, 0}));
    ASSERT_EQ(m.getPSERecvoeryPowerState(list, 4), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(list, list + 4), (std::vector<int>{1, 0, 0, 1}));
    int value = 0;
    ASSERT_EQ(m.getProtectedTemperature(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 110);
    ASSERT_EQ(m.getRecoveryTemperature(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 95);
    ASSERT_EQ(m.getPowerBudgetControlEnable(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 0x42);
    ASSERT_EQ(m.getFanPWMDuty(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 80);
    ASSERT_EQ(m.getSmartFanEnable(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(m.getTemperatureProtectionEnable(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(m.isMCUBusy(&value), QRT_SUCCESS);
    EXPECT_EQ(value, 1);
    unsigned rpm = 0;
    ASSERT_EQ(m.getFanRPM(&rpm), QRT_SUCCESS);
    EXPECT_EQ(rpm, 4000u);
    float watts = 0;
    ASSERT_EQ(m.getConsumedPowerBudget(&watts), QRT_SUCCESS);
    EXPECT_FLOAT_EQ(watts, 123.4f);
    ASSERT_EQ(m.getLeftPowerBudget(&watts), QRT_SUCCESS);
    EXPECT_FLOAT_EQ(watts, 51.1f);
    RHXMCU_POESTATE state{};
    ASSERT_EQ(m.getPoEState(&state), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>({state.stateBit0, state.stateBit1, state.powerSource,
                                state.stateBit5, state.bit6Code}),
              std::vector<int>({1, 0, 3, 0, 2}));
    char text[8] = {};
    ASSERT_EQ(m.getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "1.5");
    // Every getter was one read command with a zero data word.
    for (const Cmd& c : this->log()) EXPECT_EQ(c.data0 | c.data1, 0) << ::testing::PrintToString(c);
}

TYPED_TEST(McuOverBridge, VersionIsCachedOnlyOnceValid) {
    char text[8] = {};
    for (uint8_t invalid : {0x00, 0xFF}) {
        this->setChip([&](RhxMcu::Settings& s) { s.version = invalid; });
        EXPECT_EQ(this->mcu->getVersion(text, sizeof text), QRT_ERR_FAILED) << int(invalid);
    }
    this->setChip([](RhxMcu::Settings& s) { s.version = 0x21; });
    ASSERT_EQ(this->mcu->getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "2.1");
    this->chip().clearCommandLog();
    this->setChip([](RhxMcu::Settings& s) { s.version = 0x33; });
    ASSERT_EQ(this->mcu->resetMCU(), QRT_SUCCESS);
    ASSERT_EQ(this->mcu->getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "2.1");
    EXPECT_EQ(this->log(), (std::vector<Cmd>{{0x98, 0, 0}}));  // the reset alone
}

TYPED_TEST(McuOverBridge, PortStatusAndPseRelayReadThePowerChip) {
    this->chip().setPortDevice(2, {4, 0x2040, 0x0123});
    unsigned poeClass = 0, flag = 0;
    ASSERT_EQ(this->mcu->getPoEPortStatus(2, &poeClass, &flag), QRT_SUCCESS);
    EXPECT_EQ(poeClass, 4u);
    EXPECT_EQ(flag, 1u);
    this->chip().setPortDevice(1, {6, 0, 0});
    ASSERT_EQ(this->mcu->getPoEPortStatus(1, &poeClass, nullptr), QRT_SUCCESS);
    EXPECT_EQ(poeClass, 0u);
    ASSERT_EQ(this->mcu->getPoEPortStatus(0, &poeClass, &flag), QRT_SUCCESS);
    EXPECT_EQ(poeClass, 65535u);
    EXPECT_EQ(flag, 0u);
    for (const auto& [code, number] : {std::pair<uint8_t, unsigned>{7, 255}, {5, 5}}) {
        this->chip().setPortDevice(3, {code, 0, 0});
        ASSERT_EQ(this->mcu->getPoEPortStatus(3, &poeClass, nullptr), QRT_SUCCESS);
        EXPECT_EQ(poeClass, number) << "code " << int(code);
    }
    this->chip().clearCommandLog();
    EXPECT_EQ(this->mcu->getPoEPortStatus(4, &poeClass, &flag), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(this->log().empty());

    unsigned char one = 0;
    ASSERT_EQ(this->mcu->readPSEOneByteData(0x0E, &one), QRT_SUCCESS);
    EXPECT_EQ(one, 0x44);
    EXPECT_EQ(this->log(), (std::vector<Cmd>{{0x88, 0x0E, 0}, {0x87, 0x0E, 0}}));
    unsigned char two[2] = {};
    ASSERT_EQ(this->mcu->readPSETwoByteData(0x3A, two), QRT_SUCCESS);
    EXPECT_EQ(two[0] + 256 * two[1], 0x2040);
    ASSERT_EQ(this->mcu->readPSETwoByteData(0x38, two), QRT_SUCCESS);
    EXPECT_EQ(two[0] + 256 * two[1], 0x0123);

    this->chip().corruptEchoes(2);
    one = 0x77;
    EXPECT_EQ(this->mcu->readPSEOneByteData(0x0E, &one), QRT_ERR_FAILED);
    EXPECT_EQ(one, 0x77);
    EXPECT_EQ(this->mcu->readPSETwoByteData(0x3A, two), QRT_ERR_FAILED);
}

TYPED_TEST(McuOverBridge, TemperatureIsTwoSamplesThatMustAgree) {
    float t = -1000.0f;
    ASSERT_EQ(this->mcu->getThermalTemperature(&t), QRT_SUCCESS);
    EXPECT_FLOAT_EQ(t, 41.0f);

    struct Case {
        std::vector<double> samples;
        int status;
        float result;
    };
    const Case cases[] = {
        {{40.0, 50.90625}, QRT_SUCCESS, 50.90625f},        // difference truncates to 10
        {{5.0, -3.0}, QRT_SUCCESS, -3.0f},                 // only the first sample is range-checked
        {{40.0, 51.5, 40.0, 51.5}, QRT_ERR_BUSY, 0},       // 11 apart, twice
        {{0.0, 0.0, 150.0, 150.0}, QRT_ERR_BUSY, 0},       // first sample out of range, twice
        {{40.0, 51.5, 30.0, 29.25}, QRT_SUCCESS, 29.25f},  // the second attempt succeeds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.samples));
        this->chip().queueTemperatureSamples(c.samples);
        this->chip().clearCommandLog();
        t = -1000.0f;
        EXPECT_EQ(this->mcu->getThermalTemperature(&t), c.status);
        EXPECT_FLOAT_EQ(t, c.status == QRT_SUCCESS ? c.result : -1000.0f);
        EXPECT_EQ(this->log().size(), c.samples.size());
    }
}

TYPED_TEST(McuOverBridge, AnFFStormEndsAfterSixReadsAndShortStormsAreRidden) {
    this->chip().answerFF(0x80, -1);
    float t = -1000.0f;
    EXPECT_EQ(this->mcu->getThermalTemperature(&t), QRT_ERR_BUSY);
    EXPECT_EQ(this->log().size(), 6u);
    EXPECT_FLOAT_EQ(t, -1000.0f);

    this->chip().answerFF(0x80, 2);
    this->chip().clearCommandLog();
    ASSERT_EQ(this->mcu->getThermalTemperature(&t), QRT_SUCCESS);
    EXPECT_FLOAT_EQ(t, 41.0f);
    EXPECT_EQ(this->log().size(), 4u);

    // A threshold read repeats while the firmware answers "unset" and reports the last answer.
    this->chip().answerFF(0x92, 2);
    this->chip().clearCommandLog();
    int degrees = 0;
    ASSERT_EQ(this->mcu->getProtectedTemperature(&degrees), QRT_SUCCESS);
    EXPECT_EQ(degrees, this->chip().settings().protectTemperature);
    EXPECT_EQ(this->log().size(), 3u);
    this->chip().answerFF(0x92, 3);
    this->chip().clearCommandLog();
    ASSERT_EQ(this->mcu->getProtectedTemperature(&degrees), QRT_SUCCESS);
    EXPECT_EQ(degrees, 255);
    EXPECT_EQ(this->log().size(), 3u);
}

TYPED_TEST(McuOverBridge, ASilentMicrocontrollerFailsAtOnce) {
    this->chip().setSilent(true);
    int value = 0;
    EXPECT_EQ(this->mcu->getFanPWMDuty(&value), QRT_ERR_FAILED);
    EXPECT_EQ(this->mcu->setFanPWMDuty(10), QRT_ERR_FAILED);
    EXPECT_EQ(this->card.cpld.masterCounters().starts, 2u);
}

}  // namespace
