// The switch's serial-EEPROM port: block index and command bits, data before command, the
// 1000-poll busy wait and the read sequence.

#include <gtest/gtest.h>

#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "pciswitch/FakeSwitchMap.h"
#include "support/PauseRecorder.h"

namespace {

using qrttest::PauseRecorder;

constexpr unsigned long kControl = 0x260;
constexpr unsigned long kData = 0x264;

class PexSerialPort : public ::testing::Test {
  protected:
    void bind(C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE type, int device) {
        map.reset(new FakeSwitchMap(0x10B5, device));
        sw = factory.create(type);
        ASSERT_EQ(sw->initial(map.get()), QRT_SUCCESS);
        map->log.clear();
        PauseRecorder::clear();
    }

    C_nkPCISwitcherFactory factory;
    std::unique_ptr<FakeSwitchMap> map;
    I_nkPCISwitcher* sw = nullptr;
};

TEST_F(PexSerialPort, WriteSendsTheDataWordThenTheCommandWithTheBlockIndex) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    unsigned char data[4] = {0x78, 0x56, 0x34, 0x12};
    ASSERT_EQ(sw->writeSPI(0x7FFC, data, 4), QRT_SUCCESS);
    const auto writes = map->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].offset, kData);
    EXPECT_EQ(writes[0].value, 0x12345678u);
    EXPECT_EQ(writes[1].offset, kControl);
    EXPECT_EQ(writes[1].value, 0x1FFFu | 0x4000u);
    // It polled the busy flag first, and does not wait for the write to finish.
    EXPECT_FALSE(map->log.front().write);
    EXPECT_EQ(map->log.front().offset, kControl);
    EXPECT_EQ(map->log.back().offset, kControl);
}

TEST_F(PexSerialPort, AddressesBeyondTheLastBlockAndOddLengthsAreRefusedUntouched) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    unsigned char data[4] = {};
    EXPECT_EQ(sw->writeSPI(0x8000, data, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->writeSPI(0x10, data, 2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->readSPI(0x8000, data, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->readSPI(0x10, data, 2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->readSPI(0x10, data, 0), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(map->log.empty());
}

TEST_F(PexSerialPort, WriteWithoutDataSendsOnlyTheCommand) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718, 0x8718);
    // The low two address bits are dropped: 0x1013 is block 4.
    ASSERT_EQ(sw->writeSPI(0x1013, nullptr, 0), QRT_SUCCESS);
    const auto writes = map->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].offset, kControl);
    EXPECT_EQ(writes[0].value, 0x00A04000u | 0x404u);
}

TEST_F(PexSerialPort, ReadIssuesTheReadCommandWaitsThenFetchesTheDataRegister) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718, 0x8718);
    map->registers[kData] = 0xCAFEF00D;
    unsigned char buf[4] = {};
    ASSERT_EQ(sw->readSPI(0x1080, buf, 4), QRT_SUCCESS);
    EXPECT_EQ(buf[0], 0x0D);
    EXPECT_EQ(buf[3], 0xCA);
    const auto writes = map->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, 0x00A06000u | 0x420u);
    // busy poll, command, busy poll, data
    ASSERT_EQ(map->log.size(), 4u);
    EXPECT_EQ(map->log[2].offset, kControl);
    EXPECT_FALSE(map->log[2].write);
    EXPECT_EQ(map->log[3].offset, kData);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{1000});
}

TEST_F(PexSerialPort, APortBusyForAWhileIsWaitedFor) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    map->busyPollsLeft = 999;
    unsigned char data[4] = {1, 2, 3, 4};
    ASSERT_EQ(sw->writeSPI(0x40, data, 4), QRT_SUCCESS);
    EXPECT_EQ(PauseRecorder::count(1000), 999u);
    EXPECT_EQ(map->writes().size(), 2u);
}

TEST_F(PexSerialPort, APortBusyForAThousandPollsRefusesTheTransfer) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    map->busyPollsLeft = 1000;
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(sw->writeSPI(0x40, data, 4), QRT_ERR_BUSY);
    EXPECT_EQ(PauseRecorder::count(1000), 1000u);
    EXPECT_TRUE(map->writes().empty());
}

TEST_F(PexSerialPort, AReadWhoseCommandNeverFinishesIsBusy) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    unsigned char buf[4] = {};
    // Idle for the first poll, then busy through the whole second wait.
    struct BusyAfterCommand : FakeSwitchMap {
        using FakeSwitchMap::FakeSwitchMap;
        int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                          unsigned length) override {
            if (offset == kSerialControl) busyPollsLeft = 1000;
            return FakeSwitchMap::writeRegister(offset, width, data, length);
        }
    } busyMap(0x10B5, 0x8608);
    ASSERT_EQ(sw->initial(&busyMap), QRT_SUCCESS);
    busyMap.log.clear();
    EXPECT_EQ(sw->readSPI(0x40, buf, 4), QRT_ERR_BUSY);
    for (const auto& access : busyMap.log) EXPECT_NE(access.offset, kData);
}

TEST_F(PexSerialPort, RegisterFailuresPassThrough) {
    bind(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    unsigned char data[4] = {};
    map->writeFailures[kData] = QRT_ERR_FAILED;
    EXPECT_EQ(sw->writeSPI(0x40, data, 4), QRT_ERR_FAILED);
    // The command is not sent after its data word failed.
    EXPECT_TRUE(map->writes().empty());
    map->writeFailures.clear();
    map->writeFailures[kControl] = QRT_ERR_BUSY;
    EXPECT_EQ(sw->readSPI(0x40, data, 4), QRT_ERR_BUSY);
}

TEST_F(PexSerialPort, AnUnboundSwitchHasNoPort) {
    I_nkPCISwitcher* unbound = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    unsigned char data[4] = {};
    EXPECT_EQ(unbound->writeSPI(0, data, 4), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(unbound->readSPI(0, data, 4), QRT_ERR_NOT_INITIALIZED);
    unsigned size = 0;
    ASSERT_EQ(unbound->getSPIDataBlockSize(&size), QRT_SUCCESS);
    EXPECT_EQ(size, 4u);
}

}  // namespace
