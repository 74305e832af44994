// The CPLD's I2C master used as a bus: start/acknowledge handling, confirmed byte writes, the
// transfer retry and the splitting of reads into word, byte and final-byte reads.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using rhxtest::FakeI2C;

namespace {

// Plays the I2C master block of a CPLD reached over I2C (block at 0x50) and the slave behind
// it, and condenses the register accesses into bridge events: "start 5a", "byte 86", "read1",
// "final", "read4", "stop".
struct BridgeSlave {
    std::vector<std::string> events;
    std::deque<uint32_t> startStatus;  // one per start; default: acknowledged
    std::deque<uint32_t> byteStatus;   // one per byte write; default: confirmed
    std::deque<unsigned char> incoming;  // what the slave sends
    int receiveStatus = 0;               // status of reads of the receive registers

    uint32_t status = 0;
    uint32_t received = 0;

    static uint32_t next(std::deque<uint32_t>& q, uint32_t otherwise) {
        if (q.empty()) return otherwise;
        uint32_t v = q.front();
        q.pop_front();
        return v;
    }
    unsigned char nextIncoming() {
        unsigned char b = incoming.empty() ? 0xEE : incoming.front();
        if (!incoming.empty()) incoming.pop_front();
        return b;
    }
    void attach(FakeI2C& bus) {
        bus.onWrite = [this](unsigned long reg, const unsigned char* data, unsigned) {
            char text[16];
            switch (reg) {
                case 0x50:
                    std::snprintf(text, sizeof text, "start %02x", data[0]);
                    events.push_back(text);
                    status = next(startStatus, 0x100);
                    break;
                case 0x54:
                    std::snprintf(text, sizeof text, "byte %02x", data[0]);
                    events.push_back(text);
                    status = next(byteStatus, 0x100);
                    break;
                case 0x58:
                    events.push_back("read1");
                    received = nextIncoming();
                    break;
                case 0x64:
                    events.push_back("final");
                    received = nextIncoming();
                    break;
                case 0x68: {
                    events.push_back("read4");
                    // The first byte on the wire ends up in the top byte of the word.
                    received = 0;
                    for (int i = 0; i < 4; ++i) received = received << 8 | nextIncoming();
                    break;
                }
                case 0x5C:
                    events.push_back("stop");
                    break;
            }
            return 0;
        };
        bus.onRead = [this](unsigned long reg, unsigned char* buffer, unsigned length) {
            const uint32_t word = reg == 0x50 ? status : received;
            for (unsigned i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(word >> 8 * i);
            return reg == 0x50 ? 0 : receiveStatus;
        };
    }
    size_t count(const std::string& event) const {
        return std::count(events.begin(), events.end(), event);
    }
};

class CpldBridge : public ::testing::Test {
protected:
    void SetUp() override {
        slave.attach(bus);
        ASSERT_EQ(0, cpld.initial(&bus));
        ASSERT_EQ(0, cpld.setI2CSlave(0x2D));
        rhxtest::clearPauses();
    }
    FakeI2C bus;
    BridgeSlave slave;
    C_rhxI2CCPLD cpld;
};

TEST_F(CpldBridge, WriteSendsAddressByteRegisterAndDataEachConfirmedByStatus) {
    unsigned char data[2] = {0x09, 0x00};
    EXPECT_EQ(0, cpld.writeI2C(0x86, 1, data, 2));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "byte 86", "byte 09", "byte 00", "stop"));
    // On the CPLD's registers: start word, status read, byte, status read, ..., stop trigger.
    ASSERT_GE(bus.log.size(), 5u);
    EXPECT_THAT(std::vector<std::string>(bus.log.begin(), bus.log.begin() + 4),
                ElementsAre("W 50/1 5a 00", "R 50/1 x4", "W 54/1 86 00", "R 50/1 x4"));
    EXPECT_EQ("W 5c/1 null", bus.log.back());
    EXPECT_EQ(0u, rhxtest::pauseCount(100));
}

TEST_F(CpldBridge, MultiByteRegisterAddressGoesOutLeastSignificantByteFirst) {
    unsigned char data[1] = {0x77};
    EXPECT_EQ(0, cpld.writeI2C(0x1234, 2, data, 1));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "byte 34", "byte 12", "byte 77", "stop"));
}

TEST_F(CpldBridge, SlaveThatNeverAcknowledgesFailsAtTheFirstStartWithoutRetryOrStop) {
    slave.startStatus = {0x000};
    unsigned char data[2] = {1, 2};
    EXPECT_EQ(-1, cpld.writeI2C(0x86, 1, data, 2));
    EXPECT_THAT(slave.events, ElementsAre("start 5a"));
    EXPECT_EQ(0u, rhxtest::pauseCount(100));
    EXPECT_EQ(0u, rhxtest::pauseCount(10));
}

