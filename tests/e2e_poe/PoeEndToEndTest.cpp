// PoE frame-grabber cards end to end: the C API library, unmodified, detects and drives the
// rig's PoE boards through the kit's driver interface. What the probe reports must match the
// rig file and the rig's state document; the action commands the CPLD sends are dissected by
// Wireshark's own dissector and received by a plain UDP socket at the cable's far end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_Types.h"
#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;

constexpr int kUntouched = 7;

class PoeEndToEnd : public qrttest::RigFixture {
  protected:
    PoeEndToEnd() : RigFixture({{"PROBE", POE_API_PROBE_PATH}}) {}

    // Runs the probe once in the rig and returns its document.
    json probe(const std::string& rigText, const std::string& request, RigRun* out = nullptr,
               const std::string& options = "") {
        RigRun run =
            rig.run(rigText, "$PROBE " + request, qrttest::RigRunner::kNoViolations, options);
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.outputs.size(), 1u) << run.errors;
        json document = run.outputs.empty() ? json() : run.outputs[0];
        if (out != nullptr) *out = std::move(run);
        return document;
    }
    // Runs the generic probe's calls in one process: their statuses and the first argument
    // of each after the call.
    std::vector<json> call(const std::string& rigText, const std::vector<std::string>& calls,
                           RigRun* out) {
        *out = rig.run(rigText, qrttest::callLine(calls));
        EXPECT_EQ(out->status, 0) << out->errors;
        EXPECT_EQ(out->outputs.size(), calls.size()) << out->errors;
        std::vector<json> answers;
        for (const json& answer : out->outputs) answers.push_back(qrttest::reading(answer));
        return answers;
    }
};

// The statuses of answers [from, to) of a call() run.
json statuses(const std::vector<json>& answers, size_t from, size_t to) {
    json result = json::array();
    for (size_t i = from; i < to && i < answers.size(); ++i) result.push_back(answers[i][0]);
    return result;
}

// ---------------------------------------------------------------------------------------------

struct Model {
    const char* model;
    int type;
    unsigned ports;
    const char* cpld;  // the CPLD stamp the board ships with
    const char* pn;    // board part number; null: identified by straps, no PN and SN lines
    int pcb;
    bool pro;  // trigger over Ethernet, MAC lines
    std::vector<int> features;
};

// clang-format off
const Model kModels[] = {
    {"PCIe-RHX52",        1,  2, "20160718_1110", nullptr,    1, false, {2, 5}},
    {"PCIe-RHX54",        2,  4, "20160718_1110", nullptr,    1, false, {2, 5}},
    {"PCIe-RHX52PRO",     3,  2, "20170126_1417", nullptr,    1, true,  {2, 3, 5}},
    {"PCIe-RHX54PRO",     4,  4, "20170126_1417", nullptr,    1, true,  {2, 3, 5}},
    {"PCIe-RHXGPU-P1000", 5,  4, "20180611_0930", "27642-00", 1, true,  {2, 3, 5, 6}},
    {"PCIe-RHX52P",       13, 2, "20190423_1530", "27640-15", 2, false, {2, 5}},
    {"PCIe-RHX54P",       14, 4, "20190423_1530", "27640-0B", 2, false, {2, 5}},
    {"PCIe-RHX52PPRO",    15, 2, "20190423_1600", "27640-16", 2, true,  {2, 3, 5}},
    {"PCIe-RHX54PPRO",    16, 4, "20190423_1600", "27640-09", 2, true,  {2, 3, 5}},
    {"PCIe-RHX54I",       20, 4, "20200316_1045", "27640-0D", 2, false, {2, 5}},
    {"PCIe-RHX54IPRO",    21, 4, "20200316_1100", "27640-0F", 2, true,  {2, 3, 5}},
    {"PCIe-RHX54PAT",     22, 4, "20210902_1420", "27640-0H", 3, false, {2, 5}},
};
// clang-format on

// What the identity text of a model must read; MAC addresses from the rig's EEPROM.
std::string expectedInfo(const Model& m, const std::string& sn, const std::string& mcu,
                         const json& macs) {
    std::string text = std::string("Product:") + m.model + "\r\nCPLDVersion:" + m.cpld +
                       "\r\nMCUVersion:" + mcu + "\r\n";
    if (m.pn != nullptr) text += std::string("PN:RHX") + m.pn + "\r\nSN:" + sn + "\r\n";
    text += "PCBVersion:" + std::to_string(m.pcb) + "\r\n";
    for (unsigned port = 0; m.pro && port < m.ports; ++port)
        text += "MAC" + std::to_string(port) + ": " + macs[port].get<std::string>() + "\r\n";
    return text;
}

