// The SDK's CPLD I2C bridge, both transports, against the CPLD model and the slaves behind it.

#include <gtest/gtest.h>

#include "QRT_Types.h"
#include "rhxmodels/Rig.h"
// Every pause of this test program is instant and recorded (Pauses.cpp).
#include "support/PauseLog.h"

namespace {

using qrttest::PauseRecorder;
constexpr uint64_t kRetryPause = 100000;  // microseconds between whole-transfer attempts
constexpr uint64_t kBusyPause = 10000;    // microseconds between busy starts

template <class Card>
class CpldBridge : public ::testing::Test {
  protected:
    Card card;
    void SetUp() override {
        ASSERT_EQ(card.bindStatus, QRT_SUCCESS);
        PauseRecorder::clear();
    }
    qrtsim::RhxCpld::MasterCounters counters() { return card.cpld.masterCounters(); }
};

using Cards = ::testing::Types<qrttest::SpiCard, qrttest::I2cCard>;
TYPED_TEST_SUITE(CpldBridge, Cards);

TYPED_TEST(CpldBridge, ReadsSplitIntoWordsBytesAndAFinalByte) {
    std::vector<uint8_t> content;
    for (int i = 0; i < 16; ++i) content.push_back(uint8_t(0xA0 + i));
    this->card.eeprom.load(0x40, content);
    ASSERT_EQ(this->card.sdk->setI2CSlave(0x50), 0);
    struct Split {
        unsigned length, words, bytes;
    };
    for (Split s :
         {Split{1, 0, 0}, Split{2, 0, 1}, Split{4, 0, 3}, Split{5, 1, 0}, Split{8, 1, 3}}) {
        SCOPED_TRACE(s.length);
        auto before = this->counters();
        unsigned char buf[8] = {};
        ASSERT_EQ(this->card.sdk->readI2C(buf, s.length, 0x40, 1), QRT_SUCCESS);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + s.length),
                  std::vector<uint8_t>(content.begin(), content.begin() + s.length));
        auto after = this->counters();
        EXPECT_EQ(after.wordReads - before.wordReads, s.words);
        EXPECT_EQ(after.byteReads - before.byteReads, s.bytes);
        EXPECT_EQ(after.finalReads - before.finalReads, 1u);
        EXPECT_EQ(after.starts - before.starts, 2u);  // address phase, then the read
        EXPECT_EQ(after.stops - before.stops, 2u);
    }
    // Bad requests never reach the bus.
    const auto before = this->counters();
    unsigned char buf[2];
    EXPECT_EQ(this->card.sdk->readI2C(buf, 0, 0x40, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->card.sdk->readI2C(buf, 2, 0x40, 9), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->card.sdk->writeI2C(0, 9, buf, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->card.sdk->writeI2C(0, 1, nullptr, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->counters().starts, before.starts);
}

TYPED_TEST(CpldBridge, AWriteIsOneTransferWithTheAddressLowByteFirst) {
    ASSERT_EQ(this->card.sdk->setI2CSlave(0x50), 0);
    unsigned char data[] = {0x11, 0x22};
    // A two-byte register address 0x0130 reaches the EEPROM as 0x30 (its word address), then
    // 0x01 as the first data byte.
    ASSERT_EQ(this->card.sdk->writeI2C(0x0130, 2, data, 2), QRT_SUCCESS);
    auto m = this->card.eeprom.contents();
    EXPECT_EQ(m[0x30], 0x01);
    EXPECT_EQ(m[0x31], 0x11);
    EXPECT_EQ(m[0x32], 0x22);
    EXPECT_EQ(this->counters().starts, 1u);
    EXPECT_EQ(this->counters().stops, 1u);
}

TYPED_TEST(CpldBridge, ASlaveThatNeverAcknowledgesFailsAtTheFirstStart) {
    ASSERT_EQ(this->card.sdk->setI2CSlave(0x33), 0);
    unsigned char data[] = {0x00, 0x00};
    EXPECT_EQ(this->card.sdk->writeI2C(0x98, 1, data, 2), QRT_ERR_FAILED);
    EXPECT_EQ(this->counters().starts, 1u);
    EXPECT_EQ(this->counters().stops, 0u);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 0u);
    unsigned char buf[2];
    EXPECT_EQ(this->card.sdk->readI2C(buf, 2, 0, 0), QRT_ERR_FAILED);
    EXPECT_EQ(this->counters().starts, 2u);
}

TYPED_TEST(CpldBridge, ALostByteRetriesTheWholeTransferAfter100Ms) {
    ASSERT_EQ(this->card.sdk->setI2CSlave(0x2D), 0);
    this->card.cpld.injectByteWriteFailures(3);
    unsigned char data[] = {0x00, 0x00};
    ASSERT_EQ(this->card.sdk->writeI2C(0x98, 1, data, 2), QRT_SUCCESS);
    EXPECT_EQ(this->counters().starts, 4u);
    EXPECT_EQ(this->counters().stops, 4u);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 3u);
    EXPECT_EQ(this->card.mcu.settings().resets, 1u);

    this->card.cpld.injectByteWriteFailures(1000);
    EXPECT_EQ(this->card.sdk->writeI2C(0x98, 1, data, 2), QRT_ERR_FAILED);
    EXPECT_EQ(this->counters().starts, 4u + 30u);
    EXPECT_EQ(this->counters().stops, 4u + 30u);
    EXPECT_EQ(this->card.mcu.settings().resets, 1u);
}

