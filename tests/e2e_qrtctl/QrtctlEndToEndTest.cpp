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
#include "support/RigFixture.h"

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

struct Case {
    const char* command;  // a shell line; $Q is qrtctl
    int status;
    // Standard output: a JSON document equal to the last line, or lines that must all appear.
    const char* output;
    const char* error;    // text standard error must contain ("": no qrtctl message)
    const char* changes;  // {"probe": value} where the rig differs from a rig left alone
};

const char* const kNothing = "{}";

// What the commands may change on the rig: "section/JSON pointer" into the state document.
const std::vector<const char*> kProbes = {
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

// clang-format off
const std::vector<Case> kCases = {
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
    // A fresh card's trigger fires on neither edge: a state, not a failure.
    {"$Q toe status -p 2 && $Q toe activation -p 2", 0, "activation: none\nnone\n", "",
     R"({"c/cpld/toe_control/dpram_read_back":true})"},
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
    {"$Q power set -p 1 1=maybe", 2, "", "qrtctl: value: 'maybe' is not on, off, 1 or 0\n"
     "Usage: qrtctl power set [OPTIONS] values...\n", kNothing},
    {"$Q poe set -p 2 1,,0", 2, "", "value: '' is not on, off, 1 or 0", kNothing},
    {"$Q power set -p 1 1=2", 2, "", "value: '2' is not on, off, 1 or 0", kNothing},
    {"$Q poe set -p 2 -1,7", 2, "", "value: '-1' is not on, off, 1 or 0", kNothing},
    {"$Q toe enable -p 2 7", 2, "", "value: '7' is not on, off, 1 or 0", kNothing},
    {"$Q power get -p -1", 2, "", "Usage: qrtctl power get", kNothing},
    {"$Q power set 99999999999=on", 2, "", "port: 99999999999 is out of range", kNothing},
    {"$Q toe command -p 2 0 1 2", 2, "", "give PORT, or PORT DEVICE_KEY GROUP_KEY GROUP_MASK", kNothing},
    {"$Q toe activation -p 2 rising", 2, "", "edge: 'rising' is not edge0, edge1 or both", kNothing},
    {"$Q dio edge do0 both", 2, "", "edge applies to digital inputs only", kNothing},
    {"$Q power", 2, "", "Usage: qrtctl power [OPTIONS] SUBCOMMAND", kNothing},
    {"$Q frobnicate", 2, "", "qrtctl: 'frobnicate' is not a command of qrtctl (list, info,", kNothing},
    {"$Q poe frobnicate", 2, "", "qrtctl: 'frobnicate' is not a command of poe (get, set,", kNothing},
    // Every level of commands in the help, positionals and options included.
    {"$Q --help-all", 0,
     "      values VALUES ... REQUIRED  LIST or PORT=STATE ...\n"
     "      fan FAN REQUIRED            number of the fan (0, 1, ...)\n"
     "      line LINE REQUIRED          a digital input: di<N>, or its number N\n"
     "      -n,--count N                end after N events\n"
     "    -p,--product N              index of the one product to read (default: every product)\n",
     "", kNothing},
    {"$Q poe status --help", 0, "Usage: qrtctl poe status [OPTIONS]", "", kNothing},
};

// Without the driver's node the list is empty and says why on standard error.
const char* const kUsb3Rig = "[card0]\nmodel = PCIe-W504\n";

const std::vector<Case> kNoDriverCases = {
    {"$SIM --control \"driver fault pcimap missing\" >/dev/null && $Q list", 0,
     "INDEX  MODEL               TYPE   SERIAL            FEATURES\n",
     "qrtctl: no PCIe products: /dev/___nk_pcimap: no such device: the kit's kernel module "
     "nk_pcimap is not loaded\n", kNothing},
    {"$SIM --control \"driver fault pcimap denied\" >/dev/null && $Q list -j", 0,
     R"({"products":[]})",
     "qrtctl: no PCIe products: /dev/___nk_pcimap: permission denied: only members of group qrt",
     kNothing},
};

const std::vector<const char*> kNoProbes = {};

// The embedded system: three inputs (input 2 without a trigger-mode file, input 0 high) and two
// outputs (output 0 write-only).
const char* const kEmbeddedRig =
    "[kqx]\nmodel = TULAN-KQX\nsn = KQX7\ndi_count = 3\ndi_edge = 0,1\ndi_levels = 1,0,0\n"
    "do_count = 2\ndo_readable = 1\n";

const std::vector<const char*> kEmbeddedProbes = {
    "kqx/dio/outputs/0/level", "kqx/dio/outputs/1/level", "kqx/dio/inputs/0/trigger_mode",
    "kqx/dio/inputs/1/trigger_mode", "kqx/dio/uevents", "kqx/mcu/ports/0/enabled", "kqx/mcu/ports/1/enabled",
    "kqx/mcu/ports/2/enabled", "kqx/mcu/ports/3/enabled",
};

// The monitor starts first; the inputs change once its uevent socket has joined the kernel's
// multicast group (a listener of protocol 15 with group 1 in the rig's network namespace).
const char* const kMonitor =
    "$Q dio monitor --count 2 --timeout 20 & "
    "for i in $(seq 100); do grep -q \"^[0-9a-f]* *15 .* 00000001 \" /proc/net/netlink && break; "
    "sleep 0.1; done; "
    "$SIM --control \"kqx di 1 1\" >/dev/null && $SIM --control \"kqx di 0 0\" >/dev/null && wait $!";

const std::vector<Case> kEmbeddedCases = {
    {"$Q list", 0, "0      TULAN-KQX           12     KQX7              poe,dio\n", "", kNothing},
    {"$Q dio info -j", 0,
     R"({"product":0,"capabilities":["di","do"],"inputs":3,"outputs":2,
         "line_capabilities":{"di0":[0,3,4],"di1":[0,3,4],"di2":[0,3],"do0":[0],"do1":[0,1]}})", "", kNothing},
    // Write-only outputs are left out of the overview.
    {"$Q dio set do0=1 do1=on && $Q dio get -j", 0,
     R"({"product":0,"states":{"di0":1,"di1":0,"di2":0,"do1":1}})", "",
     R"({"kqx/dio/outputs/0/level":1,"kqx/dio/outputs/1/level":1})"},
    {"$Q dio set 0,1 && $Q dio get do1 di0", 0, "do1: 1\ndi0: 1\n", "",
     R"({"kqx/dio/outputs/1/level":1})"},
    {"$Q dio edge di0 edge1 && $Q dio edge di1 both && $Q dio edge di0", 0, "di0: edge1\n", "",
     R"({"kqx/dio/inputs/0/trigger_mode":0,"kqx/dio/inputs/1/trigger_mode":2})"},
    {kMonitor, 0, "di1: 1\ndi0: 0\n", "", R"({"kqx/dio/uevents":2})"},
    // PoE port 0 of the system is the controller's port 3.
    {"$Q poe set 1,0,0,0 && $Q poe get -j", 0, R"({"product":0,"ports":[1,0,0,0]})", "",
     R"({"kqx/mcu/ports/0/enabled":false,"kqx/mcu/ports/1/enabled":false,
         "kqx/mcu/ports/2/enabled":false,"kqx/mcu/ports/3/enabled":true})"},
    {"$Q dio get do0", 1, "", "do0: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q dio edge di2 both", 1, "", "dio edge di2: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    // The system's driver has no trigger outputs, no debounce and no trigger switches.
    {"$Q dio trigger-enable di0 on", 1, "", "di0: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q dio trigger do0", 1, "", "trigger outputs: QRT_ERR_NOT_SUPPORTED (-5)\n", kNothing},
    {"$Q dio set do2=1", 1, "", "QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q dio set di0=1", 2, "", "inputs cannot be set", kNothing},
};

