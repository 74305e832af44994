// The two CPLD register transports where the CPLD model cannot produce the case: the busy
// flag's polling and failures of the transport, the pauses after a word write, a CPLD that
// appears after a failed version read, a bus without an address width, version texts cut in
// the caller's buffer. The transports against the model: tests/rhxmodels.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"
#include "core/controllers/cpld/C_rhxSPICPLD.h"

using ::testing::ElementsAre;

namespace {

// A CPLD on the serial port: register words, and a status register that reads busy
// `busyPolls` times after every access.
struct SpiCpld : public ::testing::Test {
    void SetUp() override {
        spi.onWrite = [this] { busyLeft = busyPolls; };
        spi.onRead = [this](unsigned long address, uint32_t* word) {
            if (address != 0x2000) {
                busyLeft = busyPolls;
                *word = words[address];
                return 0;
            }
            *word = busyLeft > 0 ? 0x200 : 0;
            busyLeft -= busyLeft > 0;
            return 0;
        };
        ASSERT_EQ(0, cpld.initial(&spi));
    }
    std::string version() {
        char text[32] = {};
        return cpld.getVersion(text, sizeof text) == 0 ? text : "failed";
    }
    rhxtest::FakeSPI spi;
    std::map<unsigned long, uint32_t> words;
    int busyPolls = 0, busyLeft = 0;
    C_rhxSPICPLD cpld;
};

TEST_F(SpiCpld, EveryAccessIsFollowedByPollingTheBusyFlagUntilItClears) {
    words[0x1030] = 0x00020001;
    busyPolls = 3;
    RHXCPLD_READDATA in;
    EXPECT_EQ(0, cpld.readData(0x1030, &in));
    EXPECT_THAT(spi.log, ElementsAre("R 1030", "R 2000", "R 2000", "R 2000", "R 2000"));
    EXPECT_EQ(0x02, in.data[2]);

    spi.log.clear();
    busyPolls = 5000;  // never clears: the access still counts
    RHXCPLD_WRITEDATA out = {{1, 2, 3, 4}};
    EXPECT_EQ(0, cpld.writeData(0x1040, &out, 1));
    EXPECT_EQ(1001u, spi.log.size());
    EXPECT_EQ("W 1040 01 02 03 04", spi.log.front());  // always the whole block
    spi.log.clear();
    EXPECT_EQ(0, cpld.writeData(0x200C, nullptr, 0));
    EXPECT_EQ("W 200c null", spi.log.front());
}

TEST_F(SpiCpld, FailedAccessIsNotPolledAndFailedPollCountsAsBusy) {
    int statusReads = 0;
    spi.onRead = [&](unsigned long address, uint32_t* word) {
        *word = 0;
        return address != 0x2000 || ++statusReads < 3 ? -1 : 0;
    };
    RHXCPLD_READDATA in;
    EXPECT_EQ(-1, cpld.readData(0x1000, &in));
    EXPECT_THAT(spi.log, ElementsAre("R 1000"));
    EXPECT_EQ(0, cpld.writeData(0x1000, nullptr, 0));
    EXPECT_EQ(5u, spi.log.size());  // the read, the write and three polls
}

TEST_F(SpiCpld, OlderVersionIsUnpackedFromTheVersionWordAndAbsentCpldIsReadAgain) {
    words[0x201C] = 0xFFFFFFFF;
    EXPECT_EQ("failed", version());
    words[0x201C] = 0xF1311745;
    EXPECT_EQ("20150131_1745", version());
    int older = 0;
    cpld.isOlderCPLD(&older);
    EXPECT_EQ(1, older);
}

TEST(CpldObjects, UnboundBareAndFactoryMadeObjects) {
    C_rhxSPICPLD spi;
    RHXCPLD_READDATA word;
    EXPECT_EQ(-13, spi.readData(0x1000, &word));
    EXPECT_EQ(-5, spi.initial(static_cast<I_nkI2C*>(nullptr)));
    C_rhxCPLDFactory factory;
    EXPECT_NE(nullptr,
              dynamic_cast<C_rhxSPICPLD*>(factory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI)));
    EXPECT_NE(nullptr,
              dynamic_cast<C_rhxI2CCPLD*>(factory.create(C_rhxCPLDFactory::NK_HWCPLD_I2C)));
    EXPECT_EQ(nullptr, factory.create(static_cast<C_rhxCPLDFactory::NK_HWCPLD>(2)));
}

// ---------------------------------------------------------------------------------------------

struct I2cCpld : public ::testing::Test {
    void SetUp() override { ASSERT_EQ(0, cpld.initial(&bus)); }
    rhxtest::FakeI2C bus;
    C_rhxI2CCPLD cpld;
};

TEST_F(I2cCpld, WordWritesAreTwoByteWritesAtRegAndRegPlusTwoEachFollowedByAPause) {
    RHXCPLD_WRITEDATA word = {{0x11, 0x22, 0x33, 0x44}};
    rhxtest::clearPauses();
    EXPECT_EQ(0, cpld.writeData(0x10, &word, 4));
    EXPECT_EQ(0, cpld.writeData(0x20, &word, 3));
    EXPECT_EQ(0, cpld.writeData(0x30, &word, 2));
    EXPECT_EQ(0, cpld.writeData(0x40, &word, 1));
    EXPECT_EQ(0, cpld.writeData(0x58, nullptr, 0));
    EXPECT_THAT(bus.log, ElementsAre("W 10/1 11 22", "W 12/1 33 44", "W 20/1 11 22", "W 22/1 33 44",
                                     "W 30/1 11 22", "W 40/1 11 22", "W 58/1 null"));
    EXPECT_EQ(7u, rhxtest::pauseCount(5));
    EXPECT_EQ(-11, cpld.writeData(0x10, &word, 5));
    bus.onWrite = [](unsigned long, const unsigned char*) { return -1; };
    EXPECT_EQ(-1, cpld.writeData(0x10, &word, 4));
    EXPECT_EQ(8u, bus.log.size());  // the second half is not sent after a failed first
}

TEST_F(I2cCpld, BusFailingTheProbeIsNotBoundAndBusWithoutWidthHasNoBound) {
    bus.blockSizeStatus = -1;
    EXPECT_EQ(-1, cpld.initial(&bus));
    RHXCPLD_READDATA word;
    EXPECT_EQ(-13, cpld.readData(0, &word));
    bus.blockSizeStatus = 0;
    bus.regAdrSizeStatus = -5;
    EXPECT_EQ(0, cpld.initial(&bus));
    bus.replies = {{0, 0, 0, 0}};
    EXPECT_EQ(0, cpld.readData(0x1000, &word));
    EXPECT_THAT(bus.log, ElementsAre("R 1000/0 x4"));
}

TEST_F(I2cCpld, VersionIsReadOnceWholeAndCutOnlyInTheCallersBuffer) {
    char text[16];
    EXPECT_EQ(-1, cpld.getVersion(text, sizeof text));  // nothing answers: nothing cached
    bus.replies = {{0x10, 0x11, 0, 0}, {0x18, 0x07, 0x16, 0x20}};
    char small[9];
    EXPECT_EQ(0, cpld.getVersion(small, sizeof small));
    EXPECT_STREQ("20160718", small);
    EXPECT_EQ(0, cpld.getVersion(text, sizeof text));
    EXPECT_STREQ("20160718_1110", text);
    EXPECT_THAT(bus.log, ElementsAre("R 74/1 x4", "R 74/1 x4", "R 78/1 x4"));
}

}  // namespace
