// qrtctl end to end: each command line runs under qrt-sim against one rig; its exit status,
// its output (text, and JSON parsed) and what it did to the rig's hardware are checked.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/PublicHeader.h"
#include "support/RigRunner.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;

// Product 0: a 12-port USB3 card with an external supply plugged in; 1: a 4-port card of PCB
// revision 0 (no supply input); 2: a 10-gigabit Pro PoE card with a class-4 camera on its
// public port 0 (the PSE's port 1), cabled to a host interface; 3: the PoE card whose power
// chip sits on bit-banged I2C and reads nothing back.
const char* const kRig =
    "[a]\nmodel = PCIe-W512P\nsn = QA512\nex_power = 1\n"
    "[b]\nmodel = PCIe-W504\nsn = QB504\n"
    "[c]\nmodel = PCIe-RHX10T\nsn = QC10T\npoe_class1 = 4\nmac0 = 02:10:00:00:00:00\nip0 = "
    "10.0.0.1/24\n"
    "[d]\nmodel = PCIe-RHX44+\n";

// What the commands may change on the rig: "section/JSON pointer" into the state document.
const char* const kProbes[] = {
    "a/port_power",
    "b/port_power",
    "c/mcu/ports/0/enabled",
    "c/mcu/ports/1/enabled",
    "c/mcu/protect_temperature",
    "c/mcu/recovery_temperature",
    "c/cpld/toe_control",
    "c/cpld/ports/1/packet",
    "c/cpld/ports/1/sent_count",
    "d/power_chip/port_mask",
};

struct Case {
    const char* command;  // a shell line; $Q is qrtctl
    int status;
    // Standard output: a JSON document equal to the last line, or lines that must all appear.
    const char* output;
    const char* error;    // text standard error must contain ("": no qrtctl message)
    const char* changes;  // {"probe": value} where the rig differs from a rig left alone
};

const char* const kNothing = "{}";

