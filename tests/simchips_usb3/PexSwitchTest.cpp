// The PLX switch model seen from its registers, as the kit's driver reaches it.

#include <gtest/gtest.h>

#include <vector>

#include "sim/chips/PexSwitch.h"
#include "support/ChipClocks.h"

namespace {

using qrtsim::PexChipLayout;
using qrtsim::PexSwitch;

constexpr uint64_t kControl = PexSwitch::kSerialControl;
constexpr uint64_t kData = PexSwitch::kSerialData;
constexpr uint32_t kBusy = 1u << 18;

// Records what reaches the serial port and answers reads with a word derived from the block.
struct RecordingDevice : qrtsim::SerialPortDevice {
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    std::vector<uint32_t> reads;
    void writeBlock(uint32_t block, uint32_t word) override { writes.emplace_back(block, word); }
    uint32_t readBlock(uint32_t block) override {
        reads.push_back(block);
        return 0xA5000000u | block;
    }
};

// Expected bit layout of each chip, written out independently of the model's table.
struct Layout {
    const PexChipLayout& (*chip)();
    uint16_t device;
    unsigned pins;
    uint64_t direction, input, output;
    unsigned (*directionBit)(unsigned pin);
    uint32_t writeBits, readBits;
};

const Layout kLayouts[] = {
    {&PexSwitch::pex8608, 0x8608, 16, 0x62C, 0x63C, 0x644, [](unsigned i) { return 2 * i + 1; },
     0x00004000, 0x00006000},
    {&PexSwitch::pex8718, 0x8718, 6, 0x600, 0x61C, 0x624, [](unsigned i) { return 3 * i + 2; },
     0x00A04000, 0x00A06000},
};

class PexLayoutTest : public ::testing::TestWithParam<Layout> {
  protected:
    void SetUp() override { sw.setClock(clock); }
    qrttest::ManualClock clock;
    PexSwitch sw{GetParam().chip()};
};

TEST_P(PexLayoutTest, OnlyTheDirectionBitOfEachFieldMakesAPinAnOutput) {
    const Layout& l = GetParam();
    for (unsigned pin = 0; pin < l.pins; ++pin) {
        // Every other bit of the register set: the pin must stay an input.
        sw.writeRegister32(l.direction, ~(1u << l.directionBit(pin)));
        EXPECT_FALSE(sw.pinIsOutput(pin)) << "pin " << pin;
        sw.writeRegister32(l.direction, 1u << l.directionBit(pin));
        EXPECT_TRUE(sw.pinIsOutput(pin)) << "pin " << pin;
        for (unsigned other = 0; other < l.pins; ++other) {
            if (other != pin) {
                EXPECT_FALSE(sw.pinIsOutput(other)) << pin << "/" << other;
            }
        }
    }
}

TEST_P(PexLayoutTest, DirectionWritesMustCarryBackTheOtherBitsAsTheBoardSetThem) {
    const Layout& l = GetParam();
    sw.setPowerOnDirection(0xFFFFFFFF);
    uint32_t others = sw.readRegister32(l.direction);
    EXPECT_EQ(others & (1u << l.directionBit(0)), 0u) << "every pin starts as an input";
    sw.writeRegister32(l.direction, others | (1u << l.directionBit(0)));
    EXPECT_EQ(sw.violations().total(), 0u);
    EXPECT_TRUE(sw.pinIsOutput(0));
    sw.writeRegister32(l.direction, 1u << l.directionBit(0));  // written without reading first
    EXPECT_EQ(sw.violations().of("preserved-bits-changed"), 1u);
}

TEST_P(PexLayoutTest, InputPinsReadTheirStrapAndOutputPinsWhatIsDriven) {
    const Layout& l = GetParam();
    // Pin 0 output driven high, pin 1 output driven low, pin 2 input strapped high,
    // pin 3 input strapped low although the output register has its bit set.
    sw.writeRegister32(l.direction, (1u << l.directionBit(0)) | (1u << l.directionBit(1)));
    sw.writeRegister32(l.output, 0b1001);
    sw.setStrap(1, true);
    sw.setStrap(2, true);
    sw.setStrap(3, false);
    EXPECT_EQ(sw.readRegister32(l.input), 0b0101u);
    EXPECT_TRUE(sw.pinLevel(0));
    EXPECT_FALSE(sw.pinLevel(1));
    EXPECT_TRUE(sw.pinLevel(2));
    EXPECT_FALSE(sw.pinLevel(3));

    // The input register is read-only; the output register holds only existing pins.
    sw.writeRegister32(l.input, 0xFFFFFFFF);
    EXPECT_EQ(sw.readRegister32(l.input), 0b0101u);
    sw.writeRegister32(l.output, 0xFFFFFFFF);
    EXPECT_EQ(sw.readRegister32(l.output), (1u << l.pins) - 1);
}

TEST_P(PexLayoutTest, SerialWriteHandsTheDataWordToTheDeviceAtTheBlockIndex) {
    RecordingDevice device;
    sw.attachSerialDevice(&device);
    sw.setSerialBusyPolls(0);
    sw.writeRegister32(kData, 0x12345678);
    sw.writeRegister32(kControl, 0x1FFF | GetParam().writeBits);
    sw.writeRegister32(kData, 0x0BADF00D);
    sw.writeRegister32(kControl, 0x0404 | GetParam().writeBits);
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(device.writes[0], std::make_pair(0x1FFFu, 0x12345678u));
    EXPECT_EQ(device.writes[1], std::make_pair(0x0404u, 0x0BADF00Du));
    EXPECT_TRUE(device.reads.empty());
}

TEST_P(PexLayoutTest, SerialReadWordSettlesOneMillisecondAfterBusyDrops) {
    RecordingDevice device;
    sw.attachSerialDevice(&device);
    sw.setSerialBusyPolls(3);
    sw.writeRegister32(kData, 0x11111111);
    sw.writeRegister32(kControl, 0x0430 | GetParam().readBits);
    ASSERT_EQ(device.reads, std::vector<uint32_t>{0x0430});
    for (int poll = 0; poll < 3; ++poll) {
        EXPECT_EQ(sw.readRegister32(kData), 0x11111111u) << "result visible too early";
        uint32_t control = sw.readRegister32(kControl);
        EXPECT_TRUE(control & kBusy) << "poll " << poll;
        EXPECT_EQ(control & ~kBusy, 0x0430 | GetParam().readBits);
    }
    EXPECT_FALSE(sw.readRegister32(kControl) & kBusy);
    EXPECT_EQ(sw.readRegister32(kData), 0x11111111u) << "result visible before it settled";
    clock.advanceMs(1);
    EXPECT_EQ(sw.readRegister32(kData), 0xA5000430u);
    EXPECT_EQ(sw.violations().of("data-read-while-busy"), 3u);
    EXPECT_EQ(sw.violations().of("data-read-too-early"), 1u);
}

TEST_P(PexLayoutTest, CommandIssuedWhileBusyIsLost) {
    RecordingDevice device;
    sw.attachSerialDevice(&device);
    sw.setSerialBusyPolls(2);
    sw.writeRegister32(kData, 1);
    sw.writeRegister32(kControl, 5 | GetParam().writeBits);
    sw.writeRegister32(kData, 2);  // lost: the port is busy
    sw.writeRegister32(kControl, 6 | GetParam().writeBits);
    EXPECT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(sw.serialCounters().whileBusy, 1u);
    EXPECT_EQ(sw.serialCounters().dataWritesBusy, 1u);
    sw.readRegister32(kControl);
    sw.readRegister32(kControl);
    EXPECT_FALSE(sw.serialBusy());
    sw.writeRegister32(kControl, 6 | GetParam().writeBits);
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(device.writes[1], std::make_pair(6u, 1u));
    EXPECT_EQ(sw.violations().total(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Chips, PexLayoutTest, ::testing::ValuesIn(kLayouts), [](const auto& info) {
    return "Pex" + std::to_string(info.param.device == 0x8608 ? 8608 : 8718);
});

// Each chip executes only its own command words: the 8718 needs its addressing bits, and the
// 8608 does not know them.
TEST(PexSerialCommands, CommandWordsOfTheOtherChipAreNotExecuted) {
    RecordingDevice device;
    PexSwitch pex8718(PexSwitch::pex8718());
    pex8718.attachSerialDevice(&device);
    pex8718.setSerialBusyPolls(0);
    pex8718.writeRegister32(kControl, 0x0001 | 0x00004000);
    pex8718.writeRegister32(kControl, 0x0001 | 0x00006000);
    PexSwitch pex8608(PexSwitch::pex8608());
    pex8608.attachSerialDevice(&device);
    pex8608.setSerialBusyPolls(0);
    pex8608.writeRegister32(kControl, 0x0001 | 0x00A04000);
    pex8608.writeRegister32(kControl, 0x0001 | 0x00A06000);
    EXPECT_TRUE(device.writes.empty());
    EXPECT_TRUE(device.reads.empty());
    EXPECT_EQ(pex8718.serialCounters().rejected, 2u);
    EXPECT_EQ(pex8608.serialCounters().rejected, 2u);
}

}  // namespace