TEST_F(PoeEndToEnd, EveryModelIsListedWithItsIdentityAndMisfitsLeaveNoGap) {
    // Every model in one rig, with boards that match no model between them: a CPLD stamp of
    // no series, a PCB revision 1 board with a part number, a part number without its prefix.
    std::string rigText;
    const char* misfits[] = {"model = PCIe-RHX52\ncpld_version = 20160718_1111\n",
                             "model = PCIe-RHX54P\npcb_version = 1\n",
                             "model = PCIe-RHX54PPRO\npn = 27640-09\n"};
    for (size_t i = 0; i < std::size(kModels); ++i) {
        char section[8];
        std::snprintf(section, sizeof section, "s%02zu", i);
        rigText += std::string("[") + section + "]\nmodel = " + kModels[i].model + "\nsn = SN" +
                   section + "\ncard_id = " + std::to_string(i) + "\nmcu_version = 1." +
                   std::to_string(i) + "\n";
        if (i % 4 == 1) rigText += std::string("[") + section + "x]\n" + misfits[i / 4];
    }
    RigRun run;
    json document = probe(rigText, "list", &run);
    ASSERT_EQ(document["products"], std::size(kModels)) << document.dump(1);
    for (size_t i = 0; i < std::size(kModels); ++i) {
        const Model& m = kModels[i];
        SCOPED_TRACE(m.model);
        char section[8];
        std::snprintf(section, sizeof section, "s%02zu", i);
        const json& p = document["list"][i];
        const json& board = run.board(section);
        EXPECT_EQ(p["type"], m.type);
        EXPECT_EQ(p["info_status"], 0);
        EXPECT_EQ(p["info"], expectedInfo(m, std::string("SN") + section, "1." + std::to_string(i),
                                          board["eeprom"]["identity"]["mac"]));
        EXPECT_EQ(p["features"], json(m.features));
        EXPECT_EQ(p["poe_ports"], m.ports);
        EXPECT_EQ(p["toe_ports"], m.pro ? json(m.ports) : json());
        EXPECT_EQ(p["fans"], m.features.size() == 4 ? json(1) : json());  // only the GPU's
        EXPECT_EQ(p["card_id"], i);
    }
}

TEST_F(PoeEndToEnd, TheDefaultRigListsBothItsCards) {
    json document = probe("", "list");
    ASSERT_EQ(document["products"], 2) << document.dump(1);
    EXPECT_EQ(document["list"][0]["type"], 8);
    EXPECT_EQ(document["list"][1]["type"], 14);
}

// ---------------------------------------------------------------------------------------------

