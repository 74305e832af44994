// A Linux I2C adapter of the rig: I2C_RDWR transactions routed to the devices on its bus.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "sim/driver/I2cAdapter.h"
#include "support/I2cMemorySlave.h"

namespace {

using qrtsim::I2cAdapter;
using ::testing::ElementsAre;

class I2cAdapterTest : public ::testing::Test {
  protected:
    I2cAdapterTest() : adapter(3, bus, [this](const std::string& line) { trace.push_back(line); }) {
        bus.attach(0x50, &memory);
    }

    static I2cAdapter::Message write(uint16_t address, std::vector<uint8_t> data) {
        return {address, 0, std::move(data)};
    }
    static I2cAdapter::Message read(uint16_t address, size_t length) {
        return {address, I2cAdapter::kFlagRead, std::vector<uint8_t>(length)};
    }

    qrtsim::I2cBus bus;
    qrttest::I2cMemorySlave memory;
    std::vector<std::string> trace;
    I2cAdapter adapter;
};

TEST_F(I2cAdapterTest, CombinedTransactionWritesThePointerThenReadsBehindARepeatedStart) {
    memory.memory[0x10] = 0xDE;
    memory.memory[0x11] = 0xAD;
    std::vector<I2cAdapter::Message> messages = {write(0x50, {0x10}), read(0x50, 2)};
    EXPECT_EQ(2, adapter.transfer(messages));
    EXPECT_THAT(messages[1].data, ElementsAre(0xDE, 0xAD));
    EXPECT_EQ(2u, memory.starts);
    EXPECT_EQ(1u, memory.stops);  // one stop for the whole transaction
    EXPECT_THAT(trace, ElementsAre("i2c-3 write addr=0x50 10 -> ack",
                                   "i2c-3 read addr=0x50 len=2 -> de ad"));
}

TEST_F(I2cAdapterTest, SeveralWritesLandInOrder) {
    std::vector<I2cAdapter::Message> messages = {write(0x50, {0x20, 1, 2}), write(0x50, {0x22, 3}),
                                                 write(0x50, {0x20}), read(0x50, 3)};
    EXPECT_EQ(4, adapter.transfer(messages));
    EXPECT_THAT(messages[3].data, ElementsAre(1, 2, 3));
}

TEST_F(I2cAdapterTest, AnAbsentAddressIsNotAcknowledgedAndEndsTheTransaction) {
    std::vector<I2cAdapter::Message> messages = {write(0x51, {0x00}), write(0x50, {0x30, 9})};
    EXPECT_EQ(-ENXIO, adapter.transfer(messages));
    EXPECT_EQ(0, memory.memory[0x30]);  // the second message never went out
    EXPECT_EQ(0u, memory.starts);
    EXPECT_THAT(trace, ElementsAre("i2c-3 write addr=0x51 00 -> nack"));

    trace.clear();
    messages = {write(0x50, {0x30, 9}), read(0x52, 1)};
    EXPECT_EQ(-ENXIO, adapter.transfer(messages));
    EXPECT_EQ(9, memory.memory[0x30]);
    EXPECT_THAT(trace, ElementsAre("i2c-3 write addr=0x50 30 09 -> ack",
                                   "i2c-3 read addr=0x52 len=1 -> nack"));
}

TEST_F(I2cAdapterTest, MalformedTransfersAreRejectedBeforeAnythingIsSent) {
    std::vector<I2cAdapter::Message> none;
    EXPECT_EQ(-EINVAL, adapter.transfer(none));
    std::vector<I2cAdapter::Message> tooMany(I2cAdapter::kMaxMessages + 1, write(0x50, {0}));
    EXPECT_EQ(-EINVAL, adapter.transfer(tooMany));
    std::vector<I2cAdapter::Message> wide = {write(0xA0, {0})};  // not a 7-bit address
    EXPECT_EQ(-EINVAL, adapter.transfer(wide));
    std::vector<I2cAdapter::Message> tenBit = {{0x50, I2cAdapter::kFlagTenBit, {0}}};
    EXPECT_EQ(-EOPNOTSUPP, adapter.transfer(tenBit));
    std::vector<I2cAdapter::Message> huge = {write(0x50, std::vector<uint8_t>(8193))};
    EXPECT_EQ(-EINVAL, adapter.transfer(huge));
    EXPECT_EQ(0u, memory.starts);
}

}  // namespace
