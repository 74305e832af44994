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

#include "support/CallProbe.h"
#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using qrttest::answerOf;
using qrttest::callLine;
using qrttest::reading;
using qrttest::RigRun;

struct Row {
    const char* what;
    std::string rig;
    std::string command;
    // Further checks of the probes' answers and the state; every call's "status" (and the fault
    // probe's "ok") must be 0 unless the row says otherwise.
    std::function<void(const RigRun&)> check = nullptr;
    bool allStatusesZero = true;
};

class StrictChips : public qrttest::RigFixture {
  protected:
    StrictChips() : RigFixture({{"FAULT", FAULT_PROBE_PATH}}) {}

    void runTable(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            RigRun r = rig.run(row.rig, row.command);
            EXPECT_EQ(r.status, 0) << r.errors;
            if (row.allStatusesZero) {
                for (const json& line : r.outputs) {
                    // The product count answers as its status.
                    if (line.is_object() && line.contains("status") &&
                        line.value("call", "") != "QRT_GetProductNums") {
                        EXPECT_EQ(line["status"], 0) << line.dump();
                    }
                    if (line.contains("ok")) {
                        EXPECT_EQ(line["ok"], true) << line.dump();
                    }
                }
            }
            if (row.check) row.check(r);
        }
    }
};

// An action command stored for public port 0, then read back from the card.
const std::string kStoreFrame =
    callLine({"QRT_ToESetActionCommand 0 0 0x11223344 0x55667788 0xFFFFFFFF",
              "QRT_ToEGetActionCommand 0 0 @1 @1 @1"});
void frameStored(const RigRun& r) {
    const json& got = answerOf(r, "QRT_ToEGetActionCommand", 0);
    ASSERT_TRUE(got.is_object()) << r.errors;
    EXPECT_EQ(got["args"], json::parse("[0, [287454020], [1432778632], [4294967295]]"));
}

// Protection raised above the held one, then lowered below the held recovery.
const std::string kRaiseAndLower =
    callLine({"QRT_PoESetProtectTempRange 0 120 105", "QRT_PoEGetProtectTempRange 0 @1 @1",
              "QRT_PoESetProtectTempRange 0 80 70", "QRT_PoEGetProtectTempRange 0 @1 @1"});
void rangesHeld(const RigRun& r) {
    for (int nth : {0, 1}) {
        const json& got = answerOf(r, "QRT_PoEGetProtectTempRange", 0, nth);
        ASSERT_TRUE(got.is_object()) << r.errors;
        EXPECT_EQ(got["args"],
                  nth == 0 ? json::parse("[[120], [105]]") : json::parse("[[80], [70]]"));
    }
}

// The input's state and the total budget (property 6) the card reports.
const std::string kSupply = callLine({"QRT_ExPowSupGetState 0 @1 1", "QRT_PoEGetProperty 0 6 @1"});

// The input's state and the budget it allows; an input without a budget is no success.
std::function<void(const RigRun&)> supply(int state, float watts) {
    return [=](const RigRun& r) {
        EXPECT_EQ(reading(answerOf(r, "QRT_ExPowSupGetState", 0)), json::array({0, state}))
            << r.errors;
        const json budget = reading(answerOf(r, "QRT_PoEGetProperty", 0), 1);
        ASSERT_TRUE(budget.is_array()) << r.errors;
        if (watts > 0) {
            EXPECT_EQ(budget[0], 0);
            EXPECT_FLOAT_EQ(budget[1].get<float>(), watts);
        } else {
            EXPECT_LT(budget[0].get<int>(), 0);
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
        {"power source 0", rhx10t("power_source = 0\n"), kSupply, supply(1, 61.6f), false},
        {"power source 1", rhx10t("power_source = 1\n"), kSupply, supply(0, 0), false},
        {"power source 2", rhx10t("power_source = 2\n"), kSupply, supply(0, 20.0f), false},
        {"power source 3", rhx10t("power_source = 3\n"), kSupply, supply(0, 0), false},
        {"protection temperatures", rhx10t(""), kRaiseAndLower, rangesHeld},
        {"an action command", rhx10t(""), kStoreFrame, frameStored},
        {"an I210 is no card of the kit", rhx10t("controller = I210\n"),
         callLine({"QRT_GetProductNums"}),
         [](const RigRun& r) { EXPECT_EQ(answerOf(r, "QRT_GetProductNums")["status"], 0); }},
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
        {"an action command", rhx54pro(""), kStoreFrame, frameStored},
    });
}

// The PCIe-RHX44+: the power chip on the bus bit-banged on two switch pins.
TEST_F(StrictChips, BitBangedPowerChipPath) {
    runTable({
        {"bring-up and port power", "[b]\nmodel = PCIe-RHX44+\n",
         callLine({"QRT_PoESetPortEnable 0 1,0,1,1 4"}),
         [](const RigRun& r) {
             const json chip = r.board("b").value("power_chip", json::object());
             EXPECT_EQ(chip.value("port_mask", -1), 0x0D);
             EXPECT_EQ(chip.value("dc_enable", -1), 0x0F);
             EXPECT_EQ(chip.value("ac_enable", -1), 0);
         }},
    });
}

}  // namespace
