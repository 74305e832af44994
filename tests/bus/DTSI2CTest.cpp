// The Linux I2C adapter bus object against virtual adapters: one message per I2C_RDWR call,
// register addresses least significant byte first, the 32-byte limits, the slave address, and
// the retry policy (11 attempts, 30 ms apart) of a device that does not answer.

#include <gtest/gtest.h>

#include <linux/i2c.h>

#include <memory>

#include "QRT_Types.h"
#include "bus/VirtualI2cAdapters.h"
#include "core/bus/C_nkDTSI2C.h"
#include "core/bus/C_nkI2CFactory.h"
#include "support/PauseRecorder.h"

namespace {

using qrttest::PauseRecorder;
using qrttest::VirtualI2cAdapters;
using Bytes = std::vector<uint8_t>;

// A device whose first two written bytes set its register pointer, least significant first;
// further bytes are stored from there, and reads return bytes from there.
class TwoByteAddressedDevice : public qrtsim::I2cSlave {
  public:
    bool start(bool) override { return received = 0, true; }
    bool writeByte(uint8_t byte) override {
        if (received < 2)
            pointer = received == 0 ? byte : pointer | byte << 8;
        else
            registers[pointer++ & 0xFFFF] = byte;
        return ++received, true;
    }
    uint8_t readByte(bool) override { return registers[pointer++ & 0xFFFF]; }
    void stop() override {}

