// The identity EEPROM: one sequential read, page-sized write chunks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeBuses.h"
#include "core/controllers/eeprom/C_nkAT24C02D.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"

using ::testing::ElementsAre;

namespace {

class Eeprom : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, eeprom.initial(&bus));
        for (int i = 0; i < 32; ++i) data[i] = static_cast<unsigned char>(0xA0 + i);
        rhxtest::clearPauses();
    }
    rhxtest::FakeI2C bus;
    C_nkAT24C02D eeprom;
    unsigned char data[32];
};

TEST_F(Eeprom, ReadIsOneSequentialReadFromTheWordAddress) {
    bus.replies = {{1, 2, 3}};
    unsigned char buffer[31] = {};
    EXPECT_EQ(0, eeprom.readData(0x40, buffer, 31));
    EXPECT_THAT(bus.log, ElementsAre("R 40/1 x31"));
    EXPECT_EQ(3, buffer[2]);
    bus.replies = {{0}};
    EXPECT_EQ(0, eeprom.readData(250, buffer, 10));  // wraps inside the device
    EXPECT_EQ("R fa/1 x10", bus.log.back());
}

TEST_F(Eeprom, AlignedWriteGoesOutInEightByteChunksEachAwaitingTheWriteCycle) {
    EXPECT_EQ(0, eeprom.writeData(0x10, data, 20));
    EXPECT_THAT(bus.log, ElementsAre("W 10/1 a0 a1 a2 a3 a4 a5 a6 a7",
                                     "W 18/1 a8 a9 aa ab ac ad ae af", "W 20/1 b0 b1 b2 b3"));
    EXPECT_EQ(3u, rhxtest::pauseCount(5));
}

TEST_F(Eeprom, WriteStartingInsideAPageFirstFillsThatPage) {
    EXPECT_EQ(0, eeprom.writeData(0x05, data, 8));
    EXPECT_THAT(bus.log, ElementsAre("W 05/1 a0 a1 a2", "W 08/1 a3 a4 a5 a6 a7"));
}

TEST_F(Eeprom, FailingChunkEndsTheWriteAndIsReported) {
    bus.onWrite = [](unsigned long reg, const unsigned char*) { return reg == 0x18 ? -1 : 0; };
    EXPECT_EQ(-1, eeprom.writeData(0x10, data, 20));
    EXPECT_EQ(2u, bus.log.size());  // the chunk at 0x20 is not written
}

TEST_F(Eeprom, BadRequestsAreRefusedWithoutTraffic) {
    unsigned char buffer[4];
    EXPECT_EQ(-11, eeprom.readData(256, buffer, 1));
    EXPECT_EQ(-11, eeprom.readData(0, buffer, 0));
    EXPECT_EQ(-11, eeprom.readData(0, nullptr, 1));
    EXPECT_EQ(-11, eeprom.writeData(0, nullptr, 1));
    EXPECT_EQ(-11, eeprom.writeData(250, data, 7));  // would wrap onto the MAC addresses
    EXPECT_TRUE(bus.log.empty());
    EXPECT_EQ(0, eeprom.writeData(250, data, 6));
    EXPECT_THAT(bus.log, ElementsAre("W fa/1 a0 a1 a2 a3 a4 a5"));
}

TEST(EepromDevice, UnboundDeviceAndFactory) {
    C_nkEEPROMFactory factory;
    I_nkEEPROM* eeprom = factory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    ASSERT_NE(nullptr, eeprom);
    unsigned char buffer[1];
    EXPECT_EQ(-13, eeprom->readData(0, buffer, 1));
    EXPECT_EQ(0, eeprom->initial(nullptr));
    EXPECT_EQ(-13, eeprom->writeData(0, buffer, 1));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_nkEEPROMFactory::NK_EEPROM>(1)));
}

}  // namespace
