// The SDK's trigger-over-Ethernet register encodings and version texts, both CPLD transports,
// checked in the CPLD model's registers and in the frames it sends.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "QRT_Types.h"
#include "rhxmodels/Rig.h"

namespace {

using qrtsim::RhxCpld;

template <class Card>
class CpldToe : public ::testing::Test {
  protected:
    Card card;
    void SetUp() override { ASSERT_EQ(card.bindStatus, QRT_SUCCESS); }
    I_rhxCPLD& sdk() { return *card.sdk; }
    uint32_t reg(uint32_t offset) { return card.cpld.registerWord(offset); }
};

using Cards = ::testing::Types<qrttest::SpiCard, qrttest::I2cCard>;
TYPED_TEST_SUITE(CpldToe, Cards);

TYPED_TEST(CpldToe, ControlWordCarriesSixFlagsAndA24BitDebounce) {
    ASSERT_EQ(this->sdk().setToEControlConf(1, 0, 7, 1, 0, 1, 0xFFFFFF), QRT_SUCCESS);
    EXPECT_EQ(this->reg(0x10), 0xFFFFFF2Du);
    int f[6] = {-1, -1, -1, -1, -1, -1};
    unsigned long debounce = 0;
    ASSERT_EQ(this->sdk().getToEControlConf(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &debounce),
              QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(f, f + 6), (std::vector<int>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(debounce, 0xFFFFFFul);
    EXPECT_EQ(this->sdk().setToEControlConf(0, 1, 0, 0, 1, 0, 0x1000000), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->reg(0x10), 0xFFFFFF2Du);
    ASSERT_EQ(this->sdk().setToEControlConf(0, 1, 0, 0, 1, 0, 40), QRT_SUCCESS);
    RhxCpld::ToeControl c = this->card.cpld.toeControl();
    EXPECT_TRUE(c.edgeSelectA && c.dpramReadBack);
    EXPECT_FALSE(c.triggerEnable || c.edgeSelectB || c.oneTriggerAll || c.triggerSource);
    EXPECT_EQ(c.exTriggerDebounce, 40u);
}

TYPED_TEST(CpldToe, DelaysAreMaskedTo24BitsPerPort) {
    for (unsigned port = 0; port < 4; ++port)
        ASSERT_EQ(this->sdk().setToETriggerDelay(port, 0xAB000000ul | (port + 1) * 0x111111),
                  QRT_SUCCESS);
    EXPECT_EQ(this->reg(0x4C), 0x444444u) << "nothing above bit 23 reaches the CPLD";
    unsigned long delay = 0;
    ASSERT_EQ(this->sdk().getToETriggerDelay(1, &delay), QRT_SUCCESS);
    EXPECT_EQ(delay, 0x222222ul);
    EXPECT_EQ(this->sdk().setToETriggerDelay(4, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->sdk().getToETriggerDelay(4, &delay), QRT_ERR_INVALID_PARAM);
}

TYPED_TEST(CpldToe, CountersReportTriggersAndFramesAndResetTogether) {
    ASSERT_EQ(this->sdk().setSMBusHeader(0, 0x49, 0xC4, 62), QRT_SUCCESS);
    ASSERT_EQ(this->sdk().setToEControlConf(1, 1, 0, 0, 0, 0, 0), QRT_SUCCESS);
    this->card.cpld.triggerInput(3, true);
    this->card.cpld.triggerInput(3, true);
    ASSERT_EQ(this->sdk().setSMBusStart(3), QRT_SUCCESS);
    unsigned first = 0, second = 0;
    ASSERT_EQ(this->sdk().getToECounter(3, &first, &second), QRT_SUCCESS);
    EXPECT_EQ(first, 2u);
    EXPECT_EQ(second, 3u);
    EXPECT_EQ(this->sdk().getToECounter(4, &first, &second), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(this->sdk().resetToECounter(), QRT_SUCCESS);
    EXPECT_EQ(this->card.cpld.triggerCount(3), 0u);
    EXPECT_EQ(this->card.cpld.sentCount(3), 0u);
}

TYPED_TEST(CpldToe, HeaderRoundTripsThroughTheRegister) {
    ASSERT_EQ(this->sdk().setSMBusHeader(1, 0x49, 0xC4, 62), QRT_SUCCESS);
    EXPECT_EQ(this->reg(0x00), 0x003EC493u);
    unsigned char rw = 0, slave = 0, command = 0, count = 0;
    ASSERT_EQ(this->sdk().getSMBusHeader(&rw, &slave, &command, &count), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>({rw, slave, command, count}), std::vector<int>({1, 0x49, 0xC4, 62}));
}

TYPED_TEST(CpldToe, StoredPacketsAreReadBackAndSentOnTheSelectedPorts) {
    uint8_t packet[64];
    for (int i = 0; i < 64; ++i) packet[i] = uint8_t(i * 7 + 1);
    packet[0] = 0xFF;
    for (unsigned a = 0; a < 64; ++a)
        ASSERT_EQ(this->sdk().setDPRAMData(2, packet[a], uint8_t(a)), QRT_SUCCESS);
    this->sdk().setDPRAMData(2, 0xFF, 0x00);
    this->sdk().setDPRAMData(2, 0x00, 0xFF);
    auto stored = this->card.cpld.packet(2);
    EXPECT_EQ(0, std::memcmp(stored.data(), packet, 64));
    EXPECT_EQ(this->reg(0x28) >> 16, TypeParam::kSerial ? 0xFFFFu : 0u)
        << "upper access bytes: 0xFF on the serial map, not sent on I2C";
    EXPECT_EQ(this->sdk().setDPRAMData(7, 0, 0), QRT_ERR_INVALID_PARAM);

    ASSERT_EQ(this->sdk().setToEControlConf(0, 0, 0, 0, 1, 0, 0), QRT_SUCCESS);
    for (unsigned a : {0x00u, 0x32u, 0x3Du, 0x3Fu}) {
        unsigned char value = 0;
        ASSERT_EQ(this->sdk().getDPRAMData(2, &value, uint8_t(a)), QRT_SUCCESS);
        EXPECT_EQ(value, packet[a]) << a;
    }
    EXPECT_EQ(0, std::memcmp(this->card.cpld.packet(2).data(), packet, 64))
        << "reading back must not store";
    unsigned char none = 0;
    EXPECT_EQ(this->sdk().getDPRAMData(4, &none, 0), QRT_ERR_INVALID_PARAM);

    ASSERT_EQ(this->sdk().setSMBusHeader(0, 0x49, 0xC4, 62), QRT_SUCCESS);
    ASSERT_EQ(this->sdk().setSMBusStart(2), QRT_SUCCESS);
    EXPECT_EQ(this->card.cpld.smbusStartMask(), 0x04);
    ASSERT_EQ(this->card.frames.frames.size(), 1u);
    EXPECT_EQ(this->card.frames.frames[0], std::vector<uint8_t>(packet, packet + 62));
    ASSERT_EQ(this->sdk().setSMBusStart(-1), QRT_SUCCESS);
    unsigned char mask = 0;
    ASSERT_EQ(this->sdk().getSMBusStart(&mask), QRT_SUCCESS);
    EXPECT_EQ(mask, 0xFF);
    EXPECT_EQ(this->card.frames.frames.size(), 5u);
    EXPECT_EQ(this->sdk().setSMBusStart(-2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->card.frames.frames.size(), 5u);
    ASSERT_EQ(this->sdk().setSMBusStop(), QRT_SUCCESS);
    EXPECT_EQ(this->card.cpld.smbusStartMask(), 0);
    // A port beyond the mask selects nothing.
    ASSERT_EQ(this->sdk().setSMBusStart(40), QRT_SUCCESS);
    EXPECT_EQ(this->card.cpld.smbusStartMask(), 0);
    EXPECT_EQ(this->card.frames.frames.size(), 5u);
}

TYPED_TEST(CpldToe, VersionTextComesFromTheStampAndIsReadOnce) {
    RhxCpld::Version v;
    v.date = 0x20210305;
    v.time = 0x1742;
    this->card.cpld.setVersion(v);
    char text[32] = {};
    ASSERT_EQ(this->sdk().getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "20210305_1742");
    int older = -1;
    this->sdk().isOlderCPLD(&older);
    EXPECT_EQ(older, 0);
    v.date = 0x20220101;
    this->card.cpld.setVersion(v);
    ASSERT_EQ(this->sdk().getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "20210305_1742");
}

TEST(CpldSpiVersion, AnOlderCpldReportsItsPackedWordAndNoCpldFails) {
    qrttest::SpiCard card;
    ASSERT_EQ(card.bindStatus, QRT_SUCCESS);
    RhxCpld::Version v;
    v.packed = true;
    v.packedWord = 0x61231015;
    card.cpld.setVersion(v);
    char text[32] = {};
    ASSERT_EQ(card.sdk->getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "20060123_1015");
    int older = 0;
    card.sdk->isOlderCPLD(&older);
    EXPECT_EQ(older, 1);

    qrttest::SpiCard empty;
    empty.pex.attachSerialDevice(nullptr);  // the serial port reads all ones
    EXPECT_EQ(empty.sdk->getVersion(text, sizeof text), QRT_ERR_FAILED);
    empty.pex.attachSerialDevice(&empty.cpld.spiPort());
    ASSERT_EQ(empty.sdk->getVersion(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "20190423_1530");
}

}  // namespace
