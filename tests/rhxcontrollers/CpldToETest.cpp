// Register words of the trigger-over-Ethernet machinery, on both transports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"
#include "core/controllers/cpld/C_rhxSPICPLD.h"

using ::testing::ElementsAre;

namespace {

void writeEveryToEWord(I_rhxCPLD& cpld) {
    EXPECT_EQ(0, cpld.setToEControlConf(1, 0, 1, 1, 0, 1, 0xFFFFFF));
    EXPECT_EQ(0, cpld.setToEControlConf(0, 7, 0, 0, -1, 0, 0x000102));
    EXPECT_EQ(0, cpld.resetToECounter());
    EXPECT_EQ(0, cpld.setToETriggerDelay(3, 0xAB123456));
    EXPECT_EQ(0, cpld.setDPRAMData(1, 0x5A, 0x3F));
    EXPECT_EQ(0, cpld.setSMBusHeader(1, 0x49, 0xC4, 62));
    EXPECT_EQ(0, cpld.setSMBusStart(-1));
    EXPECT_EQ(0, cpld.setSMBusStart(2));
    EXPECT_EQ(0, cpld.setSMBusStart(40));  // beyond the mask: selects nothing
    EXPECT_EQ(0, cpld.setSMBusStop());
}

TEST(ToE, WordsOverI2CAreSentAsTheirTwoByteHalves) {
    rhxtest::FakeI2C bus;
    C_rhxI2CCPLD cpld;
    ASSERT_EQ(0, cpld.initial(&bus));
    writeEveryToEWord(cpld);
    EXPECT_THAT(bus.log, ElementsAre("W 10/1 2d ff", "W 12/1 ff ff", "W 10/1 12 02", "W 12/1 01 00",
                                     "W 30/1 00 00", "W 4c/1 56 34", "W 4e/1 12 00", "W 24/1 5a 3f",
                                     "W 00/1 93 c4", "W 02/1 3e 00", "W 04/1 ff 00", "W 04/1 04 00",
                                     "W 04/1 00 00", "W 08/1 00 00"));
}

TEST(ToE, WordsOnTheSerialPortAreWholeBlocksAtTheirBlockOffsets) {
    rhxtest::FakeSPI spi;
    C_rhxSPICPLD cpld;
    ASSERT_EQ(0, cpld.initial(&spi));
    writeEveryToEWord(cpld);
    EXPECT_THAT(spi.accesses(),
                ElementsAre("W 1010 2d ff ff ff", "W 1010 12 02 01 00", "W 1030 00 00 00 00",
                            "W 104c 56 34 12 00", "W 1024 5a 3f ff ff", "W 1000 93 c4 3e 00",
                            "W 1004 ff 00 00 00", "W 1004 04 00 00 00", "W 1004 00 00 00 00",
                            "W 1008 00 00 00 00"));
}

struct ToEOverI2C : public ::testing::Test {
    void SetUp() override { ASSERT_EQ(0, cpld.initial(&bus)); }
    rhxtest::FakeI2C bus;
    C_rhxI2CCPLD cpld;
};

TEST_F(ToEOverI2C, OutOfRangeArgumentsAreRefusedWithoutTraffic) {
    unsigned first, second;
    unsigned char value;
    unsigned long delay;
    EXPECT_EQ(-11, cpld.setToEControlConf(1, 1, 1, 1, 1, 1, 0x1000000));
    EXPECT_EQ(-11, cpld.getToECounter(4, &first, &second));
    EXPECT_EQ(-11, cpld.setDPRAMData(7, 0, 0));
    EXPECT_EQ(-11, cpld.getDPRAMData(4, &value, 0));
    EXPECT_EQ(-11, cpld.getToETriggerDelay(4, &delay));
    EXPECT_EQ(-11, cpld.setSMBusStart(-2));
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(ToEOverI2C, ReadWordsAreDecodedFromTheirRegisters) {
    bus.replies = {{0x35, 0x56, 0x34, 0x12}, {0x34, 0x12, 0xEF, 0xBE}, {0x21, 0x43, 0x65, 0xFF},
                   {0x0A, 0, 0, 0},          {0x93, 0xC4, 0x3E, 0x00}, {0x77, 0x32, 0, 0}};
    int f[6] = {-1, -1, -1, -1, -1, -1};
    unsigned long debounce = 0, delay = 0;
    EXPECT_EQ(0, cpld.getToEControlConf(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &debounce));
    EXPECT_THAT(f, ElementsAre(1, 0, 1, 0, 1, 1));
    EXPECT_EQ(0x123456ul, debounce);
    unsigned first = 0, second = 0;
    EXPECT_EQ(0, cpld.getToECounter(2, &first, &second));
    EXPECT_EQ(0x1234u, first);
    EXPECT_EQ(0xBEEFu, second);
    EXPECT_EQ(0, cpld.getToETriggerDelay(1, &delay));
    EXPECT_EQ(0x654321ul, delay);
    unsigned char mask = 0, rw = 0, slave = 0, command = 0, count = 0, value = 0;
    EXPECT_EQ(0, cpld.getSMBusStart(&mask) + cpld.getSMBusHeader(&rw, &slave, &command, &count) +
                     cpld.getDPRAMData(3, &value, 0x32));
    EXPECT_THAT((std::vector<int>{mask, rw, slave, command, count, value}),
                ElementsAre(0x0A, 1, 0x49, 0xC4, 62, 0x77));
    EXPECT_THAT(bus.log, ElementsAre("R 10/1 x4", "R 38/1 x4", "R 44/1 x4", "R 04/1 x4",
                                     "R 00/1 x4", "W 2c/1 00 32", "R 2c/1 x4"));
}

TEST_F(ToEOverI2C, TransportFailuresBecomeFailedExceptForTheSMBusWrites) {
    bus.onWrite = [](unsigned long, const unsigned char*) { return -7; };
    unsigned char value;
    unsigned first;
    EXPECT_EQ(-1, cpld.setToEControlConf(0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(-1, cpld.resetToECounter());
    EXPECT_EQ(-1, cpld.setToETriggerDelay(0, 1));
    EXPECT_EQ(-1, cpld.setDPRAMData(0, 1, 2));
    EXPECT_EQ(-1, cpld.getDPRAMData(0, &value, 2));
    EXPECT_EQ(-1, cpld.getToECounter(0, &first, nullptr));  // no reply scripted
    EXPECT_EQ(-7, cpld.setSMBusHeader(0, 0x49, 0xC4, 62));
    EXPECT_EQ(-7, cpld.setSMBusStart(0));
    EXPECT_EQ(-7, cpld.setSMBusStop());
    unsigned long unit = 0;
    EXPECT_EQ(0, cpld.getToEExTriggerDebounceUnit(&unit));
    EXPECT_EQ(40ul, unit);
}

}  // namespace
