// The CPLD's I2C master used as a bus: start and acknowledge handling, confirmed byte writes,
// the transfer retry and the splitting of reads.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// Plays the I2C master block (at 0x50 on a CPLD reached over I2C) and the slave behind it, and
// condenses the register accesses into events: "start 5a", "byte 86", "read1", "final",
// "read4", "stop".
struct BridgeSlave {
    std::vector<std::string> events;
    std::deque<uint32_t> startStatus;    // one per start; default: acknowledged
    std::deque<uint32_t> byteStatus;     // one per byte write; default: confirmed
    std::deque<unsigned char> incoming;  // what the slave sends
    int receiveStatus = 0;
    uint32_t status = 0, received = 0;

    static uint32_t next(std::deque<uint32_t>& q) {
        uint32_t v = q.empty() ? 0x100 : q.front();
        if (!q.empty()) q.pop_front();
        return v;
    }
    uint32_t receive() {
        uint32_t b = incoming.empty() ? 0xEE : incoming.front();
        if (!incoming.empty()) incoming.pop_front();
        return b;
    }
    void attach(rhxtest::FakeI2C& bus) {
        bus.onWrite = [this](unsigned long reg, const unsigned char* data) {
            char text[16];
            if (reg == 0x50 || reg == 0x54) {
                std::snprintf(text, sizeof text, reg == 0x50 ? "start %02x" : "byte %02x", data[0]);
                events.push_back(text);
                status = next(reg == 0x50 ? startStatus : byteStatus);
            } else if (reg == 0x58 || reg == 0x64) {
                events.push_back(reg == 0x58 ? "read1" : "final");
                received = receive();
            } else if (reg == 0x68) {
                events.push_back("read4");  // the first byte on the wire lands in the top byte
                for (int i = 0; i < 4; ++i) received = received << 8 | receive();
            } else if (reg == 0x5C) {
                events.push_back("stop");
            }
            return 0;
        };
        bus.onRead = [this](unsigned long reg, unsigned char* buffer, unsigned length) {
            const uint32_t word = reg == 0x50 ? status : received;
            for (unsigned i = 0; i < length; ++i)
                buffer[i] = static_cast<unsigned char>(word >> 8 * i);
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
    rhxtest::FakeI2C bus;
    BridgeSlave slave;
    C_rhxI2CCPLD cpld;
    unsigned char data[2] = {0x09, 0x00};
};

TEST_F(CpldBridge, WriteSendsAddressRegisterAndDataEachConfirmedByTheStatusWord) {
    EXPECT_EQ(0, cpld.writeI2C(0x1234, 2, data, 2));
    EXPECT_THAT(slave.events,
                ElementsAre("start 5a", "byte 34", "byte 12", "byte 09", "byte 00", "stop"));
    EXPECT_THAT(std::vector<std::string>(bus.log.begin(), bus.log.begin() + 4),
                ElementsAre("W 50/1 5a 00", "R 50/1 x4", "W 54/1 34 00", "R 50/1 x4"));
    EXPECT_EQ("W 5c/1 null", bus.log.back());
}

TEST_F(CpldBridge, SlaveThatNeverAcknowledgesFailsAtTheFirstStartWithoutRetryOrStop) {
    slave.startStatus = {0x000, 0x000};
    EXPECT_EQ(-1, cpld.writeI2C(0x86, 1, data, 2));
    EXPECT_THAT(slave.events, ElementsAre("start 5a"));
    EXPECT_EQ(-1, cpld.readI2C(data, 2, 0, 0));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "start 5b"));
    EXPECT_EQ(0u, rhxtest::pauseCount(100) + rhxtest::pauseCount(10));
}

