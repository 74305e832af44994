// The two CPLD register transports (serial port with busy polling; I2C with 2-byte writes)
// and the version texts they read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"
#include "core/controllers/cpld/C_rhxSPICPLD.h"

using ::testing::ElementsAre;
using rhxtest::FakeI2C;
using rhxtest::FakeSPI;

namespace {

// Register words of a CPLD on the serial port; the status register reads busy `busyPolls`
// times after every access.
struct SpiRegisters {
    std::map<unsigned long, uint32_t> words;
    int busyPolls = 0;
    int busyLeft = 0;
    void attach(FakeSPI& spi) {
        spi.onWrite = [this](unsigned long) {
            busyLeft = busyPolls;
            return 0;
        };
        spi.onRead = [this](unsigned long address, uint32_t* word) {
            if (address == 0x2000) {
                *word = busyLeft > 0 ? 0x200 : 0;
                if (busyLeft > 0) --busyLeft;
                return 0;
            }
            busyLeft = busyPolls;
            *word = words.count(address) ? words[address] : 0;
            return 0;
        };
    }
};

TEST(SpiCpld, ReadPollsTheBusyFlagUntilItClears) {
    FakeSPI spi;
    SpiRegisters regs;
    regs.words[0x1030] = 0x00020001;
    regs.busyPolls = 3;
    regs.attach(spi);
    C_rhxSPICPLD cpld;
    ASSERT_EQ(0, cpld.initial(&spi));
    RHXCPLD_READDATA word = {};
    EXPECT_EQ(0, cpld.readData(0x1030, &word));
    EXPECT_THAT(spi.log, ElementsAre("R 1030", "R 2000", "R 2000", "R 2000", "R 2000"));
    EXPECT_EQ(0x01, word.data[0]);
    EXPECT_EQ(0x02, word.data[2]);
}

TEST(SpiCpld, FlagThatNeverClearsEndsPollingAfterAThousandReadsWithTheDataStatus) {
    FakeSPI spi;
    SpiRegisters regs;
    regs.busyPolls = 5000;
    regs.attach(spi);
    C_rhxSPICPLD cpld;
    cpld.initial(&spi);
    RHXCPLD_WRITEDATA word = {{1, 2, 3, 4}};
    EXPECT_EQ(0, cpld.writeData(0x1040, &word, 1));
    EXPECT_EQ(1001u, spi.log.size());
    EXPECT_EQ("W 1040 01 02 03 04", spi.log.front());  // always the whole block
}

TEST(SpiCpld, FailedStatusReadCountsAsBusyAndFailedAccessIsNotPolled) {
    FakeSPI spi;
    int statusReads = 0;
    spi.onRead = [&](unsigned long address, uint32_t* word) {
        *word = 0;
        if (address != 0x2000) return -1;
        return ++statusReads < 3 ? -1 : 0;
    };
    C_rhxSPICPLD cpld;
    cpld.initial(&spi);
    EXPECT_EQ(0, cpld.writeData(0x200C, nullptr, 0));
    EXPECT_THAT(spi.log, ElementsAre("W 200c null", "R 2000", "R 2000", "R 2000"));
    spi.log.clear();
    RHXCPLD_READDATA word;
    EXPECT_EQ(-1, cpld.readData(0x1000, &word));
    EXPECT_THAT(spi.log, ElementsAre("R 1000"));
}

TEST(SpiCpld, UnboundAndBareObjectsRefuse) {
    C_rhxSPICPLD cpld;
    RHXCPLD_READDATA word;
    EXPECT_EQ(-13, cpld.readData(0x1000, &word));
    EXPECT_EQ(-13, cpld.writeData(0x1000, nullptr, 0));
    EXPECT_EQ(-5, cpld.initial(static_cast<I_nkI2C*>(nullptr)));
    A_rhxCPLD bare;
    EXPECT_EQ(-5, bare.readData(0, &word));
    EXPECT_EQ(-5, bare.setSMBusStop());
    unsigned char buffer[1];
    EXPECT_EQ(-5, bare.readI2C(buffer, 1, 0, 0));
}

struct SpiVersionCase {
    uint32_t versionWord, timeWord, dateWord;
    const char* text;
    int older;
};

class SpiCpldVersion : public ::testing::TestWithParam<SpiVersionCase> {};

TEST_P(SpiCpldVersion, FormatsTheStampAndFlagsThePackedForm) {
    const SpiVersionCase& c = GetParam();
    FakeSPI spi;
    SpiRegisters regs;
    regs.words = {{0x201C, c.versionWord}, {0x704, c.timeWord}, {0x708, c.dateWord}};
    regs.attach(spi);
    C_rhxSPICPLD cpld;
    cpld.initial(&spi);
    char text[32] = {};
    ASSERT_EQ(0, cpld.getVersion(text, sizeof text));
    EXPECT_STREQ(c.text, text);
    int older = -1;
    EXPECT_EQ(0, cpld.isOlderCPLD(&older));
    EXPECT_EQ(c.older, older);
    spi.log.clear();
    ASSERT_EQ(0, cpld.getVersion(text, sizeof text));  // cached: no traffic
    EXPECT_TRUE(spi.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, SpiCpldVersion,
    ::testing::Values(SpiVersionCase{0xF0F0F0F0, 0x00001110, 0x20160718, "20160718_1110", 0},
                      SpiVersionCase{0x67181110, 0, 0, "20060718_1110", 1},
                      SpiVersionCase{0xF1311745, 0, 0, "20150131_1745", 1}));

TEST(SpiCpld, AbsentCpldVersionFailsAndIsReadAgain) {
    FakeSPI spi;
    SpiRegisters regs;
    regs.words[0x201C] = 0xFFFFFFFF;
    regs.attach(spi);
    C_rhxSPICPLD cpld;
    cpld.initial(&spi);
    char text[32];
    EXPECT_EQ(-1, cpld.getVersion(text, sizeof text));
    regs.words[0x201C] = 0xF0F0F0F0;
    regs.words[0x708] = 0x20200229;
    regs.words[0x704] = 0x0959;
    EXPECT_EQ(0, cpld.getVersion(text, sizeof text));
    EXPECT_STREQ("20200229_0959", text);
}

// ---------------------------------------------------------------------------------------------

class I2cCpld : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, cpld.initial(&bus)); }
    FakeI2C bus;
    C_rhxI2CCPLD cpld;
};

