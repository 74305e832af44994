// Register words of the trigger-over-Ethernet machinery, on both transports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"
#include "core/controllers/cpld/C_rhxSPICPLD.h"

using ::testing::ElementsAreArray;
using rhxtest::FakeI2C;
using rhxtest::FakeSPI;

namespace {

struct WriteCase {
    const char* name;
    std::function<int(I_rhxCPLD&)> call;
    std::vector<std::string> i2cWrites;  // on the CPLD reached over I2C
    std::vector<std::string> spiWrites;  // on the serial port (busy polls left out)
};

std::string caseName(const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; }

class ToEWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ToEWrite, PutsTheExpectedWordsOnBothTransports) {
    FakeI2C bus;
    C_rhxI2CCPLD overI2C;
    ASSERT_EQ(0, overI2C.initial(&bus));
    EXPECT_EQ(0, GetParam().call(overI2C));
    EXPECT_THAT(bus.log, ElementsAreArray(GetParam().i2cWrites));

    FakeSPI spi;
    C_rhxSPICPLD overSPI;
    ASSERT_EQ(0, overSPI.initial(&spi));
    EXPECT_EQ(0, GetParam().call(overSPI));
    EXPECT_THAT(spi.accesses(), ElementsAreArray(GetParam().spiWrites));
}

INSTANTIATE_TEST_SUITE_P(
    Words, ToEWrite,
    ::testing::Values(
        WriteCase{"ControlWordAllFieldsAndLargestDebounce",
                  [](I_rhxCPLD& c) { return c.setToEControlConf(1, 0, 1, 1, 0, 1, 0xFFFFFF); },
                  {"W 10/1 2d ff", "W 12/1 ff ff"},
                  {"W 1010 2d ff ff ff"}},
        WriteCase{"ControlWordFlagsCountAsNonZero",
                  [](I_rhxCPLD& c) { return c.setToEControlConf(0, 7, 0, 0, -1, 0, 0x000102); },
                  {"W 10/1 12 02", "W 12/1 01 00"},
                  {"W 1010 12 02 01 00"}},
        WriteCase{"CounterResetWritesPortZero", [](I_rhxCPLD& c) { return c.resetToECounter(); },
                  {"W 30/1 00 00"},
                  {"W 1030 00 00 00 00"}},
        WriteCase{"TriggerDelayKeepsTwentyFourBits",
                  [](I_rhxCPLD& c) { return c.setToETriggerDelay(3, 0xAB123456); },
                  {"W 4c/1 56 34", "W 4e/1 12 00"},
                  {"W 104c 56 34 12 00"}},
        WriteCase{"DPRAMByteAtAddress",
                  [](I_rhxCPLD& c) { return c.setDPRAMData(1, 0x5A, 0x3F); },
                  {"W 24/1 5a 3f"},
                  {"W 1024 5a 3f ff ff"}},
        WriteCase{"SMBusHeader",
                  [](I_rhxCPLD& c) { return c.setSMBusHeader(1, 0x49, 0xC4, 62); },
                  {"W 00/1 93 c4", "W 02/1 3e 00"},
                  {"W 1000 93 c4 3e 00"}},
        WriteCase{"SMBusStartAllPorts", [](I_rhxCPLD& c) { return c.setSMBusStart(-1); },
                  {"W 04/1 ff 00"},
                  {"W 1004 ff 00 00 00"}},
        WriteCase{"SMBusStartPortTwo", [](I_rhxCPLD& c) { return c.setSMBusStart(2); },
                  {"W 04/1 04 00"},
                  {"W 1004 04 00 00 00"}},
        WriteCase{"SMBusStartBeyondTheMaskSelectsNothing",
                  [](I_rhxCPLD& c) { return c.setSMBusStart(40); },
                  {"W 04/1 00 00"},
                  {"W 1004 00 00 00 00"}},
        WriteCase{"SMBusStop", [](I_rhxCPLD& c) { return c.setSMBusStop(); },
                  {"W 08/1 00 00"},
                  {"W 1008 00 00 00 00"}}),
    caseName);

class ToE : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, cpld.initial(&bus)); }
    FakeI2C bus;
    C_rhxI2CCPLD cpld;
};

