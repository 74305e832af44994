// qrtctl end to end: each command line runs under qrt-sim against one rig; its exit status,
// its output (text, and JSON parsed) and what it did to the rig's hardware are checked.

#include <gtest/gtest.h>

#include <cstdio>
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

// Product 0: a 12-port USB3 card with an external supply plugged in; product 1: a 4-port card
// of PCB revision 0 (no supply input).
const char* const kRig =
    "[a]\nmodel = PCIe-W512P\nsn = QA512\nex_power = 1\n"
    "[b]\nmodel = PCIe-W504\nsn = QB504\n";

const char* const kAllOn12 = "[1,1,1,1,1,1,1,1,1,1,1,1]";
const char* const kAllOn4 = "[1,1,1,1]";

struct Case {
    const char* command;  // a shell line; $Q is qrtctl
    int status;
    // Standard output: a JSON document equal to the last line, or lines that must all appear.
    const char* output;
    const char* error;     // text standard error must contain ("" : no qrtctl message)
    const char* power[2];  // port power of boards a and b afterwards
};

// clang-format off
const Case kCases[] = {
    // Products and their identity.
    {"$Q list", 0,
     "INDEX  MODEL               TYPE   SERIAL            FEATURES\n"
     "0      PCIe-W512P          19     QA512             power,exsupply\n"
     "1      PCIe-W504           8      QB504             power\n", "", {kAllOn12, kAllOn4}},
    {"$Q list --json", 0,
     R"({"products":[{"index":0,"model":"PCIe-W512P","type":19,"sn":"QA512","features":["power","exsupply"]},
                     {"index":1,"model":"PCIe-W504","type":8,"sn":"QB504","features":["power"]}]})",
     "", {kAllOn12, kAllOn4}},
    {"$Q info -p 1 -j", 0,
     R"({"sdk":{"Driver Version":"1.4.2","SDK Version":"1.7.7.0130"},
         "products":[{"index":1,"type":8,"card_id":1,"info":{"Product":"PCIe-W504","MCUVersion":"1.0",
                      "PN":"W5-53104-10","SN":"QB504","PCBVersion":"0"}}]})", "", {kAllOn12, kAllOn4}},
    {"$Q info", 0, "SDK Version:1.7.7.0130\n[product 0]\nProduct:PCIe-W512P\n[product 1]\nCardID:1\n", "",
     {kAllOn12, kAllOn4}},
    // USB port power: assignments, whole lists, read back by a second process.
    {"$Q power set -p 1 1=off 3=0 && $Q power get --product=1", 0,
     "port 0: on\nport 1: off\nport 2: on\nport 3: off\n", "", {kAllOn12, "[1,0,1,0]"}},
    {"$Q power set 0,0,0,1,1,1,1,1,1,1,1,off && $Q power get -j", 0,
     R"({"product":0,"ports":[0,0,0,1,1,1,1,1,1,1,1,0]})", "", {"[0,0,0,1,1,1,1,1,1,1,1,0]", kAllOn4}},
    {"$Q power set -p 1 0x2=off", 0, "", "", {kAllOn12, "[1,1,0,1]"}},
    {"$Q exsupply get -j", 0, R"({"product":0,"supplies":[1]})", "", {kAllOn12, kAllOn4}},
    // Failures of the SDK: exit 1, the status named, nothing changed.
    {"$Q power get -p 2", 1, "", "qrtctl: product 2 (2 products found): QRT_ERR_INVALID_PARAM (-11)\n",
     {kAllOn12, kAllOn4}},
    {"$Q power set -p 1 4=on", 1, "", "port 4 (4 ports): QRT_ERR_INVALID_PARAM (-11)\n", {kAllOn12, kAllOn4}},
    {"$Q power set -p 1 1,0,1", 1, "", "port power: QRT_ERR_INVALID_PARAM (-11)\n", {kAllOn12, kAllOn4}},
    {"$Q exsupply get -p 1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", {kAllOn12, kAllOn4}},
    {"$Q poe set 0=off", 1, "", "product 0: PoE port enables count: QRT_ERR_NOT_SUPPORTED (-5)\n",
     {kAllOn12, kAllOn4}},
    {"$Q toe send all", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", {kAllOn12, kAllOn4}},
    {"$Q fan pwm 0 40", 1, "", "product 0: fan pwm 0: QRT_ERR_NOT_SUPPORTED (-5)\n", {kAllOn12, kAllOn4}},
    {"$Q dio set do0=1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", {kAllOn12, kAllOn4}},
    {"$Q dio monitor --count 1 -p 1", 1, "", "QRT_ERR_NOT_SUPPORTED (-5)\n", {kAllOn12, kAllOn4}},
    // A wrong command line: exit 2 with usage, nothing changed.
    {"$Q power set -p 1 1=maybe", 2, "", "qrtctl: value: 'maybe' is not a number\n"
     "Usage: qrtctl power set [OPTIONS] values...\n", {kAllOn12, kAllOn4}},
    {"$Q power set -p 1 1,,0,1", 2, "", "is not a number", {kAllOn12, kAllOn4}},
    {"$Q power get -p -1", 2, "", "Usage: qrtctl power get", {kAllOn12, kAllOn4}},
    {"$Q power set 99999999999=on", 2, "", "port: 99999999999 is out of range", {kAllOn12, kAllOn4}},
    {"$Q toe command 0 1 2", 2, "", "give PORT, or PORT DEVICE_KEY GROUP_KEY GROUP_MASK", {kAllOn12, kAllOn4}},
    {"$Q dio edge do0 both", 2, "", "edge applies to digital inputs only", {kAllOn12, kAllOn4}},
    {"$Q power", 2, "", "Usage: qrtctl power [OPTIONS] SUBCOMMAND", {kAllOn12, kAllOn4}},
    {"$Q frobnicate", 2, "", "Usage: qrtctl [OPTIONS] SUBCOMMAND", {kAllOn12, kAllOn4}},
    {"$Q poe status --help", 0, "Usage: qrtctl poe status [OPTIONS]", "", {kAllOn12, kAllOn4}},
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

TEST_F(QrtctlEndToEnd, CommandLinesGiveTheirOutputStatusAndEffect) {
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
        EXPECT_EQ(run.board("a")["port_power"], json::parse(c.power[0])) << run.state.dump();
        EXPECT_EQ(run.board("b")["port_power"], json::parse(c.power[1]));
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
    EXPECT_EQ(families["qrt_products"]["samples"][0]["value"], 2.0);
    const json& power = families["qrt_usb_port_power_enabled"]["samples"];
    ASSERT_EQ(power.size(), 16u);
    EXPECT_EQ(power[14]["labels"],
              json({{"product", "1"}, {"model", "PCIe-W504"}, {"sn", "QB504"}, {"port", "2"}}));
    EXPECT_EQ(power[14]["value"], 0.0);
    EXPECT_EQ(families["qrt_external_supply_connected"]["samples"].size(), 1u);
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
