// The Linux I2C adapter bus object against virtual adapters: one message per I2C_RDWR call,
// register addresses least significant byte first, the 32-byte limits, the slave address, and
// the retry policy (11 attempts, 30 ms apart) of a device that does not answer.

#include <gtest/gtest.h>

#include <linux/i2c.h>

#include <memory>
#include <vector>

#include "QRT_Types.h"
#include "bus/VirtualI2cAdapters.h"
#include "core/bus/C_nkDTSI2C.h"
#include "core/bus/C_nkI2CFactory.h"
#include "sim/chips/I2cSlave.h"
#include "support/PauseRecorder.h"

namespace {

using qrttest::PauseRecorder;
using qrttest::VirtualAdapter;
using qrttest::VirtualI2cAdapters;
using Bytes = std::vector<uint8_t>;

// A register-file device: the first `addressBytes` bytes of a write set its register pointer,
// least significant first; further bytes are stored there; a read returns bytes from it.
class RegisterFileSlave : public qrtsim::I2cSlave {
  public:
    explicit RegisterFileSlave(unsigned addressBytes) : m_addressBytes(addressBytes) {}

    bool start(bool) override {
        m_received = 0;
        return true;
    }
    bool writeByte(uint8_t byte) override {
        if (m_received < m_addressBytes) {
            if (m_received == 0) pointer = 0;
            pointer |= static_cast<uint32_t>(byte) << (8 * m_received);
        } else {
            registers[pointer++ & 0xFFFF] = byte;
        }
        ++m_received;
        return true;
    }
    uint8_t readByte(bool) override { return registers[pointer++ & 0xFFFF]; }
    void stop() override {}

    uint32_t pointer = 0;
    uint8_t registers[0x10000] = {};

  private:
    unsigned m_addressBytes;
    unsigned m_received = 0;
};

constexpr unsigned kAdapter = 3;
constexpr uint8_t kDevice = 0x2D;
constexpr uint64_t kRetryPause = 30000;
constexpr uint64_t kAddressPause = 10000;

class DTSI2C : public ::testing::Test {
  protected:
    void SetUp() override {
        VirtualI2cAdapters::instance().clear();
        adapter = &VirtualI2cAdapters::instance().add(kAdapter);
        slave.reset(new RegisterFileSlave(2));
        adapter->bus.attach(kDevice, slave.get());
        bus.reset(new C_nkDTSI2C());
        ASSERT_EQ(bus->initial(kAdapter), QRT_SUCCESS);
        ASSERT_EQ(bus->setI2CSlave(kDevice), QRT_SUCCESS);
        PauseRecorder::clear();
    }
    void TearDown() override {
        bus.reset();
        VirtualI2cAdapters::instance().clear();
    }