TEST_F(ToE, OutOfRangeArgumentsAreRefusedWithoutTraffic) {
    unsigned first, second;
    unsigned char value;
    unsigned long delay;
    EXPECT_EQ(-11, cpld.setToEControlConf(1, 1, 1, 1, 1, 1, 0x1000000));
    EXPECT_EQ(-11, cpld.getToECounter(4, &first, &second));
    EXPECT_EQ(-11, cpld.setDPRAMData(7, 0, 0));
    EXPECT_EQ(-11, cpld.getDPRAMData(4, &value, 0));
    EXPECT_EQ(-11, cpld.setToETriggerDelay(4, 0));
    EXPECT_EQ(-11, cpld.getToETriggerDelay(4, &delay));
    EXPECT_EQ(-11, cpld.setSMBusStart(-2));
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(ToE, ControlWordDecodesEveryFieldAndSkipsNullOutputs) {
    bus.replies = {{0x35, 0x56, 0x34, 0x12}, {0x35, 0x56, 0x34, 0x12}};
    int te = -1, ea = -1, eb = -1, ota = -1, drb = -1, ts = -1;
    unsigned long debounce = 0;
    EXPECT_EQ(0, cpld.getToEControlConf(&te, &ea, &eb, &ota, &drb, &ts, &debounce));
    EXPECT_EQ(1, te);
    EXPECT_EQ(0, ea);
    EXPECT_EQ(1, eb);
    EXPECT_EQ(0, ota);
    EXPECT_EQ(1, drb);
    EXPECT_EQ(1, ts);
    EXPECT_EQ(0x123456ul, debounce);
    int onlySource = -1;
    EXPECT_EQ(0, cpld.getToEControlConf(nullptr, nullptr, nullptr, nullptr, nullptr, &onlySource,
                                        nullptr));
    EXPECT_EQ(1, onlySource);
    EXPECT_EQ("R 10/1 x4", bus.log.front());
}

TEST_F(ToE, CounterDelayStartMaskAndHeaderAreDecodedFromTheirRegisters) {
    bus.replies = {{0x34, 0x12, 0xEF, 0xBE}, {0x21, 0x43, 0x65, 0xFF}, {0x0A, 0, 0, 0},
                   {0x93, 0xC4, 0x3E, 0x00}};
    unsigned first = 0, second = 0;
    EXPECT_EQ(0, cpld.getToECounter(2, &first, &second));
    EXPECT_EQ(0x1234u, first);
    EXPECT_EQ(0xBEEFu, second);
    unsigned long delay = 0;
    EXPECT_EQ(0, cpld.getToETriggerDelay(1, &delay));
    EXPECT_EQ(0x654321ul, delay);
    unsigned char mask = 0;
    EXPECT_EQ(0, cpld.getSMBusStart(&mask));
    EXPECT_EQ(0x0A, mask);
    unsigned char rw = 0, slave = 0, command = 0, count = 0;
    EXPECT_EQ(0, cpld.getSMBusHeader(&rw, &slave, &command, &count));
    EXPECT_EQ(1, rw);
    EXPECT_EQ(0x49, slave);
    EXPECT_EQ(0xC4, command);
    EXPECT_EQ(62, count);
    EXPECT_THAT(bus.log, ElementsAreArray({"R 38/1 x4", "R 44/1 x4", "R 04/1 x4", "R 00/1 x4"}));
    EXPECT_EQ(-11, cpld.getSMBusHeader(&rw, &slave, nullptr, &count));
}

TEST_F(ToE, DPRAMReadSelectsTheAddressThenReadsTheByte) {
    bus.replies = {{0x77, 0x32, 0, 0}};
    unsigned char value = 0;
    EXPECT_EQ(0, cpld.getDPRAMData(3, &value, 0x32));
    EXPECT_EQ(0x77, value);
    EXPECT_THAT(bus.log, ElementsAreArray({"W 2c/1 00 32", "R 2c/1 x4"}));
}

TEST_F(ToE, TransportFailuresBecomeFailedExceptForTheSMBusWrites) {
    bus.onWrite = [](unsigned long, const unsigned char*, unsigned) { return -7; };
    unsigned char value;
    EXPECT_EQ(-1, cpld.setToEControlConf(0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(-1, cpld.resetToECounter());
    EXPECT_EQ(-1, cpld.setToETriggerDelay(0, 1));
    EXPECT_EQ(-1, cpld.setDPRAMData(0, 1, 2));
    EXPECT_EQ(-1, cpld.getDPRAMData(0, &value, 2));
    EXPECT_EQ(-7, cpld.setSMBusHeader(0, 0x49, 0xC4, 62));
    EXPECT_EQ(-7, cpld.setSMBusStart(0));
    EXPECT_EQ(-7, cpld.setSMBusStop());
    unsigned first;
    EXPECT_EQ(-1, cpld.getToECounter(0, &first, nullptr));  // no reply scripted
}

TEST_F(ToE, DebounceUnitNeedsNoRegister) {
    unsigned long unit = 0;
    EXPECT_EQ(0, cpld.getToEExTriggerDebounceUnit(&unit));
    EXPECT_EQ(40ul, unit);
    EXPECT_TRUE(bus.log.empty());
}

}  // namespace