TEST_F(I2cCpld, WordWritesAreSplitIntoTwoByteWritesEachFollowedByAPause) {
    RHXCPLD_WRITEDATA word = {{0x11, 0x22, 0x33, 0x44}};
    rhxtest::clearPauses();
    EXPECT_EQ(0, cpld.writeData(0x10, &word, 4));
    EXPECT_EQ(0, cpld.writeData(0x20, &word, 3));
    EXPECT_EQ(0, cpld.writeData(0x30, &word, 2));
    EXPECT_EQ(0, cpld.writeData(0x40, &word, 1));
    EXPECT_EQ(0, cpld.writeData(0x58, nullptr, 0));
    EXPECT_THAT(bus.log, ElementsAre("W 10/1 11 22", "W 12/1 33 44", "W 20/1 11 22",
                                     "W 22/1 33 44", "W 30/1 11 22", "W 40/1 11 22",
                                     "W 58/1 null"));
    EXPECT_EQ(7u, rhxtest::pauseCount(5));
    EXPECT_EQ(-11, cpld.writeData(0x10, &word, 5));
}

TEST_F(I2cCpld, RegistersBeyondTheOneByteAddressAreRefused) {
    RHXCPLD_READDATA in;
    RHXCPLD_WRITEDATA out = {};
    EXPECT_EQ(-11, cpld.readData(256, &in));
    EXPECT_EQ(-11, cpld.writeData(256, &out, 2));
    EXPECT_TRUE(bus.log.empty());
    bus.replies = {{1, 2, 3, 4}};
    EXPECT_EQ(0, cpld.readData(255, &in));
    EXPECT_THAT(bus.log, ElementsAre("R ff/1 x4"));
}

TEST_F(I2cCpld, FailedFirstHalfSkipsTheSecond) {
    bus.onWrite = [](unsigned long, const unsigned char*, unsigned) { return -1; };
    RHXCPLD_WRITEDATA word = {};
    EXPECT_EQ(-1, cpld.writeData(0x10, &word, 4));
    EXPECT_EQ(1u, bus.log.size());
}

TEST(I2cCpldBinding, BusFailingTheProbeIsNotBoundAndBusWithoutWidthHasNoBound) {
    FakeI2C bus;
    C_rhxI2CCPLD cpld;
    bus.blockSizeStatus = -1;
    EXPECT_EQ(-1, cpld.initial(&bus));
    RHXCPLD_READDATA word;
    EXPECT_EQ(-13, cpld.readData(0, &word));
    EXPECT_EQ(-1, cpld.initial(static_cast<I_nkI2C*>(nullptr)));

    bus.blockSizeStatus = 0;
    bus.regAdrSizeStatus = -5;
    EXPECT_EQ(0, cpld.initial(&bus));
    bus.replies = {{0, 0, 0, 0}};
    EXPECT_EQ(0, cpld.readData(0x1000, &word));
    EXPECT_THAT(bus.log, ElementsAre("R 1000/0 x4"));
}

TEST_F(I2cCpld, VersionReadsTimeAndDateOnceAndFitsSmallBuffers) {
    bus.replies = {{0x10, 0x11, 0x00, 0x00}, {0x18, 0x07, 0x16, 0x20}};
    char small[9];
    EXPECT_EQ(0, cpld.getVersion(small, sizeof small));
    EXPECT_STREQ("20160718", small);  // cut and terminated
    EXPECT_THAT(bus.log, ElementsAre("R 74/1 x4", "R 78/1 x4"));
    char text[16];
    EXPECT_EQ(0, cpld.getVersion(text, sizeof text));
    EXPECT_STREQ("20160718_1110", text);  // the cache kept the whole stamp
    EXPECT_EQ(2u, bus.log.size());
    int older = -1;
    cpld.isOlderCPLD(&older);
    EXPECT_EQ(0, older);
}

TEST_F(I2cCpld, FailedVersionReadLeavesNothingCached) {
    char text[16];
    EXPECT_EQ(-1, cpld.getVersion(text, sizeof text));  // no reply scripted: read fails
    bus.replies = {{0x10, 0x11, 0, 0}, {0x18, 0x07, 0x16, 0x20}};
    EXPECT_EQ(0, cpld.getVersion(text, sizeof text));
    EXPECT_STREQ("20160718_1110", text);
}

TEST(CpldFactory, MakesBothTransportsAndNothingElse) {
    C_rhxCPLDFactory factory;
    I_rhxCPLD* spi = factory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
    I_rhxCPLD* i2c = factory.create(C_rhxCPLDFactory::NK_HWCPLD_I2C);
    EXPECT_NE(nullptr, dynamic_cast<C_rhxSPICPLD*>(spi));
    EXPECT_NE(nullptr, dynamic_cast<C_rhxI2CCPLD*>(i2c));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_rhxCPLDFactory::NK_HWCPLD>(2)));
    unsigned size = 0;
    EXPECT_EQ(0, spi->getWriteDataSize(&size));
    EXPECT_EQ(4u, size);
}

}  // namespace
