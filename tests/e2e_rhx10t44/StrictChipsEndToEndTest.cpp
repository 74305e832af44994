// Each controller family's path driven by the unmodified library on chips as strict as the real
// ones: at the slow end of their latencies (a read that completes only at the last poll its
// users may make), under each power source, with protection temperatures raised and lowered
// (the two writes must never cross), with a trigger frame stored and closed. Every call must
// succeed, and the runner checks after every run that no chip model counted a violation: a
// wrong byte, bit, poll, pause or order in the library fails here.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigRunner.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;

struct Row {
    const char* what;
    std::string rig;
    std::string command;
    // Further checks of the probes' answers and the state; every "status", "set_status" and
    // "get_status" an answer carries must be 0 unless the row says otherwise.
    std::function<void(const RigRun&)> check = nullptr;
    bool allStatusesZero = true;
};

class StrictChips : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.usable());
        static const RigRun probe = rig.run("[a]\nmodel = PCIe-RHX44+\n", "true");
        if (probe.status != 0)
            GTEST_SKIP() << "qrt-sim cannot run a program here: " << probe.errors;
    }
    void runTable(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            RigRun r = rig.run(row.rig, row.command);
            EXPECT_EQ(r.status, 0) << r.errors;
            if (row.allStatusesZero) {
                for (const json& line : r.outputs) {
                    for (const char* key : {"status", "set_status", "get_status"}) {
                        if (line.contains(key)) {
                            EXPECT_EQ(line[key], 0) << line.dump();
                        }
                    }
                    if (line.contains("ok")) {
                        EXPECT_EQ(line["ok"], true) << line.dump();
                    }
                }
            }
            if (row.check) row.check(r);
        }
    }
    qrttest::RigRunner rig{{{"PROBE", RHX_PROBE_PATH}, {"FAULT", FAULT_PROBE_PATH}}};
};

// The frame stored for public port 0, read back from the card.
void frameStored(const RigRun& r) {
    ASSERT_EQ(r.outputs.size(), 1u) << r.errors;
    EXPECT_EQ(r.outputs[0].value("get", json()),
              json::array({0x11223344u, 0x55667788u, 0xFFFFFFFFu}));
}

// Protection raised above the held one, then lowered below the held recovery.
const char* const kRaiseAndLower = "$PROBE range 0 120 105; $PROBE range 0 80 70";
void rangesHeld(const RigRun& r) {
    ASSERT_EQ(r.outputs.size(), 2u) << r.errors;
    EXPECT_EQ(r.outputs[0].value("get", json()), json::array({120, 105}));
    EXPECT_EQ(r.outputs[1].value("get", json()), json::array({80, 70}));
}

// The input's state and the budget it allows; an input without a budget is no success.
std::function<void(const RigRun&)> supply(int state, float watts) {
    return [=](const RigRun& r) {
        ASSERT_EQ(r.outputs.size(), 1u) << r.errors;
        const json list = r.outputs[0].value("list", json::array());
        ASSERT_EQ(list.size(), 1u) << r.output;
        const json& card = list[0];
        EXPECT_EQ(card["supply_state"], json::array({0, state}));
        if (watts > 0) {
            EXPECT_EQ(card["budget"][0], 0);
            EXPECT_FLOAT_EQ(card["budget"][1].get<float>(), watts);
        } else {
            EXPECT_LT(card["budget"][0].get<int>(), 0);
        }
    };
}

std::string rhx10t(const std::string& keys) {
    return "[a]\nmodel = PCIe-RHX10T\ncard_id = 0x5A\n"
           "mac0 = 02:10:00:00:00:00\nip0 = 10.0.0.1/24\n" +
           keys;
}

// The 10-gigabit card: the X550's I2C master, the CPLD on it, the microcontroller and the
// EEPROM behind the CPLD.
TEST_F(StrictChips, EthernetControllerPath) {
    runTable({
        {"the X550 at its slow end", rhx10t(""),
         "$FAULT \"@a fault lan0 slow\" card-id poe-set-enable +poe-set-enable toe-set-debounce "
         "+toe-set-debounce poe-get-range",
         [](const RigRun& r) {
             ASSERT_GE(r.outputs.size(), 3u) << r.errors;
             EXPECT_EQ(r.outputs[2].value("value", -1), 0x5A);
         }},
        {"power source 0", rhx10t("power_source = 0\n"), "$PROBE list", supply(1, 61.6f), false},
        {"power source 1", rhx10t("power_source = 1\n"), "$PROBE list", supply(0, 0), false},
        {"power source 2", rhx10t("power_source = 2\n"), "$PROBE list", supply(0, 20.0f), false},
        {"power source 3", rhx10t("power_source = 3\n"), "$PROBE list", supply(0, 0), false},
        {"protection temperatures", rhx10t(""), kRaiseAndLower, rangesHeld},
        {"an action command", rhx10t(""), "$PROBE toe 0 0 0x11223344 0x55667788 0xFFFFFFFF",
         frameStored},
        {"an I210 is no card of the kit", rhx10t("controller = I210\n"), "$PROBE list",
         [](const RigRun& r) {
             ASSERT_EQ(r.outputs.size(), 1u) << r.errors;
             EXPECT_EQ(r.outputs[0].value("list", json::array({0})).size(), 0u);
         }},
    });
}

std::string rhx54pro(const std::string& keys) {
    return "[c]\nmodel = PCIe-RHX54PRO\nmac0 = 02:11:00:00:00:00\nip0 = 10.0.2.1/24\n" + keys;
}

// The cards on the PEX 8608: its serial port, the CPLD on it, the microcontroller and the
// EEPROM behind the CPLD.
TEST_F(StrictChips, PcieSwitchPath) {
    const char* const toeCalls = " toe-get-source toe-set-debounce +toe-set-debounce";
    runTable({
        {"the switch at its slow end", rhx54pro(""),
         std::string("$FAULT \"@c fault switch slow\"") + toeCalls},
        {"the CPLD at its slow end", rhx54pro(""),
         std::string("$FAULT \"@c fault cpld slow\"") + toeCalls},
        {"protection temperatures", rhx54pro(""), kRaiseAndLower, rangesHeld},
        {"an action command", rhx54pro(""), "$PROBE toe 0 0 0x11223344 0x55667788 0xFFFFFFFF",
         frameStored},
    });
}

// The PCIe-RHX44+: the power chip on the bus bit-banged on two switch pins.
TEST_F(StrictChips, BitBangedPowerChipPath) {
    runTable({
        {"bring-up and port power", "[b]\nmodel = PCIe-RHX44+\n", "$PROBE enable 0 1,0,1,1",
         [](const RigRun& r) {
             const json chip = r.board("b").value("power_chip", json::object());
             EXPECT_EQ(chip.value("port_mask", -1), 0x0D);
             EXPECT_EQ(chip.value("dc_enable", -1), 0x0F);
             EXPECT_EQ(chip.value("ac_enable", -1), 0);
         },
         false},
    });
}

}  // namespace