TEST_F(PoeEndToEnd, ReadingsFollowTheRigsMicrocontrollerAndPse) {
    // Each family on each power source; the cameras on the ports of class 3, class 0 (code 6)
    // and one the PSE could not settle (code 7); port 3 has none.
    struct Family {
        const char* model;
        std::vector<std::vector<int>> states;  // by power source
        std::vector<double> budget;            // by power source; < 0: refused
    } families[] = {
        {"PCIe-RHX54P", {{0}, {0}, {0}, {1}}, {61.6, -1, 20, 61.6}},
        {"PCIe-RHX54PPRO", {{0, 1}, {1, 1}, {0, 0}, {1, 0}}, {61.6, 120, 20, 61.6}},
        {"PCIe-RHXGPU-P1000", {{1}, {0}, {0}, {0}}, {61.6, -1, 20, -1}},
    };
    std::string rigText;
    for (int f = 0; f < 3; ++f)
        for (int source = 0; source < 4; ++source)
            rigText += "[" + std::to_string(f) + std::to_string(source) +
                       "]\nmodel = " + families[f].model +
                       "\npower_source = " + std::to_string(source) +
                       "\ntemperature = 47.5\npoe_class0 = 3\npoe_class1 = 6\npoe_class2 = 7\n";
    RigRun run;
    json document = probe(rigText, "list", &run);
    ASSERT_EQ(document["products"], 12) << document.dump(1);
    const float classes[4] = {3.0f, 0.0f, -1.0f, -2.0f};
    for (int f = 0; f < 3; ++f) {
        for (int source = 0; source < 4; ++source) {
            SCOPED_TRACE(std::string(families[f].model) + " on source " + std::to_string(source));
            const json& p = document["list"][f * 4 + source];
            const json& mcu = run.board(std::to_string(f) + std::to_string(source))["mcu"];
            std::vector<int> states = families[f].states[source];
            states.push_back(kUntouched);
            EXPECT_EQ(p["input_states_status"], 0);
            EXPECT_EQ(p["input_states"], json(states));
            const json& budget = p["properties"][6];
            if (families[f].budget[source] < 0) {
                EXPECT_EQ(budget["status"], -1);
            } else {
                EXPECT_EQ(budget["status"], 0);
                EXPECT_NEAR(budget["value"].get<double>(), families[f].budget[source], 1e-4);
            }
            EXPECT_EQ(p["properties"][2]["value"], 1.0);  // device-state bit 5 clear
            EXPECT_EQ(p["properties"][3]["value"], 47.5);
            EXPECT_NEAR(p["properties"][4]["value"].get<double>(),
                        mcu["consumed_budget_w"].get<double>(), 1e-4);
            EXPECT_NEAR(p["properties"][5]["value"].get<double>(),
                        mcu["left_budget_w"].get<double>(), 1e-4);
            for (int port = 0; port < 4; ++port) {
                const json& row = p["port_properties"][port];
                const json& state = mcu["ports"][port];
                for (const json& r : row) EXPECT_EQ(r["status"], 0) << "port " << port;
                EXPECT_NEAR(row[0]["value"].get<double>(),
                            state["current_counts"].get<int>() * 122.07e-6, 1e-5);
                EXPECT_NEAR(row[1]["value"].get<double>(),
                            state["voltage_counts"].get<int>() * 5.835e-3, 1e-4);
                EXPECT_EQ(row[2]["value"], classes[port]);
                EXPECT_EQ(row[3]["value"], state["powered"].get<bool>() ? 1.0 : 0.0);
                EXPECT_EQ(row[4]["value"], state["last_power_state"]);
            }
        }
    }
}

TEST_F(PoeEndToEnd, PoeSettingsReachTheMicrocontroller) {
    struct Case {
        const char* keys;
        std::vector<int> request;  // enables, protect, recover, mode
        std::vector<int> set;
        std::vector<int> enables;  // read back, one entry more than given
        int protect, recover, mode;
        int modeStatus;
    } cases[] = {
        // Firmware 1.13 has no power consumption calculation; a two-port card leaves entries
        // beyond its ports alone.
        {"model = PCIe-RHX52\nmcu_version = 1.13\n",
         {0, 1, 1, 1, 120, 100, 1},
         {0, 0, -5},
         {0, 1, kUntouched, kUntouched, kUntouched},
         120,
         100,
         0,
         -5},
        {"model = PCIe-RHX54PPRO\nmcu_version = 1.14\n",
         {1, 0, 1, 0, 85, 70, 1},
         {0, 0, 0},
         {1, 0, 1, 0, kUntouched},
         85,
         70,
         1,
         0},
        // No protection temperatures the kit may set on the GPU card.
        {"model = PCIe-RHXGPU-P1000\nmcu_version = 1.0\n",
         {0, 0, 0, 1, 90, 80, 1},
         {0, -5, 0},
         {0, 0, 0, 1, kUntouched},
         100,
         85,
         1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        RigRun run;
        const auto arg = [&](size_t i) { return std::to_string(c.request[i]); };
        const std::vector<json> answers = call(
            std::string("[card]\n") + c.keys,
            {"QRT_PoESetPortEnable 0 " + arg(0) + "," + arg(1) + "," + arg(2) + "," + arg(3) + " 4",
             "QRT_PoESetProtectTempRange 0 " + arg(4) + " " + arg(5),
             "QRT_PoESetPowConsumCalcModel 0 " + arg(6), "QRT_PoEGetPortEnable 0 @5 5",
             "QRT_PoEGetProtectTempRange 0 @1 @1", "QRT_PoEGetPowConsumCalcModel 0 @1"},
            &run);
        ASSERT_EQ(answers.size(), 6u);
        EXPECT_EQ(statuses(answers, 0, 3), json(c.set));
        EXPECT_EQ(answers[3], json::array({0, c.enables}));
        EXPECT_EQ(answers[5][0], c.modeStatus);
        const json& mcu = run.board("card")["mcu"];
        for (size_t port = 0; port < 4 && c.enables[port] != kUntouched; ++port)
            EXPECT_EQ(mcu["ports"][port]["enabled"], c.enables[port] == 1) << port;
        EXPECT_EQ(mcu["protect_temperature"], c.protect);
        EXPECT_EQ(mcu["recovery_temperature"], c.recover);
        EXPECT_EQ(mcu["power_budget_control"], c.mode);
    }
}

TEST_F(PoeEndToEnd, FanOfTheGpuCard) {
    RigRun run;
    const std::vector<json> answers =
        call("[card]\nmodel = PCIe-RHXGPU-P1000\n",
             {"QRT_FanSetPWM 0 0 45", "QRT_FanSetSmartFanEnable 0 0 1", "QRT_FanSetPWM 0 0 100",
              "QRT_FanSetPWM 0 1 45", "QRT_FanGetPWM 0 0 @1", "QRT_FanGetSmartFanEnable 0 0 @1",
              "QRT_FanGetSpeed 0 0 @1"},
             &run);
    ASSERT_EQ(answers.size(), 7u);
    EXPECT_EQ(statuses(answers, 0, 4), json({0, 0, -11, -11}));  // duty 100 and fan 1 refused
    const json& state = run.board("card")["mcu"]["fan"];
    EXPECT_EQ(state["duty"], 45);
    EXPECT_EQ(state["smart"], true);
    // The readings of fan 0: the second argument.
    EXPECT_EQ(qrttest::reading(run.outputs[4], 1), json({0, 45}));
    EXPECT_EQ(qrttest::reading(run.outputs[5], 1), json({0, 1}));
    EXPECT_EQ(qrttest::reading(run.outputs[6], 1), json({0, state["rpm"]}));
}

// ---------------------------------------------------------------------------------------------

// Runs tshark on a capture with checksum validation; one line of fields per frame.
std::vector<std::string> dissect(const std::string& pcap) {
    std::string command =
        "tshark -r '" + pcap +
        "' -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -T fields -E separator=, "
        "-e eth.src -e eth.dst -e ip.src -e ip.dst -e ip.checksum.status -e udp.srcport "
        "-e udp.dstport -e udp.checksum.status -e gvcp.cmd.command -e gvcp.cmd.action.devicekey "
        "-e gvcp.cmd.action.groupkey -e gvcp.cmd.action.groupmask 2>/dev/null";
    std::vector<std::string> lines;
    if (FILE* in = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, in)) {
            std::string text(line);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            lines.push_back(text);
        }
        pclose(in);
    }
    return lines;
}

