// The USB3 card boards' wiring, driven from the switch's registers as the host would.

#include <gtest/gtest.h>

#include <string>

#include "sim/boards/Usb3Card.h"

namespace {

using qrtsim::BoardConfig;
using qrtsim::BoardContext;
using qrtsim::Usb3Card;

BoardConfig config(const std::string& model, std::map<std::string, std::string> keys = {}) {
    BoardConfig c;
    c.file = "test.rig";
    c.section = "card0";
    c.values = std::move(keys);
    c.values["model"] = model;
    return c;
}

std::unique_ptr<qrtsim::Board> make(const BoardConfig& c) {
    BoardContext context;
    const qrtsim::BoardType* type = qrtsim::findBoardType(c.values.at("model"));
    if (type == nullptr) return nullptr;
    return type->make(c, context);
}

Usb3Card& card(const std::unique_ptr<qrtsim::Board>& board) {
    return dynamic_cast<Usb3Card&>(*board);
}

// One serial-port word write as the host issues it, letting the port finish.
void serialWrite(qrtsim::PexSwitch& sw, uint32_t address, uint32_t word) {
    while (sw.readRegister32(0x260) & (1u << 18)) {
    }
    sw.writeRegister32(0x264, word);
    sw.writeRegister32(0x260, (address / 4) | sw.chip().writeCommand);
}

TEST(Usb3CardBoards, EveryModelIsRegisteredWithItsSwitchAndPartNumber) {
    struct Expected {
        const char* model;
        uint16_t device;
        const char* pn;
    } expected[] = {
        {"PCIe-W504", 0x8718, "53104-10"},  {"PCIe-W508", 0x8718, "53104-20"},
        {"PCIe-W512", 0x8608, "53104-30"},  {"PCIe-W504P", 0x8718, "53104-11"},
        {"PCIe-W508P", 0x8718, "53104-21"}, {"PCIe-W512P", 0x8608, "53104-31"},
    };
    for (const auto& e : expected) {
        auto board = make(config(e.model));
        ASSERT_NE(board, nullptr) << e.model;
        auto functions = board->pciFunctions();
        ASSERT_EQ(functions.size(), 1u);
        EXPECT_EQ(functions[0]->vendorId(), 0x10B5);
        EXPECT_EQ(functions[0]->deviceId(), e.device) << e.model;
        std::string pn = card(board).mcu().partNumber();
        ASSERT_EQ(pn.size(), 11u) << pn;
        EXPECT_EQ(pn.substr(3), e.pn) << e.model;
    }
}

TEST(Usb3CardBoards, FourPortCardPowersItsPortsFromTheEvenChannels) {
    auto board = make(config("PCIe-W504"));
    Usb3Card& c = card(board);
    serialWrite(c.pciSwitch(), 0x1010, 0x55570051);  // channels 0, 4, 6
    const bool expected[4] = {true, false, true, true};
    for (unsigned port = 0; port < 4; ++port) EXPECT_EQ(c.portPowered(port), expected[port]);
    serialWrite(c.pciSwitch(), 0x1010, 0x555700AA);  // odd channels only: nothing wired
    for (unsigned port = 0; port < 4; ++port) EXPECT_FALSE(c.portPowered(port));
}

TEST(Usb3CardBoards, TwelvePortCardPowersPorts8To11WhileTheirPinsFloat) {
    auto board = make(config("PCIe-W512"));
    Usb3Card& c = card(board);
    for (unsigned port = 0; port < 12; ++port) EXPECT_TRUE(c.portPowered(port)) << port;
    // Pins 6 and 9 driven (outputs, direction bits 13 and 19): ports 9 and 10 lose power,
    // whatever level the switch drives.
    c.pciSwitch().writeRegister32(0x62C, (1u << 13) | (1u << 19));
    c.pciSwitch().writeRegister32(0x644, 0xFFFF);
    const bool expected[4] = {true, false, false, true};
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(c.portPowered(8 + i), expected[i]) << 8 + i;
    serialWrite(c.pciSwitch(), 0x1010, 0x5557007F);
    EXPECT_FALSE(c.portPowered(7));
    EXPECT_TRUE(c.portPowered(6));

    nlohmann::json state;
    board->saveState(state);
    EXPECT_EQ(state["port_power"], nlohmann::json({1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 1}));
}

TEST(Usb3CardBoards, PcbStrapsAndSupplySenseFollowTheRigKeys) {
    // PEX 8718: PCB version on pins 0 and 4, supply sense low on pin 1.
    auto a = make(config("PCIe-W508", {{"pcb_version", "3"}, {"ex_power", "1"}}));
    EXPECT_EQ(card(a).pciSwitch().readRegister32(0x61C), 0b010001u);
    EXPECT_TRUE(card(a).externalSupplyConnected());
    // PEX 8608: pins 2 and 10; an unplugged supply leaves pin 1 high.
    auto b = make(config("PCIe-W508", {{"pcb_version", "2"}, {"switch", "8608"}}));
    EXPECT_EQ(card(b).pciSwitch().deviceId(), 0x8608);
    EXPECT_EQ(card(b).pciSwitch().readRegister32(0x63C), (1u << 10) | (1u << 1));
    EXPECT_FALSE(card(b).externalSupplyConnected());
    // The supply boards default to a revision with the supply input.
    auto p = make(config("PCIe-W504P"));
    EXPECT_EQ(card(p).pciSwitch().readRegister32(0x61C), 0b010010u);
}

TEST(Usb3CardBoards, IdentityKeysReachTheMicrocontroller) {
    auto board = make(config("PCIe-W512P", {{"pn", "53104-31"},
                                            {"sn", "ABCDEFGHIJKLMN"},
                                            {"card_id", "0x2A"},
                                            {"card_id_valid", "0"},
                                            {"mcu_version", "2.17"}}));
    Usb3Card& c = card(board);
    EXPECT_EQ(c.mcu().partNumber(), "53104-31");
    EXPECT_EQ(c.mcu().serialNumber(), "ABCDEFGHIJKLMN");
    c.mcu().writeBlock(0x1018 / 4, 0x55520000);
    EXPECT_EQ(c.mcu().readBlock(0x1018 / 4) & 0xFF, 0xAAu);
    c.mcu().writeBlock(0x1080 / 4, 0x4D560000);
    EXPECT_EQ(c.mcu().readBlock(0x1080 / 4) & 0xFFFF, 0x0211u);
}

TEST(Usb3CardBoards, BadRigKeysAreRejectedByName) {
    auto rejects = [](const BoardConfig& c, const char* key) {
        try {
            make(c);
        } catch (const qrtsim::RigError& e) {
            return std::string(e.what()).find(key) != std::string::npos;
        }
        return false;
    };
    EXPECT_TRUE(rejects(config("PCIe-W512", {{"switch", "8718"}}), "switch"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"switch", "8700"}}), "switch"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"pn", "W5-53104-10-XXXX"}}), "pn"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"mcu_version", "1.2.3"}}), "mcu_version"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"mcu_version", "256.0"}}), "mcu_version"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"pcb_version", "4"}}), "pcb_version"));
    EXPECT_TRUE(rejects(config("PCIe-W504", {{"ex_power", "2"}}), "ex_power"));
}

}  // namespace
