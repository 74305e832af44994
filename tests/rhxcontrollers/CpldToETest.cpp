// The trigger-over-Ethernet registers where the CPLD model cannot produce the case: transport
// failures with their own status. The register words themselves are tested against the CPLD
// model (tests/rhxmodels).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"

namespace {

struct ToEOverI2C : public ::testing::Test {
    void SetUp() override { ASSERT_EQ(0, cpld.initial(&bus)); }
    rhxtest::FakeI2C bus;
    C_rhxI2CCPLD cpld;
};

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
