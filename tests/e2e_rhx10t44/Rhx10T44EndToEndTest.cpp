// The 10-gigabit card (PCIe-RHX10T, on an Intel X550) and the PCIe-RHX44+ (PoE power chip on
// bit-banged I2C) end to end: the C API library, unmodified, detects and drives the rig's
// boards; the state document shows what the hardware did, and no chip model saw a protocol
// violation.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_Types.h"
#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using qrttest::answerOf;
using qrttest::callLine;
using qrttest::reading;
using qrttest::RigRun;

constexpr int kUntouched = 7;

// Public port 0 is hardware port 1 on the 10-gigabit card: its camera (class 4) sits on the
// PSE's port 1, and the EEPROM's MAC slot 0 is the public port 0's.
const char* const kRig =
    "[a]\nmodel = PCIe-RHX10T\nsn = T10-0001\npcb_version = 3\ncard_id = 0x9A\n"
    "mcu_version = 2.3\npoe_class1 = 4\n"
    "mac0 = 02:10:00:00:00:00\nip0 = 10.0.0.1/24\nmac1 = 02:10:00:00:00:01\nip1 = 10.0.1.1/24\n"
    "[b]\nmodel = PCIe-RHX44+\n"
    // Not these cards: a part number without its prefix, a PCB revision below 5.
    "[c]\nmodel = PCIe-RHX10T\npn = 53105-00\n"
    "[d]\nmodel = PCIe-RHX44+\npcb_version = 4\n";

class Rhx10T44EndToEnd : public qrttest::RigFixture {
  protected:
    RigRun run(const std::string& command) {
        RigRun r = rig.run(kRig, command);
        EXPECT_EQ(r.status, 0) << r.errors;
        return r;
    }
};

// The identity and every reading of a product, as calls of the generic probe.
std::vector<std::string> productCalls(int index) {
    const std::string i = " " + std::to_string(index) + " ";
    return {"QRT_GetProductType" + i,
            "QRT_GetProductInfo" + i + "@512 512",
            "QRT_GetCardID" + i + "@1",
            "QRT_GetFeatureList" + i + "@8 8",
            "QRT_PoEGetPortNums" + i + "@1",
            "QRT_ToEGetPortNums" + i + "@1",
            "QRT_ExPowSupGetNums" + i + "@1",
            "QRT_ExPowSupGetState" + i + "@1 1",
            "QRT_PoEGetProperty" + i + std::to_string(QRT_POE_PROP_TOTAL_BUDGET) + " @1",
            "QRT_PoEGetPortEnable" + i + "@4 4",
            "QRT_PoEGetPowConsumCalcModel" + i + "@1",
            "QRT_PoEGetProtectTempRange" + i + "@1 @1",
            "QRT_PoEGetProperty" + i + std::to_string(QRT_POE_PROP_TEMPERATURE) + " @1",
            "QRT_PoEGetPortProperty" + i + "0 " + std::to_string(QRT_POEPORT_PROP_CURRENT) + " @1",
            "QRT_GetProductSN" + i + "@31 32"};
}

// The features a product listed: as many entries as the call counted.
json featuresOf(const json& answer) {
    json features = json::array();
    for (int i = 0; i < answer["status"].get<int>(); ++i) features.push_back(answer["args"][0][i]);
    return features;
}

