// The PoE frame-grabber boards of the rig, built in-process from rig keys: what the EEPROM,
// the switch pins and the CPLD's version registers hold, how the microcontroller books the
// ports, where the CPLD's packets go, and the rig-key errors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/boards/PoeCard.h"
#include "support/ChipClocks.h"

namespace {

using namespace qrtsim;
using ::testing::HasSubstr;

struct FrameLog : FrameSink {
    std::vector<std::vector<uint8_t>> frames;
    void emitFrame(const std::vector<uint8_t>& frame) override { frames.push_back(frame); }
};

// One access of the CPLD's serial face as the kit's transport makes it: the access, then the
// status read that finds the CPLD done with it.
uint32_t spiRead(PoeCard& card, uint32_t reg) {
    uint32_t word = card.cpld().spiPort().readBlock(reg / 4);
    card.cpld().spiPort().readBlock(0x2000 / 4);
    return word;
}

void spiWrite(PoeCard& card, uint32_t reg, uint32_t word) {
    card.cpld().spiPort().writeBlock(reg / 4, word);
    card.cpld().spiPort().readBlock(0x2000 / 4);
}

class PoeBoard : public ::testing::Test {
  protected:
    std::unique_ptr<PoeCard> build(const std::string& model,
                                   std::map<std::string, std::string> keys = {},
                                   const std::string& section = "c") {
        BoardConfig config;
        config.file = "test.rig";
        config.section = section;
        config.values = std::move(keys);
        config.values["model"] = model;
        const BoardType* type = findBoardType(model);
        if (type == nullptr) return nullptr;
        std::unique_ptr<Board> board = type->make(config, context);
        return std::unique_ptr<PoeCard>(dynamic_cast<PoeCard*>(board.release()));
    }

    // The RigError message of building the board ("" when it builds).
    std::string errorOf(const std::string& model, std::map<std::string, std::string> keys) {
        try {
            build(model, std::move(keys));
        } catch (const RigError& e) {
            return e.what();
        }
        return "";
    }

    // The CPLD's I2C master as the host drives it over the serial port: start word at 0x2000,
    // data bytes at 0x2004, stop at 0x200C (register address = block index x 4).
    void masterWrite(PoeCard& card, uint8_t address, const std::vector<uint8_t>& bytes) {
        spiWrite(card, 0x2000, uint32_t(address) << 1);
        for (uint8_t b : bytes) spiWrite(card, 0x2004, b);
        spiWrite(card, 0x200C, 0);
    }

    // A read command to the microcontroller and, once it has had the time to prepare it, its
    // reply.
    std::vector<uint8_t> mcuReply(PoeCard& card, uint8_t command) {
        masterWrite(card, 0x2D, {command, 0, 0});
        clock.advanceMs(20);
        I2cBus& bus = card.cpld().masterBus();
        std::vector<uint8_t> reply;
        if (bus.start(0x2D, true)) {
            reply.push_back(bus.readByte(false));
            reply.push_back(bus.readByte(true));
        }
        bus.stop();
        return reply;
    }

    // Whatever a test does to a board, it does as the chips' protocols want it.
    void TearDown() override {
        for (const std::string& line : traced)
            EXPECT_EQ(line.find(" violation "), std::string::npos) << line;
    }

