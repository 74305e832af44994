// The SDK's identity EEPROM object through the CPLD bridge (both transports) against the
// AT24C02D model: sequential reads, page writes and the device's page wrap.

#include <gtest/gtest.h>

#include "QRT_Types.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"
#include "rhxmodels/Rig.h"

namespace {

using qrtsim::At24c02d;
using Bytes = std::vector<uint8_t>;

template <class Card>
class EepromOverBridge : public ::testing::Test {
  protected:
    Card card;
    C_nkEEPROMFactory factory;
    I_nkEEPROM* eeprom = nullptr;
    At24c02d& chip() { return card.eeprom; }

    void SetUp() override {
        ASSERT_EQ(card.bindStatus, QRT_SUCCESS);
        ASSERT_EQ(card.sdk->setI2CSlave(At24c02d::kAddress), QRT_SUCCESS);
        eeprom = factory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
        ASSERT_NE(eeprom, nullptr);
        ASSERT_EQ(eeprom->initial(card.sdk), QRT_SUCCESS);
    }
    static Bytes pattern(size_t n, uint8_t first) {
        Bytes b;
        for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(first + i));
        return b;
    }
    Bytes chipBytes(size_t from, size_t n) {
        auto m = chip().contents();
        return Bytes(m.begin() + from, m.begin() + from + n);
    }
};

using Cards = ::testing::Types<qrttest::SpiCard, qrttest::I2cCard>;
TYPED_TEST_SUITE(EepromOverBridge, Cards);

TYPED_TEST(EepromOverBridge, AReadIsOneBridgedTransferThatRollsOverLikeTheChip) {
    this->chip().load(0x40, this->pattern(31, 0x30));
    auto before = this->card.cpld.masterCounters();
    Bytes buf(31);
    ASSERT_EQ(this->eeprom->readData(0x40, buf.data(), 31), QRT_SUCCESS);
    EXPECT_EQ(buf, this->pattern(31, 0x30));
    EXPECT_EQ(this->card.cpld.masterCounters().starts - before.starts, 2u);

    this->chip().load(250, this->pattern(10, 0x90));  // 250..255, then 0..3
    Bytes tail(10);
    ASSERT_EQ(this->eeprom->readData(250, tail.data(), 10), QRT_SUCCESS);
    EXPECT_EQ(tail, this->pattern(10, 0x90));
    EXPECT_EQ(this->eeprom->readData(256, tail.data(), 1), QRT_ERR_INVALID_PARAM);
}

TYPED_TEST(EepromOverBridge, WritesArriveIntactInWholePagesNeverWrappingInsideOne) {
    struct Case {
        uint8_t address;
        size_t length;
    };
    for (Case c : {Case{0x10, 20}, Case{0x05, 8}, Case{0x63, 13}, Case{0xF8, 8}}) {
        SCOPED_TRACE(int(c.address));
        this->chip().clearPageWrites();
        Bytes data = this->pattern(c.length, uint8_t(c.address * 3));
        auto neighbours = this->chip().contents();
        ASSERT_EQ(this->eeprom->writeData(c.address, data.data(), unsigned(c.length)), QRT_SUCCESS);
        EXPECT_EQ(this->chipBytes(c.address, c.length), data);
        auto after = this->chip().contents();
        for (size_t a = 0; a < 256; ++a) {
            bool written = a >= c.address && a < c.address + c.length;
            if (!written) {
                ASSERT_EQ(after[a], neighbours[a]) << a;
            }
        }
        unsigned programmed = 0;
        for (const auto& w : this->chip().pageWrites()) {
            EXPECT_LE(w.address % 8 + w.length, 8u) << "a page write that wraps in the chip";
            programmed += w.length;
        }
        EXPECT_EQ(programmed, c.length);
    }
}

TYPED_TEST(EepromOverBridge, AChunkTheChipRefusesFailsTheWholeWrite) {
    Bytes data = this->pattern(20, 0x40);
    this->chip().setWriteCycleUs(50000);  // still programming when the next chunk starts
    EXPECT_NE(this->eeprom->writeData(0x10, data.data(), 20), QRT_SUCCESS);
    EXPECT_EQ(this->chipBytes(0x10, 8), this->pattern(8, 0x40));
    EXPECT_EQ(this->chipBytes(0x20, 4), Bytes(4, 0xFF)) << "nothing after the refused chunk";

    this->chip().setWriteCycleUs(At24c02d::kWriteCycleUs);
    this->chip().setWriteProtect(true);
    EXPECT_NE(this->eeprom->writeData(0x80, data.data(), 4), QRT_SUCCESS);
    EXPECT_EQ(this->chipBytes(0x80, 4), Bytes(4, 0xFF));
}

TYPED_TEST(EepromOverBridge, BadRequestsAreRefusedWithoutTraffic) {
    unsigned char buffer[8] = {};
    const auto before = this->card.cpld.masterCounters().starts;
    EXPECT_EQ(this->eeprom->readData(0, buffer, 0), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->eeprom->readData(0, nullptr, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->eeprom->writeData(0, nullptr, 1), QRT_ERR_INVALID_PARAM);
    // A write that would wrap onto the MAC addresses at the start.
    EXPECT_EQ(this->eeprom->writeData(250, buffer, 7), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(this->card.cpld.masterCounters().starts, before);
    ASSERT_EQ(this->eeprom->writeData(250, buffer, 6), QRT_SUCCESS);
    EXPECT_EQ(this->chipBytes(250, 6), Bytes(6, 0));
}

TEST(EepromDevice, UnboundDeviceAndFactory) {
    C_nkEEPROMFactory factory;
    I_nkEEPROM* eeprom = factory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    ASSERT_NE(nullptr, eeprom);
    unsigned char buffer[1];
    EXPECT_EQ(QRT_ERR_NOT_INITIALIZED, eeprom->readData(0, buffer, 1));
    EXPECT_EQ(QRT_SUCCESS, eeprom->initial(nullptr));
    EXPECT_EQ(QRT_ERR_NOT_INITIALIZED, eeprom->writeData(0, buffer, 1));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_nkEEPROMFactory::NK_EEPROM>(1)));
}

}  // namespace
