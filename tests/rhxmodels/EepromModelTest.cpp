// The AT24C02D model on its own: how a page write wraps, and the state dumps of the models.

#include <gtest/gtest.h>

#include "rhxmodels/WireHelpers.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/RhxCpld.h"
#include "sim/chips/RhxMcu.h"
#include "support/ChipClocks.h"

namespace {

using qrtsim::At24c02d;
using Bytes = std::vector<uint8_t>;

class EepromModel : public ::testing::Test {
  protected:
    qrttest::ManualClock clock;
    qrtsim::I2cBus bus;
    At24c02d eeprom;
    void SetUp() override {
        bus.attach(At24c02d::kAddress, &eeprom);
        eeprom.setClock(clock);
    }
    Bytes readAt(uint8_t address, size_t n) {
        qrttest::i2cWrite(bus, At24c02d::kAddress, {address});
        return qrttest::i2cRead(bus, At24c02d::kAddress, n);
    }
};

TEST_F(EepromModel, WriteAcrossAPageEndWrapsToThePageStart) {
    EXPECT_EQ(qrttest::i2cWrite(bus, At24c02d::kAddress, {0x05, 1, 2, 3, 4, 5, 6, 7, 8}), 9);
    auto m = eeprom.contents();
    EXPECT_EQ((Bytes{m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7]}),
              (Bytes{4, 5, 6, 7, 8, 1, 2, 3}));
    EXPECT_EQ(m[8], 0xFF) << "the next page is untouched";
    // Programming takes 5 ms, during which the device does not answer.
    EXPECT_EQ(qrttest::i2cWrite(bus, At24c02d::kAddress, {0x10}), -1);
    clock.advanceMs(5);
    // Ten bytes into one page: the first two are overwritten by the last two.
    qrttest::i2cWrite(bus, At24c02d::kAddress, {0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    clock.advanceMs(5);
    EXPECT_EQ(readAt(0x10, 8), (Bytes{8, 9, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(eeprom.pageWrites().size(), 2u);
    EXPECT_EQ(eeprom.pageWrites()[0].address, 0x05);
    EXPECT_EQ(eeprom.violations().toJson(),
              (nlohmann::json{{"write-past-page-end", 2}, {"address-during-write-cycle", 1}}));
}

TEST_F(EepromModel, AWriteBrokenOffByARepeatedStartProgramsNothing) {
    ASSERT_TRUE(bus.start(At24c02d::kAddress, false));
    bus.writeByte(0x30);
    bus.writeByte(0x77);
    ASSERT_TRUE(bus.start(At24c02d::kAddress, true));
    bus.stop();
    EXPECT_EQ(eeprom.contents()[0x30], 0xFF);
    EXPECT_TRUE(eeprom.pageWrites().empty());
}

TEST(ModelState, DumpsCarryWhatEachChipHolds) {
    At24c02d eeprom;
    eeprom.load(0x00, {0x00, 0x1B, 0x2C});
    qrtsim::RhxMcu mcu;
    mcu.setPortDevice(1, {2, 10, 20});
    qrtsim::RhxCpld cpld;
    cpld.spiPort().writeBlock(0x1024 / 4, 0xFFFF01AB);  // port 1, address 1, value 0xAB
    nlohmann::json e, m, c;
    eeprom.saveState(e);
    mcu.saveState(m);
    cpld.saveState(c);
    EXPECT_EQ(e["contents"][0].get<std::string>().substr(0, 8), "00 1b 2c");
    EXPECT_EQ(m["ports"][1]["powered"], true);
    EXPECT_EQ(m["pse_registers"]["0x0d"], 0x24);
    EXPECT_EQ(c["ports"][1]["packet"].get<std::string>().substr(0, 4), "00ab");
    EXPECT_FALSE(c.dump().empty());
}

}  // namespace