// clang-format off
const Case kCases[] = {
    // Products and their identity.
    {"$Q list", 0,
     "INDEX  MODEL               TYPE   SERIAL            FEATURES\n"
     "0      PCIe-W512P          19     QA512             power,exsupply\n"
     "1      PCIe-W504           8      QB504             power\n"
     "2      PCIe-RHX10T         11     QC10T             poe,toe,exsupply\n", "", kNothing},
    {"$Q list --json -p 1", 0,
     R"({"products":[{"index":1,"model":"PCIe-W504","type":8,"sn":"QB504","features":["power"]}]})", "", kNothing},
    {"$Q info -p 1 -j", 0,
     R"({"sdk":{"Driver Version":"1.4.2","SDK Version":"1.7.7.0130"},
         "products":[{"index":1,"type":8,"card_id":1,"info":{"Product":"PCIe-W504","MCUVersion":"1.0",
                      "PN":"W5-53104-10","SN":"QB504","PCBVersion":"0"}}]})", "", kNothing},
    {"$Q info", 0, "SDK Version:1.7.7.0130\n[product 0]\nProduct:PCIe-W512P\n[product 3]\nProduct:PCIe-RHX44+\n",
     "", kNothing},
    // USB port power: assignments, whole lists, read back by a second process.
    {"$Q power set -p 1 1=off 3=0 && $Q power get --product=1", 0,
     "port 0: on\nport 1: off\nport 2: on\nport 3: off\n", "", R"({"b/port_power":[1,0,1,0]})"},
    {"$Q power set 0,0,0,1,1,1,1,1,1,1,1,off && $Q power get -j", 0,
     R"({"product":0,"ports":[0,0,0,1,1,1,1,1,1,1,1,0]})", "", R"({"a/port_power":[0,0,0,1,1,1,1,1,1,1,1,0]})"},
    {"$Q power set -p 1 0x2=off", 0, "", "", R"({"b/port_power":[1,1,0,1]})"},
    {"$Q exsupply get -j", 0, R"({"product":0,"supplies":[1]})", "", kNothing},
    // PoE: public port 0 of the 10-gigabit card is the PSE's port 1.
    {"$Q poe set -p 2 0=off && $Q poe get -p 2 -j", 0, R"({"product":2,"ports":[0,1]})", "",
     R"({"c/mcu/ports/1/enabled":false})"},
    {"$Q poe set -p 3 1,0,1,1", 0, "", "", R"({"d/power_chip/port_mask":13})"},
    {"$Q poe status -p 2", 0, "total_budget_watts: 61.6\n0 on 0.417 47.999 4 1 1\n", "", kNothing},
    {"$Q poe status -p 3 -j", 0,
     R"({"product":3,"card":{"state_flag0":null,"state_flag1":null,"state_flag5_clear":null,
         "temperature_celsius":null,"consumed_budget_watts":null,"left_budget_watts":null,"total_budget_watts":null},
         "ports":[{"port":0,"enabled":null,"current_amperes":null,"voltage_volts":null,"power_class":null,
                   "power_good":null,"last_state":null},
                  {"port":1,"enabled":null,"current_amperes":null,"voltage_volts":null,"power_class":null,
                   "power_good":null,"last_state":null},
                  {"port":2,"enabled":null,"current_amperes":null,"voltage_volts":null,"power_class":null,
                   "power_good":null,"last_state":null},
                  {"port":3,"enabled":null,"current_amperes":null,"voltage_volts":null,"power_class":null,
                   "power_good":null,"last_state":null}]})", "", kNothing},
    {"$Q poe protect-temp -p 2 95 80 && $Q poe protect-temp -p 2 -j", 0,
     R"({"product":2,"protect_celsius":95,"recover_celsius":80})", "",
     R"({"c/mcu/protect_temperature":95,"c/mcu/recovery_temperature":80})"},
    // Trigger over Ethernet: store, read back and fire an action command; the settings.
    {"$Q toe command -p 2 0 0x12345678 1 0xffffffff && $Q toe send -p 2 0 && $Q toe command -p 2 0 -j", 0,
     R"({"product":2,"port":0,"device_key":305419896,"group_key":1,"group_mask":4294967295})", "",
     R"({"c/cpld/ports/1/sent_count":1,
         "c/cpld/ports/1/packet":"ffffffffffff02100000000008004500003000010000801125bd0a0000010a0000ffffff0f74001c2f8842000100000c00011234567800000001ffffffffffff",
         "c/cpld/toe_control/dpram_read_back":true})"},
    {"$Q toe activation -p 2 both && $Q toe enable -p 2 on && $Q toe debounce -p 2 250 && $Q toe status -p 2", 0,
     "enable: on\nactivation: both\ndebounce: 250 (unit 40)\nport 0: device key 0x00000000, group key 0x00000000, "
     "group mask 0x00000000; counters 0 0\n", "",
     R"({"c/cpld/toe_control/edge_select_a":true,"c/cpld/toe_control/edge_select_b":true,
         "c/cpld/toe_control/trigger_enable":true,"c/cpld/toe_control/ex_trigger_debounce":250,
         "c/cpld/toe_control/dpram_read_back":true})"},
    // Failures of the SDK: exit 1, the status named, nothing changed.
    {"$Q power get -p 4", 1, "", "qrtctl: product 4 (4 products found): QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q power set -p 1 4=on", 1, "", "port 4 (4 ports): QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q power set -p 1 1,0,1", 1, "", "port power: QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q toe send -p 2 2", 1, "", "ToE send on port 2: QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q toe debounce -p 2 0x1000000", 1, "", "toe debounce: QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q poe protect-temp -p 2 85 76", 1, "", "QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q exsupply get -p 1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q poe set 0=off", 1, "", "product 0: PoE port enables count: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q toe send -p 3 all", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q fan pwm -p 2 0 40", 1, "", "product 2: fan pwm 0: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q dio set do0=1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q dio monitor --count 1 -p 1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    // A wrong command line: exit 2 with usage, nothing changed.
    {"$Q power set -p 1 1=maybe", 2, "", "qrtctl: value: 'maybe' is not a number\n"
     "Usage: qrtctl power set [OPTIONS] values...\n", kNothing},
    {"$Q poe set -p 2 1,,0", 2, "", "is not a number", kNothing},
    {"$Q power get -p -1", 2, "", "Usage: qrtctl power get", kNothing},
    {"$Q power set 99999999999=on", 2, "", "port: 99999999999 is out of range", kNothing},
    {"$Q toe command -p 2 0 1 2", 2, "", "give PORT, or PORT DEVICE_KEY GROUP_KEY GROUP_MASK", kNothing},
    {"$Q toe activation -p 2 rising", 2, "", "edge: 'rising' is not a number", kNothing},
    {"$Q dio edge do0 both", 2, "", "edge applies to digital inputs only", kNothing},
    {"$Q power", 2, "", "Usage: qrtctl power [OPTIONS] SUBCOMMAND", kNothing},
    {"$Q frobnicate", 2, "", "Usage: qrtctl [OPTIONS] SUBCOMMAND", kNothing},
    {"$Q poe status --help", 0, "Usage: qrtctl poe status [OPTIONS]", "", kNothing},
};
// clang-format on

class QrtctlEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.usable());
        static const RigRun probe = rig.run(kRig, "true");
        if (probe.status != 0)
            GTEST_SKIP() << "qrt-sim cannot run a program here: " << probe.errors;
    }
    qrttest::RigRunner rig{
        {{"Q", QRTCTL_PATH}, {"PYTHON", PYTHON_PATH}, {"PARSE_METRICS", METRICS_PARSER_PATH}}};
};