TEST_F(CpldBridge, BusHeldByAnotherMasterIsRetriedTenTimesThenBusy) {
    slave.startStatus.assign(20, 0x400);
    unsigned char data[1] = {0};
    EXPECT_EQ(-100, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_EQ(10u, slave.count("start 5a"));
    EXPECT_EQ(10u, slave.count("stop"));  // every busy start is released
    EXPECT_EQ(9u, rhxtest::pauseCount(10));
    EXPECT_EQ(0u, slave.count("byte 10"));
}

TEST_F(CpldBridge, BusFreedAfterTwoBusyStartsCarriesOn) {
    slave.startStatus = {0x400, 0x400, 0x100};
    unsigned char data[1] = {0x42};
    EXPECT_EQ(0, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "stop", "start 5a", "stop", "start 5a",
                                          "byte 10", "byte 42", "stop"));
    EXPECT_EQ(2u, rhxtest::pauseCount(10));
}

TEST_F(CpldBridge, UnconfirmedByteRepeatsTheWholeTransferAfterBackOff) {
    slave.byteStatus = {0x100, 0x900};  // second byte of the first attempt not taken
    unsigned char data[1] = {0x42};
    EXPECT_EQ(0, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "byte 10", "byte 42", "stop", "start 5a",
                                          "byte 10", "byte 42", "stop"));
    EXPECT_EQ(1u, rhxtest::pauseCount(100));
}

TEST_F(CpldBridge, ByteNeverConfirmedGivesUpAfterThirtyAttempts) {
    slave.byteStatus.assign(100, 0x900);
    unsigned char data[2] = {1, 2};
    EXPECT_EQ(-1, cpld.writeI2C(0x10, 1, data, 2));
    EXPECT_EQ(30u, slave.count("start 5a"));
    EXPECT_EQ(30u, slave.count("stop"));
    EXPECT_EQ(30u, slave.count("byte 10"));  // each attempt stops at the first failed byte
    EXPECT_EQ(29u, rhxtest::pauseCount(100));
}

TEST_F(CpldBridge, RejectsBadArgumentsWithoutTraffic) {
    unsigned char buffer[4] = {};
    EXPECT_EQ(-11, cpld.readI2C(buffer, 0, 0, 0));
    EXPECT_EQ(-11, cpld.readI2C(buffer, 4, 0, 9));
    EXPECT_EQ(-11, cpld.writeI2C(0, 9, buffer, 1));
    EXPECT_EQ(-11, cpld.writeI2C(0, 1, nullptr, 1));
    EXPECT_TRUE(bus.log.empty());
}

struct ReadSplit {
    unsigned length;
    std::vector<std::string> events;
};

class CpldBridgeRead : public CpldBridge, public ::testing::WithParamInterface<ReadSplit> {};

TEST_P(CpldBridgeRead, SplitsIntoWordsBytesAndOneFinalByteInWireOrder) {
    const ReadSplit& split = GetParam();
    for (unsigned i = 0; i < split.length; ++i) slave.incoming.push_back(0x10 + i);
    std::vector<unsigned char> buffer(split.length, 0);
    EXPECT_EQ(0, cpld.readI2C(buffer.data(), split.length, 0, 0));
    EXPECT_THAT(slave.events, ElementsAreArray(split.events));
    for (unsigned i = 0; i < split.length; ++i) EXPECT_EQ(0x10 + i, buffer[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, CpldBridgeRead,
    ::testing::Values(
        ReadSplit{1, {"start 5b", "final", "stop"}},
        ReadSplit{2, {"start 5b", "read1", "final", "stop"}},
        ReadSplit{4, {"start 5b", "read1", "read1", "read1", "final", "stop"}},
        ReadSplit{5, {"start 5b", "read4", "final", "stop"}},
        ReadSplit{8, {"start 5b", "read4", "read1", "read1", "read1", "final", "stop"}}));

TEST_F(CpldBridge, ReadWithRegisterAddressWritesTheAddressFirst) {
    slave.incoming = {0xAB, 0xCD};
    unsigned char buffer[2] = {};
    EXPECT_EQ(0, cpld.readI2C(buffer, 2, 0x40, 1));
    EXPECT_THAT(slave.events,
                ElementsAre("start 5a", "byte 40", "stop", "start 5b", "read1", "final", "stop"));
    EXPECT_EQ(0xAB, buffer[0]);
    EXPECT_EQ(0xCD, buffer[1]);
}

TEST_F(CpldBridge, FailedReceiveEndsTheReadButStillStops) {
    slave.receiveStatus = -7;
    unsigned char buffer[8] = {};
    EXPECT_EQ(-7, cpld.readI2C(buffer, 8, 0, 0));
    EXPECT_THAT(slave.events, ElementsAre("start 5b", "read4", "stop"));
}

TEST_F(CpldBridge, UnacknowledgedReadStartIsNotStopped) {
    slave.startStatus = {0x000};
    unsigned char buffer[2] = {};
    EXPECT_EQ(-1, cpld.readI2C(buffer, 2, 0, 0));
    EXPECT_THAT(slave.events, ElementsAre("start 5b"));
}

TEST(CpldBridgeSizes, ReportsByteGranularityAndFourByteAccessButNoRegisterWidth) {
    C_rhxI2CCPLD cpld;
    unsigned size = 0;
    EXPECT_EQ(0, cpld.getI2CDataBlockSize(&size));
    EXPECT_EQ(1u, size);
    EXPECT_EQ(0, cpld.getI2CDataAccessSize(&size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(-5, cpld.getI2CRegisterAdrSize(&size));
    EXPECT_EQ(-11, cpld.getI2CDataBlockSize(nullptr));
}

}  // namespace
