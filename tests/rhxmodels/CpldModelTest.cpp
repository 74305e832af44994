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
    // Serial map: the switch addresses a register by block index (byte address / 4). Each
    // access is followed by the status read that finds the CPLD done with it, as the kit's
    // transport polls.
    void spiWrite(uint32_t reg, uint32_t word) {
        cpld.spiPort().writeBlock(reg / 4, word);
        status();
    }
    uint32_t spiRead(uint32_t reg) {
        uint32_t word = cpld.spiPort().readBlock(reg / 4);
        status();
        return word;
    }
    uint32_t status() { return cpld.spiPort().readBlock(0x2000 / 4); }
};

TEST_F(CpldModel, InjectedFaultsShowInTheStatusWordAndNeverReachTheSlave) {
    qrtsim::RhxMcu mcu;
    cpld.masterBus().attach(qrtsim::RhxMcu::kAddress, &mcu);
    cpld.injectBusBusy(1);
    spiWrite(0x2000, 0x2D << 1);
    EXPECT_EQ(status(), RhxCpld::kStatusBusBusy);
    spiWrite(0x2000, 0x2D << 1);
    EXPECT_EQ(status(), RhxCpld::kStatusAck);
    cpld.injectByteWriteFailures(1);
    spiWrite(0x2004, 0x98);
    EXPECT_EQ(status(), RhxCpld::kStatusAck | RhxCpld::kStatusWriteFailed);
    for (uint8_t b : {0x98, 0x00, 0x00}) spiWrite(0x2004, b);
    EXPECT_EQ(status(), RhxCpld::kStatusAck);
    spiWrite(0x200C, 0);
    EXPECT_EQ(mcu.settings().resets, 1u);  // the lost byte left exactly one whole command
    EXPECT_EQ(cpld.violationCount(), 0u);

    cpld.injectSpiBusy(2);
    EXPECT_NE(status() & RhxCpld::kStatusSpiBusy, 0u);
    EXPECT_NE(status() & RhxCpld::kStatusSpiBusy, 0u);
    EXPECT_EQ(status() & RhxCpld::kStatusSpiBusy, 0u);
}

TEST_F(CpldModel, ReservedBitsUnknownRegistersAndAccessesWhileBusyAreRefused) {
    spiWrite(0x1040, 0x00FFFFFF);  // the widest delay
    const struct {
        uint32_t reg, word;
        const char* kind;
    } refused[] = {
        {0x1040, 0x01000000, "reserved-bits"},  // delay bit 24
        {0x1010, 0x00000040, "reserved-bits"},  // control bit 6
        {0x1000, 0x01000000, "reserved-bits"},  // SMBus header byte 3
        {0x2000, 0x0000015A, "reserved-bits"},  // start word byte 1
        {0x1020, 0x00000141, "reserved-bits"},  // packet word without its ones
        {0x1034, 0x00000000, "write-to-read-only"}, {0x100C, 0x00000000, "unknown-register"},
    };
    for (const auto& r : refused) spiWrite(r.reg, r.word);
    EXPECT_EQ(spiRead(0x1040), 0x00FFFFFFu);
    EXPECT_EQ(cpld.toeControl().triggerEnable, false);
    EXPECT_EQ(cpld.masterCounters().starts, 0u);
    EXPECT_EQ(cpld.violationCount(), 7u);
    cpld.spiPort().writeBlock(0x1040 / 4, 1);
    cpld.spiPort().writeBlock(0x1040 / 4, 2);  // no status read in between
    EXPECT_NE(status() & RhxCpld::kStatusSpiBusy, 0u);
    EXPECT_EQ(spiRead(0x1040), 1u);
    EXPECT_EQ(cpld.violationCount(), 8u);
    // Addresses outside its blocks are nobody's on this card: no violation.
    spiWrite(0x10C0, 0x4652FFFF);
    EXPECT_EQ(spiRead(0x10C0), 0xFFFFFFFFu);
    EXPECT_EQ(cpld.violationCount(), 8u);
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