    qrttest::ManualClock clock;
    FrameLog frames;
    std::vector<std::string> traced;
    BoardContext context{&frames, [this](const std::string& line) { traced.push_back(line); },
                         &clock};
};

std::vector<uint8_t> bytesAt(const std::array<uint8_t, 256>& memory, unsigned offset, unsigned n) {
    return std::vector<uint8_t>(memory.begin() + offset, memory.begin() + offset + n);
}

std::vector<uint8_t> textField(const std::string& text) {
    std::vector<uint8_t> field(text.begin(), text.end());
    field.resize(32, 0);
    return field;
}

// Pin levels from the PEX 8608's input register.
int pin(PoeCard& card, unsigned number) {
    return (card.pciSwitch().readRegister32(0x63C) >> number) & 1u;
}

// ---------------------------------------------------------------------------------------------

TEST_F(PoeBoard, EepromHoldsMacsSerialAndPartNumberAtTheirOffsets) {
    auto card = build("PCIe-RHX54PPRO", {{"mac0", "02:4b:51:00:01:00"},
                                         {"mac1", "02:4b:51:00:01:01"},
                                         {"mac2", "02:4b:51:00:01:02"},
                                         {"mac3", "00:0a:0b:0c:0d:0e"},
                                         {"sn", "PP5400042"}});
    auto memory = card->eeprom().contents();
    EXPECT_EQ(bytesAt(memory, 0x00, 8),
              (std::vector<uint8_t>{0x02, 0x4b, 0x51, 0x00, 0x01, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(bytesAt(memory, 0x08, 6), (std::vector<uint8_t>{0x02, 0x4b, 0x51, 0x00, 0x01, 0x01}));
    EXPECT_EQ(bytesAt(memory, 0x10, 6), (std::vector<uint8_t>{0x02, 0x4b, 0x51, 0x00, 0x01, 0x02}));
    EXPECT_EQ(bytesAt(memory, 0x18, 6), (std::vector<uint8_t>{0x00, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e}));
    EXPECT_EQ(bytesAt(memory, 0x40, 32), textField("PP5400042"));
    EXPECT_EQ(bytesAt(memory, 0x60, 32), textField("RHX27640-09"));
    // The board part number the products compare: characters 3 to 10.
    EXPECT_EQ(std::string(memory.begin() + 0x63, memory.begin() + 0x6B), "27640-09");
    EXPECT_EQ(bytesAt(memory, 0x80, 4), (std::vector<uint8_t>(4, 0xFF)));
}

TEST_F(PoeBoard, UnusedFieldsStayErasedAndDefaultMacsDependOnTheSectionAlone) {
    auto twoPort = build("PCIe-RHX52P");
    EXPECT_EQ(bytesAt(twoPort->eeprom().contents(), 0x10, 16), std::vector<uint8_t>(16, 0xFF));
    auto first = build("PCIe-RHX54", {}, "card7");  // no part number on the first boards
    auto memory = first->eeprom().contents();
    EXPECT_EQ(memory[0x60], 0xFF);
    // Locally administered unicast addresses, one per port.
    EXPECT_EQ(memory[0x08], 0x02);
    EXPECT_EQ(memory[0x0D], 1);
    EXPECT_EQ(bytesAt(memory, 0x01, 4), bytesAt(memory, 0x19, 4));
    EXPECT_EQ(bytesAt(build("PCIe-RHX54P", {}, "card7")->eeprom().contents(), 0, 32),
              bytesAt(memory, 0, 32));
    EXPECT_NE(bytesAt(build("PCIe-RHX54", {}, "card8")->eeprom().contents(), 0, 6),
              bytesAt(memory, 0, 6));
}

TEST_F(PoeBoard, SwitchPinsCarryPcbVersionCardIdAndPortCountStraps) {
    auto rhx52 = build("PCIe-RHX52", {{"card_id", "2"}});
    // PCB version 1 on pins 2, 3, 4, 5, 10.
    EXPECT_EQ(pin(*rhx52, 2), 1);
    EXPECT_EQ(pin(*rhx52, 3) + pin(*rhx52, 4) + pin(*rhx52, 5) + pin(*rhx52, 10), 0);
    // Card identifier 2, active low on pins 6..9.
    EXPECT_EQ(std::vector<int>({pin(*rhx52, 6), pin(*rhx52, 7), pin(*rhx52, 8), pin(*rhx52, 9)}),
              std::vector<int>({1, 0, 1, 1}));
    EXPECT_EQ(pin(*rhx52, 11), 0);
    EXPECT_EQ(pin(*rhx52, 12), 1);  // two ports

    auto pat = build("PCIe-RHX54PAT", {{"pcb_version", "19"}, {"card_id", "15"}});
    EXPECT_EQ(
        std::vector<int>({pin(*pat, 2), pin(*pat, 3), pin(*pat, 4), pin(*pat, 5), pin(*pat, 10)}),
        std::vector<int>({1, 1, 0, 0, 1}));
    EXPECT_EQ(pin(*pat, 6) + pin(*pat, 7) + pin(*pat, 8) + pin(*pat, 9), 0);
    EXPECT_EQ(pin(*pat, 12), 0);
}

TEST_F(PoeBoard, CpldVersionRegistersCarryTheStampInEitherFormat) {
    auto rhx52 = build("PCIe-RHX52");
    EXPECT_EQ(spiRead(*rhx52, 0x201C), 0xF0F0F0F0u);
    EXPECT_EQ(spiRead(*rhx52, 0x708), 0x20160718u);
    EXPECT_EQ(spiRead(*rhx52, 0x704), 0x1110u);

    auto pro = build("PCIe-RHX54PRO");
    EXPECT_EQ(spiRead(*pro, 0x708), 0x20170126u);
    EXPECT_EQ(spiRead(*pro, 0x704), 0x1417u);

    auto older = build("PCIe-RHX54", {{"cpld_version", "20150718_1110"}, {"cpld_packed", "1"}});
    // Year 15 after 2000, month 7, day 0x18, 11:10 in one word; no stamp words.
    EXPECT_EQ(spiRead(*older, 0x201C), 0xF7181110u);
    EXPECT_EQ(spiRead(*older, 0x704), 0xFFFFFFFFu);
}

TEST_F(PoeBoard, MicrocontrollerBooksPoweredPortsAgainstTheInputsBudget) {
    auto card = build(
        "PCIe-RHX54P",
        {{"mcu_version", "1.14"}, {"power_source", "2"}, {"poe_class0", "3"}, {"poe_class2", "1"}});
    EXPECT_EQ(mcuReply(*card, 0x84), (std::vector<uint8_t>{0x1E, 0x00}));
    EXPECT_EQ(mcuReply(*card, 0x81)[0] & 0x0C, 2 << 2);  // power source 2: 20 W
    // Class 3 books 15.4 W, class 1 4.0 W: 19.4 of 20 W.
    EXPECT_EQ(mcuReply(*card, 0x9B), (std::vector<uint8_t>{194, 0}));
    EXPECT_EQ(mcuReply(*card, 0x9C), (std::vector<uint8_t>{6, 0}));
    // Port 0 off (code 01), the others kept: its allocation is returned to the budget.
    masterWrite(*card, 0x2D, {0x86, 0x01, 0x00});
    EXPECT_EQ(mcuReply(*card, 0x9B), (std::vector<uint8_t>{40, 0}));
    EXPECT_EQ(mcuReply(*card, 0x9C), (std::vector<uint8_t>{160, 0}));
}

TEST_F(PoeBoard, OnlyProBoardsPutTheCpldsPacketsOnTheWire) {
    for (const char* model : {"PCIe-RHX54PPRO", "PCIe-RHX54P"}) {
        frames.frames.clear();
        auto card = build(model);
        spiWrite(*card, 0x1000, 0x003EC492);  // SMBus header: write to 0x49, 62 bytes
        for (uint32_t a = 0; a < 64; ++a) spiWrite(*card, 0x1024, 0xFFFF0000 | a << 8 | a);
        spiWrite(*card, 0x1004, 0x02);  // send port 1
        if (card->model().toe) {
            ASSERT_EQ(frames.frames.size(), 1u) << model;
            EXPECT_EQ(frames.frames[0].size(), 62u);
            EXPECT_EQ(frames.frames[0][61], 61);
        } else {
            EXPECT_TRUE(frames.frames.empty()) << model;
        }
    }
}

TEST_F(PoeBoard, TraceNamesTheSectionAndDecodesBusEvents) {
    auto card = build("PCIe-RHX54P", {}, "card1");
    masterWrite(*card, 0x2D, {0x86, 0xA6, 0x00});
    masterWrite(*card, 0x50, {0x10, 0xAA, 0xBB});
    EXPECT_THAT(traced, ::testing::Contains("[card1] i2c-master write addr=0x2d 86 a6 00 -> ack"));
    EXPECT_THAT(traced, ::testing::Contains(
                            HasSubstr("[card1] mcu 0x86 set-poe-enable a6 00 port0=on port1=off")));
    EXPECT_THAT(traced, ::testing::Contains("[card1] eeprom page write at 0x10: aa bb"));
    EXPECT_EQ(card->eeprom().contents()[0x11], 0xBB);
}

TEST_F(PoeBoard, BadKeysAreRejectedNamingTheKey) {
    const struct {
        const char* model;
        std::map<std::string, std::string> keys;
        const char* message;
    } cases[] = {
        {"PCIe-RHX54P", {{"mac1", "01:00:5e:00:00:01"}}, "test.rig: [c] mac1: "},
        {"PCIe-RHX54P", {{"mac3", "02:00:00:00:00:01"}, {"mac1", "02:00:00:00:00:01"}}, "[c] mac3"},
        {"PCIe-RHX52P", {{"mac2", "02:00:00:00:00:01"}}, "[c] mac2: the PCIe-RHX52P has 2"},
        {"PCIe-RHX54", {{"pcb_version", "32"}}, "[c] pcb_version: "},
        {"PCIe-RHX54", {{"card_id", "16"}}, "[c] card_id: "},
        {"PCIe-RHX54", {{"cpld_version", "2016-07-18"}}, "[c] cpld_version: "},
        {"PCIe-RHX54",
         {{"cpld_version", "20160718_1110"}, {"cpld_packed", "1"}},
         "[c] cpld_version: "},
        {"PCIe-RHX54", {{"mcu_version", "1.16"}}, "[c] mcu_version: "},
        {"PCIe-RHX54", {{"sn", std::string(32, 'S')}}, "[c] sn: "},
    };
    for (const auto& c : cases) EXPECT_THAT(errorOf(c.model, c.keys), HasSubstr(c.message));
    EXPECT_EQ(errorOf("PCIe-RHX54", {{"sn", std::string(31, 'S')}, {"mcu_version", "15.15"}}), "");
}

}  // namespace