TYPED_TEST(CpldBridge, ABusyBusIsStoppedAndRetriedTenTimes) {
    ASSERT_EQ(this->card.sdk->setI2CSlave(0x2D), 0);
    this->card.cpld.injectBusBusy(9);
    unsigned char data[] = {0x00, 0x00};
    ASSERT_EQ(this->card.sdk->writeI2C(0x98, 1, data, 2), QRT_SUCCESS);
    EXPECT_EQ(this->counters().starts, 10u);
    EXPECT_EQ(this->counters().busyStarts, 9u);
    EXPECT_EQ(this->counters().stops, 9u + 1u);
    EXPECT_EQ(PauseRecorder::count(kBusyPause), 9u);
    EXPECT_EQ(this->card.mcu.settings().resets, 1u);

    this->card.cpld.injectBusBusy(100);
    EXPECT_EQ(this->card.sdk->writeI2C(0x98, 1, data, 2), QRT_ERR_BUSY);
    EXPECT_EQ(this->counters().starts, 20u) << "no whole-transfer retry after a busy start";
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 0u);
    EXPECT_EQ(this->card.mcu.settings().resets, 1u);
}

// The 10-gigabit card's transport: a register word is two 2-byte writes.
TEST(CpldI2cTransport, WordWritesAreSplitIntoTwoBusWritesAndBoundedTo255) {
    qrttest::I2cCard card;
    ASSERT_EQ(card.bindStatus, QRT_SUCCESS);
    RHXCPLD_WRITEDATA word = {{0x01, 0x02, 0x03, 0x00}};  // a delay: bits 31..24 stay zero
    for (unsigned length : {1u, 2u, 3u, 4u}) {
        unsigned before = card.host.writes;
        EXPECT_EQ(card.sdk->writeData(0x40, &word, length), QRT_SUCCESS);
        EXPECT_EQ(card.host.writes - before, length > 2 ? 2u : 1u) << length;
    }
    EXPECT_EQ(card.cpld.registerWord(0x40), 0x00030201u);
    EXPECT_EQ(card.sdk->writeData(0x40, &word, 5), QRT_ERR_INVALID_PARAM);
    // Registers beyond the one-byte address are refused before the bus.
    const unsigned writes = card.host.writes;
    EXPECT_EQ(card.sdk->writeData(0x100, &word, 2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(card.host.writes, writes);
    RHXCPLD_READDATA read{};
    EXPECT_EQ(card.sdk->readData(0x100, &read), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(card.sdk->readData(0x40, &read), QRT_SUCCESS);
    EXPECT_EQ(read.data[2], 0x03);
}

}  // namespace
