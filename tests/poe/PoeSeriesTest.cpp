// The PoE card base on a rig card: identity text, the protection temperatures' write order and
// read-back, the PSE readings' units and class codes, and the card lock.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "poe/PoeBench.h"
#include "product/poe/A_poeSeries.h"
#include "support/PauseRecorder.h"

namespace {

using poetest::BenchCard;
using poetest::RigCard;
using Card = BenchCard<A_poeSeries>;

std::vector<uint8_t> commands(qrtsim::RhxMcu& mcu) {
    std::vector<uint8_t> codes;
    for (const auto& c : mcu.commandLog()) codes.push_back(c.command);
    return codes;
}

TEST(PoeSeriesIdentity, TextListsEveryLineAndIsCutInsideTheBuffer) {
    RigCard rig("PCIe-RHX54P", {{"sn", "SN-0042"},
                                {"mcu_version", "1.14"},
                                {"mac0", "02:00:00:00:00:10"},
                                {"mac3", "02:00:00:00:00:13"}});
    Card card(QRT_PRODUCT_RHX54P, 4);
    ASSERT_EQ(card.initial(rig.pciMap()), 0);
    char text[512];
    ASSERT_EQ(card.getInfo(text, sizeof text), 0);
    // The base knows no PCB version; the model adds it.
    EXPECT_STREQ(text,
                 "Product:PCIe-RHX54P\r\nCPLDVersion:20190423_1530\r\nMCUVersion:1.14\r\n"
                 "PN:RHX27640-0B\r\nSN:SN-0042\r\n"
                 "MAC0: 02:00:00:00:00:10\r\nMAC1: 02:88:27:59:5f:01\r\n"
                 "MAC2: 02:88:27:59:5f:02\r\nMAC3: 02:00:00:00:00:13\r\n");

    // Every cut keeps the text terminated inside the buffer and leaves the rest untouched.
    for (unsigned len : {1u, 10u, 30u, 70u, 120u, 160u}) {
        SCOPED_TRACE(len);
        std::vector<char> buffer(len + 8, '#');
        ASSERT_EQ(card.getInfo(buffer.data(), len), 0);
        EXPECT_EQ(std::string(buffer.data()), std::string(text).substr(0, len - 1));
        EXPECT_EQ(std::string(buffer.begin() + len, buffer.end()), std::string(8, '#'));
    }
    EXPECT_EQ(card.getInfo(text, 0), QRT_ERR_INVALID_PARAM);

    // Serial numbers are cut to the caller's buffer and terminated, never longer than the field.
    char sn[4];
    ASSERT_EQ(card.getSN(sn, sizeof sn), 0);
    EXPECT_STREQ(sn, "SN-");
    unsigned features[2] = {7, 7};
    EXPECT_EQ(card.getFeatureList(reinterpret_cast<QRT_FEATURE_TYPE*>(features), 1), 2u);
    EXPECT_EQ(features[0], 7u);
    EXPECT_EQ(card.getFeatureHandle(QRT_FEATURE_TOE), nullptr);
    EXPECT_EQ(card.sendToEActionCommand(0), QRT_ERR_NOT_SUPPORTED);
}

TEST(PoeSeriesIdentity, NothingAnswersBeforeTheBoardIsAccepted) {
    Card card(QRT_PRODUCT_RHX54P, 4);
    char text[64];
    int enables[4];
    unsigned char* mac = nullptr;
    QRT_PRODUCT_TYPE type;
    EXPECT_EQ(card.getInfo(text, sizeof text), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(card.getType(&type), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(card.getPoEPortEnable(enables, 4), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(card.getMAC(0, &mac), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(card.getSN(text, sizeof text), QRT_ERR_NOT_SUPPORTED);  // no EEPROM bound
}

TEST(PoeSeriesTemperatures, RangeIsCheckedThenWrittenInTheOrderTheFirmwareAccepts) {
    RigCard rig("PCIe-RHX54P");
    Card card(QRT_PRODUCT_RHX54P, 4);
    ASSERT_EQ(card.initial(rig.pciMap()), 0);
    qrtsim::RhxMcu& mcu = rig.board().mcu();
    for (auto range : {std::pair<int, int>{85, 76}, {131, 100}, {100, 69}, {79, 69}, {120, 121}}) {
        mcu.clearCommandLog();
        EXPECT_EQ(card.setPoEProtectTempRange(range.first, range.second), QRT_ERR_INVALID_PARAM);
        EXPECT_TRUE(mcu.commandLog().empty());
    }
    struct Case {
        int protect, recover;
        std::vector<uint8_t> writes;  // set-protection 0x82, set-recovery 0x83
    } cases[] = {
        {120, 100, {0x82, 0x83}},  // recovery above the 90 held: protection first
        {85, 70, {0x83, 0x82}},
        {90, 80, {0x83}},  // protection unchanged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protect);
        auto settings = mcu.settings();
        settings.protectTemperature = 90;
        settings.recoveryTemperature = 80;
        mcu.setSettings(settings);
        mcu.clearCommandLog();
        ASSERT_EQ(card.setPoEProtectTempRange(c.protect, c.recover), 0);
        std::vector<uint8_t> writes;
        for (uint8_t code : commands(mcu))
            if (code == 0x82 || code == 0x83) writes.push_back(code);
        EXPECT_EQ(writes, c.writes);
        int protect = 0, recover = 0;
        ASSERT_EQ(card.getPoEProtectTempRange(&protect, &recover), 0);
        EXPECT_EQ(protect, c.protect);
        EXPECT_EQ(recover, c.recover);
    }
    // A firmware that never confirms: three attempts, then failure.
    mcu.answerFF(0x93, -1);
    EXPECT_EQ(card.setPoEProtectTempRange(100, 80), QRT_ERR_FAILED);
    size_t setRecovery = 0;
    for (uint8_t code : commands(mcu)) setRecovery += code == 0x83;
    EXPECT_EQ(setRecovery, 4u);  // one of the cases above, then three attempts
}

TEST(PoeSeriesProperties, PseReadingsAreConvertedToUnitsAndClasses) {
    RigCard rig("PCIe-RHX54P");
    Card card(QRT_PRODUCT_RHX54P, 4);
    ASSERT_EQ(card.initial(rig.pciMap()), 0);
    qrtsim::RhxMcu& mcu = rig.board().mcu();
    const uint8_t codes[4] = {6, 7, 0, 3};
    for (int port = 0; port < 4; ++port) {
        qrtsim::RhxMcu::PortDevice device;
        device.classCode = codes[port];
        device.current = 4096;
        device.voltage = 1000;
        mcu.setPortDevice(port, device);
    }
    float value = 0;
    ASSERT_EQ(card.getPoEPortProperty(3, QRT_POEPORT_PROP_CURRENT, &value), 0);
    EXPECT_NEAR(value, 0.5, 1e-5);
    ASSERT_EQ(card.getPoEPortProperty(3, QRT_POEPORT_PROP_VOLTAGE, &value), 0);
    EXPECT_NEAR(value, 5.835, 1e-6);
    const float classes[4] = {0.0f, -1.0f, -2.0f, 3.0f};
    for (unsigned port = 0; port < 4; ++port) {
        ASSERT_EQ(card.getPoEPortProperty(port, QRT_POEPORT_PROP_POWER_CLASS, &value), 0);
        EXPECT_EQ(value, classes[port]) << port;
    }
    ASSERT_EQ(card.getPoEPortProperty(3, QRT_POEPORT_PROP_POWER_GOOD, &value), 0);
    EXPECT_EQ(value, 1.0f);
    ASSERT_EQ(card.getPoEPortProperty(2, QRT_POEPORT_PROP_POWER_GOOD, &value), 0);
    EXPECT_EQ(value, 0.0f);  // nothing detected: not powered
    ASSERT_EQ(card.getPoEPortProperty(1, QRT_POEPORT_PROP_LAST_STATE, &value), 0);
    EXPECT_EQ(value, 1.0f);

    // No reading, a port or property beyond the card's: refused.
    mcu.setPseRegister(0x30, 0xFF);
    qrtsim::RhxMcu::PortDevice unread;
    unread.classCode = 3;
    unread.current = 0xFFFF;
    mcu.setPortDevice(0, unread);
    EXPECT_EQ(card.getPoEPortProperty(0, QRT_POEPORT_PROP_CURRENT, &value), QRT_ERR_FAILED);
    EXPECT_EQ(card.getPoEPortProperty(4, QRT_POEPORT_PROP_CURRENT, &value), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(card.getPoEPortProperty(0, QRT_POEPORTPROPERTY_TYPE(5), &value),
              QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(card.getPoEProperty(QRT_POEPROPERTY_TYPE(6), &value), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(card.getPoEProperty(QRT_POEPROPERTY_TYPE(-1), &value), QRT_ERR_INVALID_PARAM);
}

TEST(PoeSeriesLock, ABusyCardAnswersBusyWithoutTouchingTheBus) {
    RigCard rig("PCIe-RHX54P");
    Card card(QRT_PRODUCT_RHX54P, 4);
    ASSERT_EQ(card.initial(rig.pciMap()), 0);
    rig.board().mcu().clearCommandLog();
    card.holdCardLock(true);
    int enables[4] = {1, 1, 1, 1};
    char text[64];
    float value;
    EXPECT_EQ(card.setPoEPortEnable(enables, 4), QRT_ERR_BUSY);
    EXPECT_EQ(card.getInfo(text, sizeof text), QRT_ERR_BUSY);
    EXPECT_EQ(card.getSN(text, sizeof text), QRT_ERR_BUSY);
    EXPECT_EQ(card.getPoEPortProperty(0, QRT_POEPORT_PROP_VOLTAGE, &value), QRT_ERR_BUSY);
    card.holdCardLock(false);
    EXPECT_TRUE(rig.board().mcu().commandLog().empty());
    // Released on every path: the card works again.
    EXPECT_EQ(card.setPoEPortEnable(enables, 4), 0);
}

}  // namespace