std::string lastLine(const std::string& text) {
    std::string line, last;
    std::istringstream in(text);
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// The value of a probe in a run's state document.
json probe(const RigRun& run, const std::string& where) {
    size_t slash = where.find('/');
    const json& board = run.board(where.substr(0, slash));
    json::json_pointer pointer(where.substr(slash));
    return board.contains(pointer) ? board[pointer] : json();
}

TEST_F(QrtctlEndToEnd, CommandLinesGiveTheirOutputStatusAndEffect) {
    // Loading the library detects the products, which sets some of them up.
    RigRun untouched = rig.run(kRig, "$Q --version");
    ASSERT_EQ(untouched.status, 0) << untouched.errors;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.command);
        RigRun run = rig.run(kRig, c.command);
        EXPECT_EQ(run.status, c.status) << run.errors;
        std::string expected = c.output;
        if (!expected.empty() && expected[0] == '{') {
            EXPECT_EQ(json::parse(lastLine(run.output), nullptr, false), json::parse(expected))
                << run.output;
        } else {
            std::istringstream lines(expected);
            for (std::string line; std::getline(lines, line);)
                EXPECT_NE(run.output.find(line + "\n"), std::string::npos) << line << " in\n"
                                                                           << run.output;
        }
        if (*c.error == '\0')
            EXPECT_EQ(run.errors.find("qrtctl:"), std::string::npos) << run.errors;
        else
            EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
        json changes = json::parse(c.changes);
        for (const char* where : kProbes) {
            json want = probe(untouched, where);
            for (const auto& [changed, value] : changes.items()) {
                if (changed == where) want = value;
                if (changed.rfind(std::string(where) + "/", 0) == 0)
                    want[json::json_pointer(changed.substr(std::strlen(where)))] = value;
            }
            EXPECT_EQ(probe(run, where), want) << where;
        }
    }
}

TEST_F(QrtctlEndToEnd, MetricsAreValidPrometheusTextWithProductLabels) {
    RigRun run =
        rig.run(kRig, "$Q power set -p 1 2=off && $Q metrics | \"$PYTHON\" \"$PARSE_METRICS\"");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 1u) << run.output;
    const json& families = run.outputs[0];
    for (const auto& [name, family] : families.items()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.rfind("qrt_", 0), 0u);
        EXPECT_EQ(family["type"], "gauge");
        for (const json& sample : family["samples"]) {
            if (name == "qrt_products") continue;
            for (const char* label : {"product", "model", "sn"})
                EXPECT_TRUE(sample["labels"].contains(label));
        }
    }
    EXPECT_EQ(families["qrt_products"]["samples"][0]["value"], 4.0);
    const json& power = families["qrt_usb_port_power_enabled"]["samples"];
    ASSERT_EQ(power.size(), 16u);
    EXPECT_EQ(power[14]["labels"],
              json({{"product", "1"}, {"model", "PCIe-W504"}, {"sn", "QB504"}, {"port", "2"}}));
    EXPECT_EQ(power[14]["value"], 0.0);
    EXPECT_EQ(families["qrt_external_supply_connected"]["samples"].size(), 2u);
    // The camera on the 10-gigabit card's port 0 draws power; its other port has nothing.
    const json& watts = families["qrt_poe_port_power_watts"]["samples"];
    ASSERT_EQ(watts.size(), 2u) << watts.dump();
    EXPECT_EQ(watts[0]["labels"]["model"], "PCIe-RHX10T");
    EXPECT_NEAR(watts[0]["value"].get<double>(), 0.417 * 47.999, 0.05);
    EXPECT_EQ(watts[1]["value"], 0.0);
    EXPECT_EQ(families["qrt_poe_total_budget_watts"]["samples"][0]["value"], 61.6);
    for (const json& errors : families["qrt_read_errors"]["samples"])
        EXPECT_EQ(errors["value"], 0.0);
}

// Every function of the public header is called by some command: the tool imports each one
// from the library.
TEST(QrtctlCoverage, EveryPublicFunctionIsImportedByTheTool) {
    std::string command =
        std::string("'") + QRT_TEST_NM + "' -D --undefined-only '" QRTCTL_PATH "'";
    std::set<std::string> imported;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512], type[8], name[400];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
        if (std::sscanf(line, "%7s %399s", type, name) == 2) imported.insert(name);
    ASSERT_EQ(pclose(pipe), 0);
    std::set<std::string> missing;
    for (const std::string& function : qrttest::publicHeaderFunctions())
        if (imported.count(function) == 0) missing.insert(function);
    EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing);
}

}  // namespace
