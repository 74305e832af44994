// The CPLD model on its own: both address maps, the I2C master state machine and the
// trigger-over-Ethernet block, driven word by word as the buses deliver them.

#include <gtest/gtest.h>

#include "rhxmodels/WireHelpers.h"
#include "sim/chips/At24c02d.h"
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
    qrtsim::RhxMcu mcu;
    qrtsim::At24c02d eeprom;

    void SetUp() override {
        cpld.masterBus().attach(qrtsim::RhxMcu::kAddress, &mcu);
        cpld.masterBus().attach(qrtsim::At24c02d::kAddress, &eeprom);
    }
    // Serial map: the switch addresses a register by block index (byte address / 4).
    void spiWrite(uint32_t reg, uint32_t word) { cpld.spiPort().writeBlock(reg / 4, word); }
    uint32_t spiRead(uint32_t reg) { return cpld.spiPort().readBlock(reg / 4); }
};

TEST_F(CpldModel, SerialMapPutsTheTriggerBlockAt0x1000AndTheMasterAt0x2000) {
    spiWrite(0x1044, 0x12345678);
    EXPECT_EQ(cpld.registerWord(0x44), 0x12345678u);
    EXPECT_EQ(cpld.triggerDelay(1), 0x345678u);
    EXPECT_EQ(spiRead(0x1044), 0x12345678u);
    spiWrite(0x2000, 0x2D << 1);  // write start to the microcontroller
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusAck);
    EXPECT_EQ(cpld.masterCounters().starts, 1u);
}

TEST_F(CpldModel, I2cMapTakesAWordAsTwoTwoByteWritesAndReadsItLittleEndian) {
    qrtsim::I2cBus host;
    host.attach(0x42, &cpld.i2cPort());
    qrttest::i2cWrite(host, 0x42, {0x10, 0x29, 0xAB});
    qrttest::i2cWrite(host, 0x42, {0x12, 0xCD, 0xEF});
    RhxCpld::ToeControl c = cpld.toeControl();
    EXPECT_TRUE(c.triggerEnable);
    EXPECT_FALSE(c.edgeSelectA);
    EXPECT_FALSE(c.edgeSelectB);
    EXPECT_TRUE(c.oneTriggerAll);
    EXPECT_TRUE(c.triggerSource);
    EXPECT_EQ(c.exTriggerDebounce, 0xEFCDABu);
    qrttest::i2cWrite(host, 0x42, {0x12});  // register pointer only
    EXPECT_EQ(qrttest::i2cRead(host, 0x42, 2), (std::vector<uint8_t>{0xCD, 0xEF}));
    EXPECT_EQ(cpld.registerWord(0x10), 0xEFCDAB29u);
}

TEST_F(CpldModel, StartIsAcknowledgedOnlyByAnAttachedSlave) {
    spiWrite(0x2000, (0x33 << 1) | 1);
    EXPECT_EQ(spiRead(0x2000) & RhxCpld::kStatusAck, 0u);
    EXPECT_EQ(cpld.masterCounters().nackedStarts, 1u);
    // A byte after an unanswered start fails.
    spiWrite(0x2004, 0x55);
    EXPECT_NE(spiRead(0x2000) & RhxCpld::kStatusWriteFailed, 0u);
    spiWrite(0x2000, 0x50 << 1);
    EXPECT_EQ(spiRead(0x2000), RhxCpld::kStatusAck);
}

TEST_F(CpldModel, FourByteReadPutsTheFirstByteInTheMostSignificantPosition) {
    eeprom.load(0x20, {0x11, 0x22, 0x33, 0x44, 0x55});
    spiWrite(0x2000, 0x50 << 1);
    spiWrite(0x2004, 0x20);
    spiWrite(0x200C, 0);
    spiWrite(0x2000, (0x50 << 1) | 1);
    spiWrite(0x2018, 0);
    EXPECT_EQ(spiRead(0x2018), 0x11223344u);
    spiWrite(0x2014, 0);
    EXPECT_EQ(spiRead(0x2014) & 0xFF, 0x55u);
    spiWrite(0x200C, 0);
    auto n = cpld.masterCounters();
    EXPECT_EQ(n.wordReads, 1u);
    EXPECT_EQ(n.finalReads, 1u);
    EXPECT_EQ(n.byteReads, 0u);
    EXPECT_EQ(n.stops, 2u);
}

