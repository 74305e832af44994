// PoE frame-grabber boards end to end: the kit's controller classes, run by a probe program
// inside qrt-sim, reach each card's switch pins, CPLD, microcontroller and EEPROM through the
// kit's driver interface; what they read must be what the rig file describes, and what they
// change must show in the rig's state document.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

using qrttest::RigRun;

class PoeBoardsEndToEnd : public qrttest::RigFixture {
  protected:
    PoeBoardsEndToEnd() : RigFixture({{"PROBE", POE_PROBE_PATH}}) {}
};

// ---------------------------------------------------------------------------------------------

TEST_F(PoeBoardsEndToEnd, TheKitsControllersReadEachCardAsTheRigFileDescribesIt) {
    RigRun run = rig.run(
        "[a]\nmodel = PCIe-RHX52\ncard_id = 5\nmcu_version = 1.14\ntemperature = 55.5\n"
        "mac0 = 02:00:00:00:0a:00\nmac1 = 02:00:00:00:0a:01\nsn = A52-0001\n"
        "[b]\nmodel = PCIe-RHX54PPRO\npcb_version = 4\npower_source = 1\n"
        "[c]\nmodel = PCIe-RHXGPU-P1000\ncpld_version = 20150302_0815\ncpld_packed = 1\n"
        "[d]\nmodel = PCIe-RHX54P\ntemperature = 120\npoe_class0 = 1\n",
        "$PROBE");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 1u) << run.errors;
    const json& cards = run.outputs[0]["cards"];
    ASSERT_EQ(cards.size(), 4u) << run.outputs[0].dump(1);
    for (const json& card : cards) {
        EXPECT_EQ(card["mcu"]["busy_status"], 0);
        EXPECT_EQ(card["mcu"]["busy"], 0);
        EXPECT_EQ(card["mcu"]["pse_status"], 0);
    }

    const json& a = cards[0];
    EXPECT_EQ(a["pcb_version"], 1);
    EXPECT_EQ(a["card_id"], 5);
    EXPECT_EQ(a["pin11"], 0);
    EXPECT_EQ(a["pin12"], 1);
    EXPECT_EQ(a["cpld"]["version"], "20160718_1110");
    EXPECT_EQ(a["cpld"]["older"], 0);
    EXPECT_EQ(a["mcu"]["version"], "1.14");
    EXPECT_EQ(a["mcu"]["enable"], json::array({1, 1, 1, 1}));
    EXPECT_EQ(a["mcu"]["temperature_status"], 0);
    EXPECT_EQ(a["mcu"]["temperature"], 55.5);
    EXPECT_EQ(a["eeprom"]["mac"], json::array({"02:00:00:00:0a:00", "02:00:00:00:0a:01"}));
    EXPECT_EQ(a["eeprom"]["sn"], "A52-0001");
    EXPECT_EQ(a["eeprom"]["pn"], "");  // the first boards carry no part number

    const json& b = cards[1];
    EXPECT_EQ(b["pcb_version"], 4);
    EXPECT_EQ(b["pin12"], 0);
    EXPECT_EQ(b["eeprom"]["pn"].get<std::string>().substr(3), "27640-09");

    const json& c = cards[2];
    EXPECT_EQ(c["cpld"]["version"], "20150302_0815");
    EXPECT_EQ(c["cpld"]["older"], 1);

    // Too hot: the protection holds every port off that the host has enabled, and the PSE
    // powers nothing.
    const json& d = cards[3];
    EXPECT_EQ(d["mcu"]["temperature"], 120.0);
    EXPECT_EQ(d["mcu"]["enable"], json::array({0, 0, 0, 0}));
    EXPECT_EQ(d["mcu"]["pse_power"], 0x00);
    EXPECT_EQ(d["mcu"]["port0_voltage"], 0);

    // The state document shows the same identity, decoded from the EEPROM's bytes.
    for (const auto& [section, index] : {std::pair<std::string, int>{"a", 0}, {"b", 1}, {"c", 2}}) {
        SCOPED_TRACE(section);
        const json& board = run.board(section);
        ASSERT_TRUE(board.contains("eeprom")) << run.state.dump(1);
        const json& identity = board["eeprom"]["identity"];
        const json& probed = cards[index]["eeprom"];
        EXPECT_EQ(identity["mac"], probed["mac"]);
        EXPECT_EQ(identity["sn"], probed["sn"]);
        EXPECT_EQ(identity["pn"], probed["pn"]);
        EXPECT_EQ(board["mcu"]["version"], cards[index]["mcu"]["version"]);
    }
    EXPECT_EQ(run.board("b")["eeprom"]["identity"]["board_part_number"], "27640-09");
    EXPECT_EQ(run.board("b")["mcu"]["power_source"], 1);
}

TEST_F(PoeBoardsEndToEnd, TheBuiltInCardHoldsPoeEnablesThatAnotherProcessSet) {
    RigRun run = rig.run("", "$PROBE 0 1,0,1,0 RHX54-NEW-SERIAL && $PROBE");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 2u) << run.errors;
    EXPECT_EQ(run.outputs[0]["cards"][0]["mcu"]["set_status"], 0);
    EXPECT_EQ(run.outputs[0]["cards"][0]["eeprom"]["sn_write_status"], 0);
    const json& card = run.outputs[1]["cards"][0];
    EXPECT_EQ(card["mcu"]["enable"], json::array({1, 0, 1, 0}));
    // Ports 0 and 2 enabled and powered (cameras on every port); port 0 at 48 V.
    EXPECT_EQ(card["mcu"]["pse_power"], 0x55);
    EXPECT_EQ(card["mcu"]["port0_voltage"], 8226);
    EXPECT_EQ(card["eeprom"]["mac"][3], "02:4b:51:00:01:03");
    EXPECT_EQ(card["eeprom"]["sn"], "RHX54-NEW-SERIAL");
    EXPECT_EQ(run.board("card1")["eeprom"]["identity"]["sn"], "RHX54-NEW-SERIAL");

    const json& board = run.board("card1");
    ASSERT_EQ(board.value("model", ""), "PCIe-RHX54P") << run.state.dump(1);
    std::vector<bool> enabled;
    for (const json& port : board["mcu"]["ports"]) enabled.push_back(port["enabled"]);
    EXPECT_EQ(enabled, (std::vector<bool>{true, false, true, false}));
    // The cameras of ports 0 (class 3) and 2 (class 2) are booked against 61.6 W.
    EXPECT_EQ(board["mcu"]["consumed_budget_w"], 22.4);
    EXPECT_EQ(board["mcu"]["left_budget_w"], 39.2);
    // The command on the CPLD's I2C master, and as the firmware decoded it.
    EXPECT_THAT(run.trace, HasSubstr("[card1] i2c-master write addr=0x2d 86 66 00 -> ack"));
    EXPECT_THAT(run.trace, HasSubstr("[card1] mcu 0x86 set-poe-enable 66 00 port0=on port1=off"));
}

}  // namespace
