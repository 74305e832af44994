// The switch's serial-EEPROM port: block index and command bits, data before command, the
// busy wait (immediate polls, then 1000 a millisecond apart) and the read sequence.

#include <gtest/gtest.h>

#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "pciswitch/FakeSwitchMap.h"
#include "support/PauseRecorder.h"

namespace {

using qrttest::PauseRecorder;
constexpr unsigned long kControl = 0x260;
constexpr unsigned long kData = 0x264;

struct PexSerialPort : ::testing::Test {
    I_nkPCISwitcher* bind(FakeSwitchMap& map) {
        I_nkPCISwitcher* sw =
            factory.create(map.device == 0x8608 ? C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608
                                                : C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718);
        EXPECT_EQ(sw->initial(&map), QRT_SUCCESS);
        map.log.clear();
        PauseRecorder::clear();
        return sw;
    }
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap pex8608{0x10B5, 0x8608};
    FakeSwitchMap pex8718{0x10B5, 0x8718};
    unsigned char word[4] = {0x78, 0x56, 0x34, 0x12};
};

TEST_F(PexSerialPort, WriteSendsTheDataWordThenTheCommandOnTheLastBlock) {
    I_nkPCISwitcher* sw = bind(pex8608);
    ASSERT_EQ(sw->writeSPI(0x7FFC, word, 4), QRT_SUCCESS);
    const auto writes = pex8608.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].offset, kData);
    EXPECT_EQ(writes[0].value, 0x12345678u);
    EXPECT_EQ(writes[1].offset, kControl);
    EXPECT_EQ(writes[1].value, 0x1FFFu | 0x4000u);
    // One busy poll before; none after: the next transfer waits for this one.
    EXPECT_EQ(pex8608.log.size(), 3u);
}

TEST_F(PexSerialPort, BadAddressesAndLengthsAreRefusedUntouched) {
    I_nkPCISwitcher* sw = bind(pex8608);
    EXPECT_EQ(sw->writeSPI(0x8000, word, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->writeSPI(0x10, word, 2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->readSPI(0x8000, word, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->readSPI(0x10, word, 2), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(pex8608.log.empty());
    I_nkPCISwitcher* unbound = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    EXPECT_EQ(unbound->readSPI(0, word, 4), QRT_ERR_NOT_INITIALIZED);
}

TEST_F(PexSerialPort, WriteWithoutDataSendsOnlyThePex8718Command) {
    I_nkPCISwitcher* sw = bind(pex8718);
    ASSERT_EQ(sw->writeSPI(0x1013, nullptr, 0), QRT_SUCCESS);  // low address bits dropped
    const auto writes = pex8718.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, 0x00A04000u | 0x404u);
}

TEST_F(PexSerialPort, ReadCommandsWaitsThenFetchesTheDataRegister) {
    I_nkPCISwitcher* sw = bind(pex8718);
    pex8718.registers[kData] = 0xCAFEF00D;
    unsigned char buf[4] = {};
    ASSERT_EQ(sw->readSPI(0x1080, buf, 4), QRT_SUCCESS);
    EXPECT_EQ(buf[0], 0x0D);
    EXPECT_EQ(buf[3], 0xCA);
    // busy poll, read command, busy poll, data
    ASSERT_EQ(pex8718.log.size(), 4u);
    EXPECT_EQ(pex8718.log[1].value, 0x00A06000u | 0x420u);
    EXPECT_EQ(pex8718.log[2].offset, kControl);
    EXPECT_EQ(pex8718.log[3].offset, kData);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{1000});
}

// A word takes the port microseconds: sixteen polls at once, then a thousand 1 ms apart.
TEST_F(PexSerialPort, ABusyPortIsPolledAtOnceThenAThousandTimesAMillisecondApart) {
    I_nkPCISwitcher* sw = bind(pex8608);
    pex8608.busyReads = 16;
    ASSERT_EQ(sw->writeSPI(0x40, word, 4), QRT_SUCCESS);
    EXPECT_TRUE(PauseRecorder::taken().empty());

    pex8608.busyReads = 16 + 999;
    ASSERT_EQ(sw->writeSPI(0x40, word, 4), QRT_SUCCESS);
    EXPECT_EQ(PauseRecorder::count(1000), 999u);

    PauseRecorder::clear();
    pex8608.log.clear();
    pex8608.busyReads = 16 + 1000;
    EXPECT_EQ(sw->writeSPI(0x40, word, 4), QRT_ERR_BUSY);
    EXPECT_EQ(PauseRecorder::count(1000), 1000u);
    EXPECT_TRUE(pex8608.writes().empty());

    // A read whose command never finishes does not fetch the data register.
    struct StuckAfterCommand : FakeSwitchMap {
        using FakeSwitchMap::FakeSwitchMap;
        int writeRegister(unsigned long offset, unsigned w, unsigned char* d, unsigned l) override {
            busyReads = 16 + 1000;
            return FakeSwitchMap::writeRegister(offset, w, d, l);
        }
    } stuck(0x10B5, 0x8608);
    sw = bind(stuck);
    EXPECT_EQ(sw->readSPI(0x40, word, 4), QRT_ERR_BUSY);
    EXPECT_NE(stuck.log.back().offset, kData);
}

}  // namespace