    VirtualAdapter* adapter = nullptr;
    std::unique_ptr<RegisterFileSlave> slave;
    std::unique_ptr<C_nkDTSI2C> bus;
};

TEST_F(DTSI2C, AWriteIsOneMessageWithTheAddressLeastSignificantByteFirst) {
    unsigned char data[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(bus->writeI2C(0x1234, 2, data, 3), QRT_SUCCESS);
    ASSERT_EQ(adapter->rdwrCalls, 1);
    ASSERT_EQ(adapter->messages.size(), 1u);
    EXPECT_EQ(adapter->messages[0].address, kDevice);
    EXPECT_EQ(adapter->messages[0].flags, 0);
    EXPECT_EQ(adapter->messages[0].data, (Bytes{0x34, 0x12, 0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(slave->registers[0x1234], 0xA1);
    EXPECT_EQ(slave->registers[0x1236], 0xC3);
    EXPECT_TRUE(PauseRecorder::taken().empty());
    EXPECT_EQ(adapter->otherIoctls, 0);  // no I2C_SLAVE, nothing but I2C_RDWR
}

TEST_F(DTSI2C, AWriteCarriesAnAddressAndAtMostThirtyTwoBytesInAll) {
    unsigned char data[32] = {};
    EXPECT_EQ(bus->writeI2C(0x10, 1, data, 31), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().data.size(), 32u);
    EXPECT_EQ(bus->writeI2C(0x10, 1, data, 32), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->writeI2C(0x10, 0, data, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->writeI2C(0x10, 33, data, 0), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->writeI2C(0x10, 1, nullptr, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(adapter->rdwrCalls, 1);
    // An address-only write is a valid message.
    EXPECT_EQ(bus->writeI2C(0x10, 1, nullptr, 0), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().data, Bytes{0x10});
}

TEST_F(DTSI2C, ARegisterReadIsAnAddressWriteAPauseAndASeparateReadMessage) {
    slave->registers[0x0102] = 0x5A;
    slave->registers[0x0103] = 0xA5;
    unsigned char buf[2] = {};
    ASSERT_EQ(bus->readI2C(buf, 2, 0x0102, 2), QRT_SUCCESS);
    EXPECT_EQ(buf[0], 0x5A);
    EXPECT_EQ(buf[1], 0xA5);
    ASSERT_EQ(adapter->rdwrCalls, 2);
    EXPECT_EQ(adapter->messages[0].flags, 0);
    EXPECT_EQ(adapter->messages[0].data, (Bytes{0x02, 0x01}));
    EXPECT_EQ(adapter->messages[1].flags, I2C_M_RD);
    EXPECT_EQ(adapter->messages[1].data.size(), 2u);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{kAddressPause});
}

TEST_F(DTSI2C, AReadWithoutRegisterAddressReadsAtOnce) {
    slave->pointer = 0x40;
    slave->registers[0x40] = 0x77;
    unsigned char byte = 0;
    ASSERT_EQ(bus->readI2C(&byte, 1, 0xFFFF, 0), QRT_SUCCESS);
    EXPECT_EQ(byte, 0x77);
    ASSERT_EQ(adapter->messages.size(), 1u);
    EXPECT_EQ(adapter->messages[0].flags, I2C_M_RD);
    EXPECT_TRUE(PauseRecorder::taken().empty());
}

TEST_F(DTSI2C, ReadLengthsAndAddressWidthsBeyondTheLimitsAreRefused) {
    unsigned char buf[33];
    EXPECT_EQ(bus->readI2C(buf, 0, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(buf, 33, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(buf, 1, 0, 33), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(bus->readI2C(nullptr, 1, 0, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(adapter->rdwrCalls, 0);
    EXPECT_EQ(bus->readI2C(buf, 32, 0, 32), QRT_SUCCESS);
    // Address bytes beyond the 64-bit argument go out as zero.
    unsigned char data = 0;
    ASSERT_EQ(bus->writeI2C(0x0807060504030201, 10, &data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0}));
}

TEST_F(DTSI2C, TheSlaveAddressIsOneByteAndARefusedOneKeepsThePrevious) {
    EXPECT_EQ(bus->setI2CSlave(0x1A3), QRT_ERR_INVALID_PARAM);
    unsigned char data = 1;
    ASSERT_EQ(bus->writeI2C(0, 1, &data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->messages.back().address, kDevice);
    ASSERT_EQ(bus->setI2CSlave(0xA0), QRT_SUCCESS);
    bus->writeI2C(0, 1, &data, 1);
    EXPECT_EQ(adapter->messages.back().address, 0xA0);
}

TEST_F(DTSI2C, ADeviceThatNeverAnswersFailsAfterElevenAttemptsThirtyMillisecondsApart) {
    ASSERT_EQ(bus->setI2CSlave(0x51), QRT_SUCCESS);  // nobody there
    unsigned char data = 0;
    EXPECT_EQ(bus->writeI2C(0x00, 1, &data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->rdwrCalls, 11);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 11u);
    EXPECT_EQ(PauseRecorder::taken().size(), 11u);

    // A register read gives up after its address write: no pause, no read message.
    adapter->messages.clear();
    adapter->rdwrCalls = 0;
    PauseRecorder::clear();
    EXPECT_EQ(bus->readI2C(&data, 1, 0x00, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->rdwrCalls, 11);
    for (const auto& m : adapter->messages) EXPECT_EQ(m.flags, 0);
    EXPECT_EQ(PauseRecorder::count(kAddressPause), 0u);
}

TEST_F(DTSI2C, ADeviceThatAnswersLateIsReachedOnARetry) {
    adapter->refuseNext = 3;
    unsigned char data = 0x42;
    ASSERT_EQ(bus->writeI2C(0x0010, 2, &data, 1), QRT_SUCCESS);
    EXPECT_EQ(adapter->rdwrCalls, 4);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 3u);
    EXPECT_EQ(slave->registers[0x0010], 0x42);
}

TEST_F(DTSI2C, AnAdapterReportingAPartialTransferIsNotRetried) {
    adapter->forcedResult = 0;
    unsigned char data = 0;
    EXPECT_EQ(bus->writeI2C(0, 1, &data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(adapter->rdwrCalls, 1);
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{kRetryPause});
}

TEST(DTSI2CLifecycle, ABusNeverInitialisedHasNoAdapter) {
    C_nkDTSI2C bus;
    unsigned char data = 0;
    EXPECT_EQ(bus.writeI2C(0, 1, &data, 1), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(bus.readI2C(&data, 1, 0, 1), QRT_ERR_NOT_INITIALIZED);
    unsigned size = 0;
    EXPECT_EQ(bus.getI2CDataBlockSize(&size), QRT_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(bus.getI2CRegisterAdrSize(&size), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(bus.getI2CDataAccessSize(&size), QRT_ERR_NOT_SUPPORTED);
}

TEST(DTSI2CLifecycle, ReinitialisingClosesThePreviousAdapterAndDestructionClosesTheLast) {
    auto& adapters = VirtualI2cAdapters::instance();
    adapters.clear();
    adapters.add(1);
    adapters.add(2);
    {
        C_nkDTSI2C bus;
        ASSERT_EQ(bus.initial(1), QRT_SUCCESS);
        EXPECT_EQ(adapters.openDescriptors(), 1u);
        ASSERT_EQ(bus.initial(2), QRT_SUCCESS);
        EXPECT_EQ(adapters.openDescriptors(), 1u);
    }
    EXPECT_EQ(adapters.openDescriptors(), 0u);
    adapters.clear();
}

TEST(DTSI2CFactory, AnAdapterWithoutDeviceNodeStillGivesABusWhoseTransfersFail) {
    auto& adapters = VirtualI2cAdapters::instance();
    adapters.clear();
    PauseRecorder::clear();
    C_nkI2CFactory factory;
    I_nkI2C* missing = factory.create(9);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(adapters.openCalls(), 1);
    ASSERT_EQ(missing->setI2CSlave(0x50), QRT_SUCCESS);
    unsigned char data = 0;
    EXPECT_EQ(missing->writeI2C(0, 1, &data, 1), QRT_ERR_FAILED);
    EXPECT_EQ(PauseRecorder::count(kRetryPause), 11u);
}

TEST(DTSI2CFactory, BusesAreOpenUntilTheFactoryGoes) {
    auto& adapters = VirtualI2cAdapters::instance();
    adapters.clear();
    adapters.add(0);
    adapters.add(1);
    {
        C_nkI2CFactory factory;
        I_nkI2C* a = factory.create(0);
        I_nkI2C* b = factory.create(1);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_NE(a, b);
        EXPECT_EQ(adapters.openDescriptors(), 2u);
    }
    EXPECT_EQ(adapters.openDescriptors(), 0u);
    adapters.clear();
}

}  // namespace