TEST_F(Rhx10T44EndToEnd, BothCardsAreDetectedWithTheirIdentityAndNothingElse) {
    std::vector<std::string> calls = {"QRT_GetProductNums"};
    for (int index : {0, 1})
        for (const std::string& call : productCalls(index)) calls.push_back(call);
    RigRun r = run(callLine(calls));
    ASSERT_EQ(answerOf(r, "QRT_GetProductNums")["status"], 2) << r.errors;

    EXPECT_EQ(answerOf(r, "QRT_GetProductType", 0)["status"], 11);
    EXPECT_EQ(answerOf(r, "QRT_GetProductInfo", 0)["args"][0],
              "Product:PCIe-RHX10T\r\nCPLDVersion:20190618_1030\r\nMCUVersion:2.3\r\n"
              "PN:RHX53105-00\r\nSN:T10-0001\r\nPCBVersion:3\r\n"
              "MAC0: 02:10:00:00:00:00\r\nMAC1: 02:10:00:00:00:01\r\n");
    EXPECT_EQ(reading(answerOf(r, "QRT_GetCardID", 0)), json::array({0, 0x9A}));
    EXPECT_EQ(featuresOf(answerOf(r, "QRT_GetFeatureList", 0)), json::array({2, 3, 5}));
    EXPECT_EQ(reading(answerOf(r, "QRT_PoEGetPortNums", 0)), json::array({0, 2}));
    EXPECT_EQ(reading(answerOf(r, "QRT_ToEGetPortNums", 0)), json::array({0, 2}));
    EXPECT_EQ(reading(answerOf(r, "QRT_ExPowSupGetNums", 0)), json::array({0, 1}));
    // The 4-pin connector.
    EXPECT_EQ(reading(answerOf(r, "QRT_ExPowSupGetState", 0)), json::array({0, 1}));
    const json budget = reading(answerOf(r, "QRT_PoEGetProperty", 0), 1);
    EXPECT_EQ(budget[0], 0);
    EXPECT_FLOAT_EQ(budget[1].get<float>(), 61.6f);

    EXPECT_EQ(answerOf(r, "QRT_GetProductType", 1)["status"], 0);
    EXPECT_EQ(answerOf(r, "QRT_GetProductInfo", 1)["args"][0],
              "Product:PCIe-RHX44+\r\nCPLDVersion:20151020_1000\r\nPCBVersion:5\r\n");
    EXPECT_EQ(answerOf(r, "QRT_GetCardID", 1)["status"], -5);
    EXPECT_EQ(featuresOf(answerOf(r, "QRT_GetFeatureList", 1)), json::array({2, 5}));
    EXPECT_EQ(reading(answerOf(r, "QRT_PoEGetPortNums", 1)), json::array({0, 4}));
    EXPECT_EQ(reading(answerOf(r, "QRT_ExPowSupGetState", 1)), json::array({-5, kUntouched}));
    EXPECT_EQ(answerOf(r, "QRT_PoEGetProperty", 1)["status"], -5);
    // The host can only switch this card's ports: every reading is unsupported.
    for (const auto& [call, nth] :
         std::vector<std::pair<std::string, int>>{{"QRT_PoEGetPortEnable", 0},
                                                  {"QRT_PoEGetPowConsumCalcModel", 0},
                                                  {"QRT_PoEGetProtectTempRange", 0},
                                                  {"QRT_PoEGetProperty", 1},
                                                  {"QRT_PoEGetPortProperty", 0},
                                                  {"QRT_GetProductSN", 0}})
        EXPECT_EQ(answerOf(r, call, 1, nth)["status"], -5) << call;

    // Bring-up set the power chip's detections, one command cache run per transaction.
    const json& board = r.board("b");
    EXPECT_EQ(board["power_chip"]["dc_enable"], 0x0F);
    EXPECT_EQ(board["power_chip"]["ac_enable"], 0);
    EXPECT_EQ(board["power_chip"]["commands"], json({{"dc_detection", 1}, {"ac_detection", 1}}));
    EXPECT_EQ(board["gpio_i2c"]["transactions"], 2);
    EXPECT_EQ(board["gpio_i2c"]["cache_executions"], 2);
    // The X550's second LAN function is refused before its I2C master is used.
    EXPECT_EQ(r.board("a")["x550"][1]["i2c_commands"], 0);
}

// Set the PoE port enables, then read them back, in one process.
std::string enableCalls(int index, const std::string& enables) {
    const std::string n = std::to_string(std::count(enables.begin(), enables.end(), ',') + 1);
    const std::string i = " " + std::to_string(index) + " ";
    return callLine({"QRT_PoESetPortEnable" + i + enables + " " + n,
                     "QRT_PoEGetPortEnable" + i + "@" + n + " " + n});
}

std::string currentCall(int port) {
    return callLine({"QRT_PoEGetPortProperty 0 " + std::to_string(port) + " " +
                     std::to_string(QRT_POEPORT_PROP_CURRENT) + " @1"});
}

TEST_F(Rhx10T44EndToEnd, PortListsReachTheHardwarePortsAndTheCallersArrayStaysAsItWas) {
    RigRun r = run(enableCalls(0, "1,0") + "; " + currentCall(0) + "; " + currentCall(1) + "; " +
                   enableCalls(1, "1,0,1,1") + "; " + enableCalls(1, "0,1,0,0,1,1,1,1") + "; " +
                   enableCalls(1, "1,1,1"));
    ASSERT_EQ(r.outputs.size(), 10u) << r.errors;
    // The caller's list as the library left it, and the list read back.
    EXPECT_EQ(r.outputs[0]["status"], 0);
    EXPECT_EQ(r.outputs[0]["args"][0], json::array({1, 0}));
    EXPECT_EQ(r.outputs[1]["status"], 0);
    EXPECT_EQ(r.outputs[1]["args"][0], json::array({1, 0}));
    const json& pse = r.board("a")["mcu"]["ports"];
    EXPECT_EQ(pse[0]["enabled"], false);
    EXPECT_EQ(pse[1]["enabled"], true);
    // The current of public port 0 is the PSE's port 1, where the camera is.
    EXPECT_EQ(r.outputs[2]["status"], 0);
    EXPECT_GT(r.outputs[2]["args"][2][0].get<float>(), 0.3f);
    EXPECT_EQ(r.outputs[3]["args"][2][0], 0.0);

    // The RHX44+: the first four entries make the port mask; a short list is refused.
    EXPECT_EQ(r.outputs[4]["status"], 0);
    EXPECT_EQ(r.outputs[4]["args"][0], json::array({1, 0, 1, 1}));
    EXPECT_EQ(r.outputs[5]["status"], -5);
    EXPECT_EQ(r.outputs[6]["status"], 0);
    EXPECT_EQ(r.outputs[8]["status"], -11);
    EXPECT_NE(r.trace.find("[b] i2c-gpio write addr=0x20 30 01 0d 00"), std::string::npos);
    EXPECT_NE(r.trace.find("[b] i2c-gpio write addr=0x20 30 01 02 00"), std::string::npos);
    const json& board = r.board("b");
    EXPECT_EQ(board["power_chip"]["port_mask"], 0x02);
    // Six programs brought the card up (two transactions each) and two switched ports.
    EXPECT_EQ(board["gpio_i2c"]["transactions"], 14);
    EXPECT_EQ(board["gpio_i2c"]["cache_executions"], 14);
}