// The GPU card's fan, on its microcontroller.
const char* const kGpuRig = "[g]\nmodel = PCIe-RHXGPU-P1000\nsn = QG1000\n";

const std::vector<const char*> kGpuProbes = {"g/mcu/fan"};

const std::vector<Case> kGpuCases = {
    {"$Q fan status", 0, "fan 0: 3600 rpm, PWM 60, smart off\n", "", kNothing},
    {"$Q fan pwm 0 40 && $Q fan status -j", 0,
     R"({"product":0,"fans":[{"fan":0,"rpm":2400,"pwm":40,"smart":0}]})", "",
     R"({"g/mcu/fan/duty":40,"g/mcu/fan/rpm":2400})"},
    {"$Q fan smart 0 on && $Q fan smart 0 -j", 0, R"({"product":0,"fan":0,"smart":1})", "",
     R"({"g/mcu/fan/smart":true})"},
    {"$Q fan pwm 0 100", 1, "", "fan pwm 0: QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q fan pwm 1", 1, "", "fan pwm 1: QRT_ERR_INVALID_PARAM (-11)\n", kNothing},
    {"$Q fan smart 0 maybe", 2, "", "'maybe'", kNothing},
};
// clang-format on

// One rig and the command lines run against it.
struct Bench {
    const char* name;
    const char* rig;
    const std::vector<const char*>& probes;
    const std::vector<Case>& cases;
    bool system;  // the embedded system, which needs private mount and network namespaces
};

