// The CPLD model on its own, for what the SDK's controller tests do not reach: the serial
// busy flag, stores in the wrong packet-memory mode, SMBus headers nobody answers and the
// trigger input.

#include <gtest/gtest.h>

#include "sim/chips/RhxCpld.h"
#include "sim/chips/RhxMcu.h"

namespace {

using qrtsim::RhxCpld;

struct FrameLog : qrtsim::FrameSink {
    std::vector<std::vector<uint8_t>> frames;
    void emitFrame(const std::vector<uint8_t>& frame) override { frames.push_back(frame); }
};

class CpldModel : public ::testing::Test {
  protected:
    FrameLog sink;
    RhxCpld cpld{&sink};
    // Serial map: the switch addresses a register by block index (byte address / 4).
    void spiWrite(uint32_t reg, uint32_t word) { cpld.spiPort().writeBlock(reg / 4, word); }
    uint32_t spiRead(uint32_t reg) { return cpld.spiPort().readBlock(reg / 4); }
};

TEST_F(CpldModel, InjectedFaultsShowInTheStatusWordAndNeverReachTheSlave) {
    qrtsim::RhxMcu mcu;
    cpld.masterBus().attach(qrtsim::RhxMcu::kAddress, &mcu);
    cpld.injectBusBusy(1);
    spiWrite(0x2000, 0x2D << 1);
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusBusBusy);
    spiWrite(0x2000, 0x2D << 1);
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusAck);
    cpld.injectByteWriteFailures(1);
    spiWrite(0x2004, 0x98);
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusAck | RhxCpld::kStatusWriteFailed);
    for (uint8_t b : {0x98, 0x00, 0x00}) spiWrite(0x2004, b);
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusAck);
    spiWrite(0x200C, 0);
    EXPECT_EQ(mcu.settings().resets, 1u);  // the lost byte left exactly one whole command

    cpld.injectSpiBusy(2);
    EXPECT_NE(spiRead(0x2000) & RhxCpld::kStatusSpiBusy, 0u);
    EXPECT_NE(spiRead(0x2000) & RhxCpld::kStatusSpiBusy, 0u);
    EXPECT_EQ(spiRead(0x2000) & RhxCpld::kStatusSpiBusy, 0u);
}

TEST_F(CpldModel, AnAddressSelectStoresWhenTheHostForgetsTheReadBackMode) {
    spiWrite(0x1028, 0xFFFF32B2u);
    spiWrite(0x1010, 0x10);  // read-back mode: the same word only selects
    spiWrite(0x1028, 0xFFFF3200u);
    EXPECT_EQ(spiRead(0x1028) & 0xFFFF, 0x32B2u);
    spiWrite(0x1010, 0x00);
    spiWrite(0x1028, 0xFFFF3200u);
    EXPECT_EQ(cpld.packet(2)[0x32], 0x00);
    spiWrite(0x1028, 0xFFFF0041u);  // the closing write to 0xFF lands nowhere
    spiWrite(0x1028, 0xFFFFFF00u);
    EXPECT_EQ(cpld.packet(2)[0], 0x41);
}

TEST_F(CpldModel, OnlyAWriteHeaderToTheControllersAddressSendsAFrame) {
    cpld.setSmbusTarget(0x49);
    spiWrite(0x1000, 0x003EC4C4);  // write header to 0x62
    spiWrite(0x1004, 0x01);
    spiWrite(0x1000, 0x003EC493);  // read header to 0x49
    spiWrite(0x1004, 0x01);
    spiWrite(0x1000, 0x0000C492);  // empty block
    spiWrite(0x1004, 0x01);
    EXPECT_TRUE(sink.frames.empty());
    spiWrite(0x1000, 0x0050C492);  // 80 bytes asked, the packet memory holds 64
    spiWrite(0x1004, 0x31);        // ports above 3 do not exist
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].size(), 64u);
    EXPECT_EQ(cpld.sentCount(0), 1u);
    spiWrite(0x1034, 0);  // only the first counter register clears
    EXPECT_EQ(cpld.sentCount(0), 1u);
}

TEST_F(CpldModel, TriggerInputFiresOnTheSelectedEdgeOnlyWhenEnabled) {
    spiWrite(0x1000, 0x003EC492);
    cpld.triggerInput(0, true);
    EXPECT_EQ(cpld.triggerCount(0), 0u);
    spiWrite(0x1010, 0x03);  // enabled, rising edge
    cpld.triggerInput(0, false);
    cpld.triggerInput(0, true);
    EXPECT_EQ(cpld.triggerCount(0), 1u);
    EXPECT_EQ(cpld.triggerCount(1), 0u);
    spiWrite(0x1010, 0x0D);  // enabled, falling edge, one trigger fires all
    cpld.triggerInput(3, false);
    EXPECT_EQ(spiRead(0x1030), 0x00020002u);
    EXPECT_EQ(cpld.triggerCount(2), 1u);
    EXPECT_EQ(sink.frames.size(), 5u);
}

}  // namespace