// The frame the CPLD holds for a hardware port, as tshark decodes it: IPv4 and UDP checksum
// statuses (1: good) and the GVCP command.
std::string tsharkFields(const std::string& packetHex, const std::string& dir) {
    std::vector<uint8_t> frame;
    for (size_t i = 0; i + 1 < packetHex.size() && frame.size() < 62; i += 2)
        frame.push_back(uint8_t(std::stoul(packetHex.substr(i, 2), nullptr, 16)));
    const std::string pcap = dir + "/frame.pcap";
    std::ofstream out(pcap, std::ios::binary);
    const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    const uint32_t record[4] = {0, 0, uint32_t(frame.size()), uint32_t(frame.size())};
    out.write(reinterpret_cast<const char*>(record), sizeof record);
    out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
    out.close();
    const std::string command =
        "tshark -r '" + pcap +
        "' -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -T fields -e eth.src "
        "-e ip.src -e ip.dst -e ip.checksum.status -e udp.checksum.status -e udp.dstport "
        "2>/dev/null";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
        pclose(pipe);
    }
    return text;
}

TEST_F(Rhx10T44EndToEnd, ActionCommandsUseTheHardwarePortsPacketMemoryAndCounters) {
    RigRun r = run(callLine({"QRT_ToESetActionCommand 0 0 0x11223344 0x55667788 0xFFFFFFFF",
                             "QRT_ToEGetActionCommand 0 0 @1 @1 @1"}) +
                   "; " + callLine({"QRT_ToESendActionCommand 0 0"}) + "; " +
                   callLine({"QRT_ToESendActionCommand 0 -1"}) + "; " +
                   callLine({"QRT_ToEGetTriggerCount 0 0 @1 @1"}) + "; " +
                   callLine({"QRT_ToEGetTriggerCount 0 1 @1 @1"}));
    ASSERT_EQ(r.outputs.size(), 6u) << r.errors;
    if (r.outputs[0]["status"] == -1 && r.errors.find("no network namespace") != std::string::npos)
        GTEST_SKIP() << "no host interfaces without a network namespace";
    EXPECT_EQ(r.outputs[0]["status"], 0);
    EXPECT_EQ(r.outputs[1]["status"], 0);
    EXPECT_EQ(r.outputs[1]["args"],
              json::array({0, json::array({0x11223344u}), json::array({0x55667788u}),
                           json::array({0xFFFFFFFFu})}));
    EXPECT_EQ(r.outputs[2]["status"], 0);
    EXPECT_EQ(r.outputs[3]["status"], 0);

    // Public port 0's frame (MAC slot 0, interface 10.0.0.1) sits in hardware port 1's memory.
    const json& ports = r.board("a")["cpld"]["ports"];
    const std::string packet = ports[1]["packet"];
    EXPECT_EQ(packet.substr(0, 24), "ffffffffffff021000000000");
    EXPECT_EQ(ports[0]["packet"], std::string(128, '0'));
    EXPECT_EQ(ports[1]["sent_count"], 2);
    EXPECT_EQ(ports[0]["sent_count"], 1);
    EXPECT_EQ(r.board("a")["cpld"]["smbus_header"]["slave_address"], 0x62);
    EXPECT_EQ(r.outputs[4]["args"], json::array({0, json::array({0}), json::array({2})}));
    EXPECT_EQ(r.outputs[5]["args"], json::array({1, json::array({0}), json::array({1})}));

    char dir[] = "/tmp/qrt-rhx10t-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    EXPECT_EQ(tsharkFields(packet, dir), "02:10:00:00:00:00\t10.0.0.1\t10.0.0.255\t1\t1\t3956\n");
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