void PrintTo(const Bench& bench, std::ostream* out) {
    *out << bench.name;
}

const Bench kBenches[] = {{"Cards", kRig, kProbes, kCases, false},
                          {"EmbeddedSystem", kEmbeddedRig, kEmbeddedProbes, kEmbeddedCases, true},
                          {"GpuCard", kGpuRig, kGpuProbes, kGpuCases, false},
                          {"NoDriver", kUsb3Rig, kNoProbes, kNoDriverCases, false}};

class QrtctlEndToEnd : public qrttest::RigFixture {
  protected:
    QrtctlEndToEnd()
        : RigFixture({{"Q", QRTCTL_PATH},
                      {"SIM", QRT_SIM_PATH},
                      {"PYTHON", PYTHON_PATH},
                      {"PARSE_METRICS", METRICS_PARSER_PATH}}) {}
};

class QrtctlCommandLines : public QrtctlEndToEnd, public ::testing::WithParamInterface<Bench> {};

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

TEST_P(QrtctlCommandLines, GiveTheirOutputStatusAndEffect) {
    const Bench& bench = GetParam();
    // Loading the library detects the products, which sets some of them up.
    RigRun untouched = rig.run(bench.rig, "$Q --version; echo \"$QRT_SIM_NAMESPACES\"");
    ASSERT_EQ(untouched.status, 0) << untouched.errors;
    if (bench.system && untouched.output.find("mount,net\n") == std::string::npos)
        GTEST_SKIP() << kNoEmbeddedSystem;
    for (const Case& c : bench.cases) {
        SCOPED_TRACE(c.command);
        RigRun run = rig.run(bench.rig, c.command);
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
        for (const char* where : bench.probes) {
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

INSTANTIATE_TEST_SUITE_P(Rigs, QrtctlCommandLines, ::testing::ValuesIn(kBenches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QrtctlEndToEnd, MetricsAreValidPrometheusTextWithProductLabels) {
    RigRun run =
        rig.run(kRig, "$Q power set -p 1 2=off && $Q metrics | \"$PYTHON\" \"$PARSE_METRICS\"");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 1u) << run.output;
    const json& families = run.outputs[0];
    for (const auto& [name, family] : families.items()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.rfind("qrt_", 0), 0u);
        // The trigger counters count; everything else is a reading.
        EXPECT_EQ(family["type"], name == "qrt_toe_triggers" ? "counter" : "gauge");
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