    unsigned received = 0;
    uint32_t pointer = 0;
    uint8_t registers[0x10000] = {};
};

constexpr uint8_t kDevice = 0x2D;
constexpr uint64_t kRetryPause = 30000;
constexpr uint64_t kAddressPause = 10000;

struct DTSI2C : ::testing::Test {
    void SetUp() override {
        VirtualI2cAdapters::adapters().clear();
        adapter = &VirtualI2cAdapters::adapters()[3];
        adapter->bus.attach(kDevice, device.get());
        ASSERT_EQ(bus->initial(3), QRT_SUCCESS);
        ASSERT_EQ(bus->setI2CSlave(kDevice), QRT_SUCCESS);
        PauseRecorder::clear();
    }
    std::unique_ptr<TwoByteAddressedDevice> device{new TwoByteAddressedDevice()};
    std::unique_ptr<C_nkDTSI2C> bus{new C_nkDTSI2C()};
    qrttest::VirtualAdapter* adapter = nullptr;
    unsigned char data[33] = {0xA1, 0xB2, 0xC3};
};

TEST_F(DTSI2C, AWriteIsOneMessageWithTheAddressLeastSignificantByteFirst) {
    ASSERT_EQ(bus->writeI2C(0x1234, 2, data, 3), QRT_SUCCESS);
    ASSERT_EQ(adapter->messages.size(), 1u);
    EXPECT_EQ(adapter->messages[0].address, kDevice);
    EXPECT_EQ(adapter->messages[0].flags, 0);
    EXPECT_EQ(adapter->messages[0].data, (Bytes{0x34, 0x12, 0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(device->registers[0x1236], 0xC3);
    EXPECT_EQ(adapter->otherIoctls, 0);  // no I2C_SLAVE, only I2C_RDWR
    EXPECT_TRUE(PauseRecorder::taken().empty());
}

TEST_F(DTSI2C, TransfersStayWithinThirtyTwoBytes) {
    EXPECT_EQ(bus->writeI2C(0x10, 1, data, 31), QRT_SUCCESS);
    EXPECT_EQ(bus->writeI2C(0x10, 1, data, 32), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->writeI2C(0x10, 0, data, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(data, 0, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(data, 33, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(data, 1, 0, 33), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(adapter->rdwrCalls, 1);
    // Address bytes beyond the 64-bit argument go out as zero.
    ASSERT_EQ(bus->writeI2C(0x0807060504030201, 10, data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0xA1}));
}

TEST_F(DTSI2C, ARegisterReadIsAnAddressWriteAPauseAndASeparateReadMessage) {
    device->registers[0x0102] = 0x5A;
    device->registers[0x0103] = 0xA5;
    unsigned char buf[2] = {};
    ASSERT_EQ(bus->readI2C(buf, 2, 0x0102, 2), QRT_SUCCESS);
    EXPECT_EQ(buf[0] | buf[1] << 8, 0xA55A);
    ASSERT_EQ(adapter->rdwrCalls, 2);
    EXPECT_EQ(adapter->messages[0].data, (Bytes{0x02, 0x01}));
    EXPECT_EQ(adapter->messages[1].flags, I2C_M_RD);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{kAddressPause});

    // Without a register address the read goes out at once.
    PauseRecorder::clear();
    ASSERT_EQ(bus->readI2C(buf, 1, 0xFFFF, 0), QRT_SUCCESS);
    EXPECT_EQ(adapter->rdwrCalls, 3);
    EXPECT_TRUE(PauseRecorder::taken().empty());
}

TEST_F(DTSI2C, TheSlaveAddressIsOneByteAndARefusedOneKeepsThePrevious) {
    EXPECT_EQ(bus->setI2CSlave(0x1A3), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(bus->writeI2C(0, 1, data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().address, kDevice);
    ASSERT_EQ(bus->setI2CSlave(0xA0), QRT_SUCCESS);
    bus->writeI2C(0, 1, data, 1);
    EXPECT_EQ(adapter->messages.back().address, 0xA0);
}

TEST_F(DTSI2C, ADeviceThatNeverAnswersFailsAfterElevenAttemptsThirtyMillisecondsApart) {
    ASSERT_EQ(bus->setI2CSlave(0x51), QRT_SUCCESS);  // nobody there
    EXPECT_EQ(bus->writeI2C(0x00, 1, data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->rdwrCalls, 11);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>(11, kRetryPause));
    // A register read gives up after its address write: no pause, no read message.
    adapter->messages.clear();
    EXPECT_EQ(bus->readI2C(data, 1, 0x00, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->messages.size(), 11u);
    for (const auto& m : adapter->messages) EXPECT_EQ(m.flags, 0);
}

TEST_F(DTSI2C, LateAnswersAreRetriedButAPartialTransferIsNot) {
    adapter->refuseNext = 3;
    ASSERT_EQ(bus->writeI2C(0x0010, 2, data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->rdwrCalls, 4);
    EXPECT_EQ(device->registers[0x0010], 0xA1);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 3u);

    adapter->forcedResult = 0;
    EXPECT_EQ(bus->writeI2C(0, 1, data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->rdwrCalls, 5);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 4u);
}

TEST_F(DTSI2C, DescriptorsAreClosedOnReinitialAndDestruction) {
    EXPECT_EQ(bus->getI2CRegisterAdrSize(nullptr), QRT_ERR_NOT_SUPPORTED);
    VirtualI2cAdapters::adapters()[4];
    ASSERT_EQ(bus->initial(4), QRT_SUCCESS);
    EXPECT_EQ(VirtualI2cAdapters::openDescriptors().size(), 1u);
    bus.reset();
    EXPECT_TRUE(VirtualI2cAdapters::openDescriptors().empty());
    C_nkDTSI2C neverBound;
    EXPECT_EQ(neverBound.writeI2C(0, 1, data, 1), QRT_ERR_NOT_INITIALIZED);
}

TEST_F(DTSI2C, DataMovesInBytesAndTheAdapterTellsNoCommandSize) {
    unsigned size = 77;
    EXPECT_EQ(bus->getI2CDataBlockSize(&size), QRT_SUCCESS);
    EXPECT_EQ(size, 1u);
    size = 77;
    EXPECT_EQ(bus->getI2CDataAccessSize(&size), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(size, 77u);
}

TEST_F(DTSI2C, TheFactoryHandsOutABusEvenWithoutDeviceNode) {
    C_nkI2CFactory factory;
    I_nkI2C* missing = factory.create(9);
    ASSERT_NE(missing, nullptr);
    ASSERT_EQ(missing->setI2CSlave(kDevice), QRT_SUCCESS);
    EXPECT_EQ(missing->writeI2C(0, 1, data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 11u);
    ASSERT_NE(factory.create(3), nullptr);
    EXPECT_EQ(VirtualI2cAdapters::openDescriptors().size(), 2u);  // this one and the fixture's
}

}  // namespace
