// The CPLD's I2C master used as a bus where its chip model cannot produce the case: a receive
// that fails with the transport's own status. The bridge protocol itself is tested against
// the CPLD model (tests/rhxmodels).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "FakeBuses.h"
#include "core/controllers/cpld/C_rhxI2CCPLD.h"

using ::testing::ElementsAre;

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
};

TEST_F(CpldBridge, FailedReceiveEndsTheReadButStillStops) {
    slave.receiveStatus = -7;
    unsigned char buffer[8];
    EXPECT_EQ(-7, cpld.readI2C(buffer, 8, 0, 0));
    EXPECT_THAT(slave.events, ElementsAre("start 5b", "read4", "stop"));
}

}  // namespace