TEST_F(PoeEndToEnd, ActionCommandsGoOnTheWireAsValidGvcpFrames) {
    const std::string rigText =
        "[card]\nmodel = PCIe-RHX52PPRO\n"
        "mac0 = 02:00:00:00:0a:00\nip0 = 10.0.0.1/24\n"
        "mac1 = 02:00:00:00:0a:01\nip1 = 192.168.5.20/24\n";
    const std::string pcap = rig.dir() + "/toe.pcap";
    RigRun run = rig.run(rigText,
                         "$PROBE toe 0 0 0x7711223344 0xA1B2C3D4 0xFFFFFFFF cardp0 && "
                         "$PROBE toe 0 1 1 2 0x80000000 cardp1",
                         qrttest::RigRunner::kNoViolations, "--pcap '" + pcap + "'");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 2u) << run.errors;
    const json& first = run.outputs[0]["toe"];
    EXPECT_EQ(first["set_status"], 0);
    EXPECT_EQ(first["send_status"], 0);
    EXPECT_EQ(first["get_status"], 0);
    // The device key keeps its low 32 bits; a full mask comes back full, not sign-extended.
    EXPECT_EQ(first["get"], json({0x11223344u, 0xA1B2C3D4u, 0xFFFFFFFFu}));
    EXPECT_EQ(run.outputs[1]["toe"]["get"], json({1u, 2u, 0x80000000u}));
    EXPECT_EQ(run.state["frames"], 2);

    // The camera's side: a plain UDP socket on port 3956 behind each cable.
    if (std::string(run.errors).find("no network namespace") == std::string::npos) {
        const json& far = first["far_end"];
        EXPECT_EQ(far["received"], true) << first.dump();
        EXPECT_EQ(far["source"], "10.0.0.1");
        EXPECT_EQ(far["source_port"], 65535);
        EXPECT_EQ(far["payload"], "42000100000c000111223344a1b2c3d4ffffffff");
        EXPECT_EQ(run.outputs[1]["toe"]["far_end"]["source"], "192.168.5.20");
    }

    if (std::system("tshark -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    std::vector<std::string> frames = dissect(pcap);
    // Checksum status 1: good.
    EXPECT_EQ(frames,
              (std::vector<std::string>{
                  "02:00:00:00:0a:00,ff:ff:ff:ff:ff:ff,10.0.0.1,10.0.0.255,1,65535,3956,1,"
                  "0x0100,0x11223344,0xa1b2c3d4,0xffffffff",
                  "02:00:00:00:0a:01,ff:ff:ff:ff:ff:ff,192.168.5.20,192.168.5.255,1,65535,3956,"
                  "1,0x0100,0x00000001,0x00000002,0x80000000"}));
}

TEST_F(PoeEndToEnd, TriggerSettingsChangeOnlyTheirFieldOfTheControlWord) {
    RigRun run;
    const std::string edge0 = std::to_string(QRT_EDGE_TRIGGER_EDGE0);
    const std::string both = std::to_string(QRT_EDGE_TRIGGER_BOTH);
    const std::vector<json> answers =
        call("[card]\nmodel = PCIe-RHX54IPRO\n",
             {"QRT_ToESetExTriggerDebounce 0 0x00ABCDEF", "QRT_ToESetTriggerActivation 0 " + edge0,
              "QRT_ToESetTriggerSource 0 1", "QRT_ToESetOneTriggerAllMode 0 9",
              "QRT_ToESetTriggerEnable 0 1", "QRT_ToESetTriggerActivation 0 " + both,
              "QRT_ToESetTriggerEnable 0 0", "QRT_ToESetTriggerActivation 0 3",
              "QRT_ToESetExTriggerDebounce 0 0x1000000", "QRT_ToEGetTriggerSource 0 @1",
              "QRT_ToEGetTriggerEnable 0 @1", "QRT_ToEGetOneTriggerAllMode 0 @1",
              "QRT_ToEGetTriggerActivation 0 @1", "QRT_ToEGetExTriggerDebounce 0 @1",
              "QRT_ToEGetExTriggerDebounceUnit 0 @1", "QRT_ToEGetTriggerCount 0 0 @1 @1",
              "QRT_ToEResetTriggerCount 0"},
             &run);
    ASSERT_EQ(answers.size(), 17u);
    // Activation mode 3 and a debounce beyond 24 bits are refused.
    EXPECT_EQ(statuses(answers, 0, 9), json({0, 0, 0, 0, 0, 0, 0, -11, -11}));
    EXPECT_EQ(statuses(answers, 9, 17), json({0, 0, 0, 0, 0, 0, 0, 0}));
    json values = json::array();
    for (size_t i = 9; i < 15; ++i) values.push_back(answers[i][1]);
    EXPECT_EQ(values, json({1, 0, 1, 2, 0xABCDEF, 40}));
    const json& control = run.board("card")["cpld"]["toe_control"];
    EXPECT_EQ(control, json({{"trigger_enable", false},
                             {"edge_select_a", true},
                             {"edge_select_b", true},
                             {"one_trigger_all", true},
                             {"dpram_read_back", false},
                             {"trigger_source", true},
                             {"ex_trigger_debounce", 0xABCDEF}}));
}

// ---------------------------------------------------------------------------------------------

TEST_F(PoeEndToEnd, ThreadsOnOneCardNeverSplitAnEepromReadOnTheBus) {
    RigRun run;
    json out = probe("[card]\nmodel = PCIe-RHX54PPRO\n", "threads 0 6", &run);
    for (const json& results : out["threads"]["workers"]) EXPECT_EQ(results, json({0, 0, 0, 0, 0}));
    EXPECT_EQ(out["threads"]["after"], 0);
    // The CPLD's I2C master, message by message: the EEPROM's address write is followed by
    // its read, never by microcontroller traffic.
    std::vector<std::string> messages;
    std::istringstream trace(run.trace);
    for (std::string line; std::getline(trace, line);)
        if (line.rfind("[card] i2c-master ", 0) == 0) messages.push_back(line.substr(18));
    size_t eepromReads = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].rfind("write addr=0x50", 0) != 0) continue;
        ASSERT_LT(i + 1, messages.size());
        EXPECT_EQ(messages[i + 1].rfind("read addr=0x50", 0), 0u) << messages[i + 1];
        ++eepromReads;
    }
    // The part number and the MAC addresses at detection, the serial number at least once: the
    // card's identity is read once and kept, so the threads do not each read it again.
    EXPECT_GE(eepromReads, 6u);
    // No lock is left held: not the card's, not the driver's.
    for (const json& function : run.state["driver"]["functions"])
        EXPECT_EQ(function["locked"], false);
}

}  // namespace