TEST_F(CpldBridge, BusHeldByAnotherMasterIsReleasedAndRetriedTenTimesThenBusy) {
    slave.startStatus.assign(10, 0x400);
    EXPECT_EQ(-100, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_EQ(10u, slave.count("start 5a"));
    EXPECT_EQ(10u, slave.count("stop"));
    EXPECT_EQ(9u, rhxtest::pauseCount(10));
    EXPECT_EQ(0u, slave.count("byte 10"));

    slave.events.clear();
    slave.startStatus = {0x400, 0x100};
    EXPECT_EQ(0, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_THAT(slave.events,
                ElementsAre("start 5a", "stop", "start 5a", "byte 10", "byte 09", "stop"));
}

TEST_F(CpldBridge, UnconfirmedByteRepeatsTheTransferAfterBackOffUpToThirtyTimes) {
    slave.byteStatus = {0x100, 0x900};
    EXPECT_EQ(0, cpld.writeI2C(0x10, 1, data, 1));
    EXPECT_THAT(slave.events, ElementsAre("start 5a", "byte 10", "byte 09", "stop", "start 5a",
                                          "byte 10", "byte 09", "stop"));
    EXPECT_EQ(1u, rhxtest::pauseCount(100));

    slave.events.clear();
    slave.byteStatus.assign(100, 0x900);
    EXPECT_EQ(-1, cpld.writeI2C(0x10, 1, data, 2));
    EXPECT_EQ(30u, slave.count("start 5a"));
    EXPECT_EQ(30u, slave.count("stop"));
    EXPECT_EQ(90u, slave.events.size());  // each attempt ends at its first byte
    EXPECT_EQ(1u + 29u, rhxtest::pauseCount(100));
}

TEST_F(CpldBridge, BadArgumentsAreRefusedWithoutTraffic) {
    EXPECT_EQ(-11, cpld.readI2C(data, 0, 0, 0));
    EXPECT_EQ(-11, cpld.readI2C(data, 2, 0, 9));
    EXPECT_EQ(-11, cpld.writeI2C(0, 9, data, 1));
    EXPECT_EQ(-11, cpld.writeI2C(0, 1, nullptr, 1));
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(CpldBridge, ReadsSplitIntoWordsBytesAndOneFinalByteInWireOrder) {
    const std::map<unsigned, std::vector<std::string>> splits = {
        {1, {"final"}},
        {2, {"read1", "final"}},
        {4, {"read1", "read1", "read1", "final"}},
        {5, {"read4", "final"}},
        {8, {"read4", "read1", "read1", "read1", "final"}}};
    for (const auto& split : splits) {
        slave.events.clear();
        std::vector<unsigned char> buffer(split.first, 0);
        for (unsigned i = 0; i < split.first; ++i) slave.incoming.push_back(0x10 + i);
        EXPECT_EQ(0, cpld.readI2C(buffer.data(), split.first, 0, 0));
        std::vector<std::string> expected = {"start 5b"};
        expected.insert(expected.end(), split.second.begin(), split.second.end());
        expected.push_back("stop");
        EXPECT_THAT(slave.events, ElementsAreArray(expected)) << "length " << split.first;
        for (unsigned i = 0; i < split.first; ++i) EXPECT_EQ(0x10 + i, buffer[i]);
    }
}

TEST_F(CpldBridge, ReadWithRegisterAddressWritesTheAddressFirst) {
    slave.incoming = {0xAB, 0xCD};
    EXPECT_EQ(0, cpld.readI2C(data, 2, 0x40, 1));
    EXPECT_THAT(slave.events,
                ElementsAre("start 5a", "byte 40", "stop", "start 5b", "read1", "final", "stop"));
    EXPECT_EQ(0xCD, data[1]);
}

TEST_F(CpldBridge, FailedReceiveEndsTheReadButStillStops) {
    slave.receiveStatus = -7;
    unsigned char buffer[8];
    EXPECT_EQ(-7, cpld.readI2C(buffer, 8, 0, 0));
    EXPECT_THAT(slave.events, ElementsAre("start 5b", "read4", "stop"));
}

}  // namespace