TEST_F(CpldModel, InjectedFaultsShowInTheStatusWordAndNeverReachTheSlave) {
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

TEST_F(CpldModel, PacketMemoryStoresInWriteModeAndOnlySelectsInReadBackMode) {
    for (uint32_t a = 0; a < 64; ++a) spiWrite(0x1028, 0xFFFF0000u | (a << 8) | (0x80 + a));
    spiWrite(0x1028, 0xFFFF00FFu);  // closing writes: 0xFF at 0, 0 at address 0xFF
    spiWrite(0x1028, 0xFFFFFF00u);
    auto packet = cpld.packet(2);
    EXPECT_EQ(packet[0], 0xFF);
    EXPECT_EQ(packet[63], 0x80 + 63);

    spiWrite(0x1010, 0x10);  // read-back mode
    spiWrite(0x1028, 0xFFFF3200u);
    EXPECT_EQ(spiRead(0x1028) & 0xFFFF, 0x32B2u);
    EXPECT_EQ(cpld.packet(2)[0x32], 0xB2) << "an address select must not store";
    spiWrite(0x1010, 0x00);
    spiWrite(0x1028, 0xFFFF3200u);
    EXPECT_EQ(cpld.packet(2)[0x32], 0x00) << "in write mode the same word stores";
    EXPECT_EQ(cpld.packet(1)[0x32], 0x00);
}

TEST_F(CpldModel, SmbusStartSendsTheStoredPacketOfEachSelectedPort) {
    for (uint32_t a = 0; a < 64; ++a) spiWrite(0x1024, (a << 8) | a);
    spiWrite(0x1000, 0x003EC492);  // write header to 0x49, command 0xC4, 62 bytes
    cpld.setSmbusTarget(0x49);
    spiWrite(0x1004, 0x02);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].size(), 62u);
    EXPECT_EQ(sink.frames[0][61], 61);
    EXPECT_EQ(spiRead(0x1004) & 0xFF, 0x02u);
    spiWrite(0x1008, 0);
    EXPECT_EQ(cpld.smbusStartMask(), 0u);

    spiWrite(0x1004, 0xFF);
    EXPECT_EQ(sink.frames.size(), 5u);
    EXPECT_EQ(spiRead(0x1034), 2u << 16);  // port 1: no triggers, two frames sent
    spiWrite(0x1034, 0);                   // only the first counter register clears
    EXPECT_EQ(cpld.sentCount(1), 2u);
    spiWrite(0x1030, 0);
    EXPECT_EQ(cpld.sentCount(1), 0u);

    cpld.setSmbusTarget(0x62);  // the Ethernet controller answers elsewhere
    spiWrite(0x1004, 0x01);
    spiWrite(0x1000, 0x003EC493);  // a read header moves nothing to the wire
    cpld.setSmbusTarget(0);
    spiWrite(0x1004, 0x01);
    EXPECT_EQ(sink.frames.size(), 5u);
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

TEST_F(CpldModel, VersionRegistersFollowTheCpldGeneration) {
    RhxCpld::Version v;
    v.date = 0x20210305;
    v.time = 0x1742;
    cpld.setVersion(v);
    EXPECT_EQ(spiRead(0x201C), RhxCpld::kVersionMarker);
    EXPECT_EQ(spiRead(0x704), 0x1742u);
    EXPECT_EQ(spiRead(0x708), 0x20210305u);
    v.packed = true;
    v.packedWord = 0x61231015;
    cpld.setVersion(v);
    EXPECT_EQ(spiRead(0x201C), 0x61231015u);
    EXPECT_EQ(spiRead(0x704), 0u);
    qrtsim::I2cBus host;
    host.attach(0x42, &cpld.i2cPort());
    qrttest::i2cWrite(host, 0x42, {0x78});
    EXPECT_EQ(qrttest::i2cRead(host, 0x42, 4), (std::vector<uint8_t>{0x05, 0x03, 0x21, 0x20}));
}

}  // namespace
