// USB3 host cards end to end: the C API library, unmodified, detects and drives the virtual
// cards of a rig through the kit's driver interface; the rig's state document shows what the
// hardware did.

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

constexpr int kUntouched = 7;  // the probe's fill value for entries the library must not write

using qrttest::RigRun;

// The rig runner works without root (the driver bridge alone); without it there is nothing to
// test against. The probes are single-threaded, so their pauses are counted, not slept.
class Usb3EndToEnd : public qrttest::RigFixture {
  protected:
    Usb3EndToEnd() : RigFixture({{"SERIES", USB3_SERIES_PROBE_PATH}}) {}
};

// Every product's identity, features and port count, through the generic probe.
const std::string kListCalls = qrttest::callLine({
    "QRT_GetProductNums",
    "QRT_GetProductType all",
    "QRT_GetProductInfo all @511 512",
    "QRT_GetProductSN all @63 64",
    "QRT_GetCardID all @1",
    "QRT_GetFeatureList all @8 8",
    "QRT_GetFeatureList all @1 1",  // a list that does not fit
    "QRT_PowCtrlGetPortNums all @1",
});
// Every product's type and external supply input.
const std::string kSupplyCalls = qrttest::callLine({
    "QRT_GetProductType all",
    "QRT_ExPowSupGetNums all @1",
    "QRT_ExPowSupGetState all @1 1",
});

// The indices of the products of a type in a run of the calls above.
std::vector<int> productsOfType(const RigRun& run, int type) {
    std::vector<int> found;
    for (const json& out : run.outputs)
        if (out.value("call", "") == "QRT_GetProductType" && out["status"] == type)
            found.push_back(out["index"]);
    return found;
}

// A call's answer on a product: the status and the first argument after the call.
json answer(const RigRun& run, const std::string& call, int index, int nth = 0) {
    return qrttest::reading(qrttest::answerOf(run, call, index, nth));
}

bool isUsb3Type(int type) {
    return (type >= 8 && type <= 10) || (type >= 17 && type <= 19);
}

std::vector<int> csvValues(const std::string& csv) {
    std::vector<int> values;
    std::stringstream in(csv);
    for (std::string item; std::getline(in, item, ',');) values.push_back(std::stoi(item));
    return values;
}

// ---------------------------------------------------------------------------------------------

// One card of the identity rig: its section keys and what the library must report.
struct Identity {
    const char* model;
    int type;
    unsigned ports;
    const char* keys;  // rig keys besides model and sn
    const char* sn;
    const char* info;  // after "Product:<model>\r\n", and "SN:<sn>\r\nPCBVersion:<pcb>\r\n"
    int pcb;
    int cardIdStatus, cardId;
    std::vector<int> features;
};

TEST_F(Usb3EndToEnd, EveryModelIsDetectedWithItsIdentity) {
    // clang-format off
    const Identity cards[] = {
        {"PCIe-W504", 8, 4, "mcu_version = 1.2\n", "SNW504",
         "MCUVersion:1.2\r\nPN:W5-53104-10", 0, 0, 1, {1}},
        {"PCIe-W508", 9, 8, "pcb_version = 3\ncard_id = 0x7F\nmcu_version = 2.0\n", "SNW508",
         "MCUVersion:2.0\r\nPN:W5-53104-20", 3, 0, 127, {1, 5}},
        {"PCIe-W512", 10, 12, "mcu_version = 1.12\n", "SNW512",
         "MCUVersion:1.12\r\nPN:W5-53104-30", 0, 0, 1, {1, 5}},
        {"PCIe-W504P", 17, 4, "card_id = 9\n", "SNW504P",
         "MCUVersion:1.0\r\nPN:W5-53104-11", 2, 0, 9, {1, 5}},
        {"PCIe-W508P", 18, 8, "card_id = 12\ncard_id_valid = 0\nswitch = 8608\n", "ABCDEFGHIJKLMN",
         "MCUVersion:1.0\r\nPN:W5-53104-21", 2, -1, 12, {1, 5}},
        {"PCIe-W512P", 19, 12, "pcb_version = 1\npn = Q9Z53104-31\n", "SNW512P",
         "MCUVersion:1.0\r\nPN:Q9Z53104-31", 1, 0, 1, {1, 5}},
    };
    // clang-format on
    std::string rigText;
    for (const Identity& c : cards)
        rigText +=
            std::string("[") + c.model + "]\nmodel = " + c.model + "\nsn = " + c.sn + "\n" + c.keys;
    RigRun run = rig.run(rigText, kListCalls);
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(qrttest::answerOf(run, "QRT_GetProductNums")["status"], 6) << run.output;

    for (const Identity& c : cards) {
        SCOPED_TRACE(c.model);
        auto found = productsOfType(run, c.type);
        ASSERT_EQ(found.size(), 1u);
        const int p = found[0];
        std::string info = std::string("Product:") + c.model + "\r\n" + c.info + "\r\nSN:" + c.sn +
                           "\r\nPCBVersion:" + std::to_string(c.pcb) + "\r\n";
        EXPECT_EQ(answer(run, "QRT_GetProductInfo", p), json::array({0, info}));
        EXPECT_EQ(answer(run, "QRT_GetProductSN", p), json::array({0, c.sn}));
        EXPECT_EQ(answer(run, "QRT_PowCtrlGetPortNums", p), json::array({0, c.ports}));
        EXPECT_EQ(answer(run, "QRT_GetCardID", p), json::array({c.cardIdStatus, c.cardId}));
        const json features = answer(run, "QRT_GetFeatureList", p);
        ASSERT_EQ(features[0], c.features.size());
        for (size_t i = 0; i < c.features.size(); ++i) EXPECT_EQ(features[1][i], c.features[i]);
        // A list that does not fit is not written at all.
        EXPECT_EQ(answer(run, "QRT_GetFeatureList", p, 1),
                  json::array({c.features.size(), c.features.size() == 1 ? 1 : kUntouched}));
    }
}

TEST_F(Usb3EndToEnd, BoardsOnThePex8608ReadTheirPartNumberOnceBeforeTheRealRead) {
    // Fetches of the part number's flash words while the library detects the cards: the 8-port
    // series reads it once more on a PEX 8608; the 12-port card (on a PEX 8608 too) is looked
    // at by the 8-port series first, which reads it twice and leaves it, and its own series
    // takes the number already read instead of asking again.
    const std::pair<const char*, unsigned> cards[] = {
        {"model = PCIe-W508P\nswitch = 8718\n", 1},
        {"model = PCIe-W508P\nswitch = 8608\n", 2},
        {"model = PCIe-W512P\n", 2},
    };
    std::string rigText;
    for (size_t i = 0; i < std::size(cards); ++i)
        rigText += "[card" + std::to_string(i) + "]\n" + cards[i].first;
    RigRun run = rig.run(rigText, kSupplyCalls);
    ASSERT_EQ(run.status, 0) << run.errors;
    for (size_t i = 0; i < std::size(cards); ++i)
        EXPECT_EQ(run.board("card" + std::to_string(i))["mcu"].value("part_number_reads", 0u),
                  cards[i].second)
            << cards[i].first;
}

TEST_F(Usb3EndToEnd, OnlyThePartNumberAfterItsPrefixIdentifiesACard) {
    // a: the 8-port part number stored without its prefix; b: a 4-port board whose flash holds
    // the 8-port part number behind an arbitrary prefix; c: a frame-grabber card on a PEX 8608.
    RigRun run = rig.run(
        "[a]\nmodel = PCIe-W508\npn = 53104-20\n"
        "[b]\nmodel = PCIe-W504\npn = x#_53104-20\n"
        "[c]\nmodel = PCIe-RHX54P\n",
        kListCalls);
    ASSERT_EQ(run.status, 0) << run.errors;
    std::vector<int> usb3;
    for (const json& out : run.outputs)
        if (out.value("call", "") == "QRT_GetProductType" && isUsb3Type(out["status"]))
            usb3.push_back(out["index"]);
    ASSERT_EQ(usb3.size(), 1u) << run.output;
    EXPECT_EQ(productsOfType(run, 9), usb3);
    EXPECT_EQ(answer(run, "QRT_PowCtrlGetPortNums", usb3[0]), json::array({0, 8}));
    EXPECT_EQ(answer(run, "QRT_GetProductInfo", usb3[0])[1],
              "Product:PCIe-W508\r\nMCUVersion:1.0\r\nPN:x#_53104-20\r\nSN:00000000\r\n"
              "PCBVersion:0\r\n");
}

TEST_F(Usb3EndToEnd, SerialAndPartNumberWrittenToFlashIdentifyTheCardAfterwards) {
    RigRun run = rig.run("[card]\nmodel = PCIe-W504\n",
                         "$SERIES flash FLASHED-SN-42 ZZ-53104-10 && " + kListCalls);
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_GE(run.outputs.size(), 2u) << run.errors;
    EXPECT_EQ(run.outputs[0]["devices"][0]["flash"], json({{"set_sn", 0},
                                                           {"set_pn", 0},
                                                           {"get_sn", 0},
                                                           {"get_pn", 0},
                                                           {"sn", "FLASHED-SN-42"},
                                                           {"pn", "ZZ-53104-10"}}));
    EXPECT_EQ(answer(run, "QRT_GetProductInfo", 0)[1],
              "Product:PCIe-W504\r\nMCUVersion:1.0\r\nPN:ZZ-53104-10\r\nSN:FLASHED-SN-42\r\n"
              "PCBVersion:0\r\n");
    EXPECT_EQ(run.board("card")["mcu"]["flash_commits"], 2);
}

// ---------------------------------------------------------------------------------------------

struct PowerCase {
    const char* model;
    const char* tooShort;  // one entry fewer than the card's ports
    const char* pattern;
    std::vector<int> channels;               // microcontroller channels the pattern switches on
    std::vector<const char*> pinDirections;  // pins 6, 7, 8, 9 on the 12-port cards
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PowerCase& c, std::ostream* os) {
    *os << c.model << " pattern " << c.pattern;
}

class Usb3Power : public Usb3EndToEnd, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(Usb3Power, SetAndGetChangeTheCardsPortPowerAsWired) {
    const PowerCase& c = GetParam();
    // Three programs in one rig: a refused short list, the pattern, and a fresh process
    // reading the power back from the hardware.
    std::vector<int> pattern = csvValues(c.pattern);
    const std::string n = std::to_string(pattern.size());
    const std::string shortN = std::to_string(pattern.size() - 1);
    const std::string read = "QRT_PowCtrlGetPortEnable 0 @" + n + " " + n;
    RigRun run = rig.run(
        std::string("[card]\nmodel = ") + c.model + "\n",
        qrttest::callLine({std::string("QRT_PowCtrlSetPortEnable 0 ") + c.tooShort + " " + shortN,
                           "QRT_PowCtrlGetPortEnable 0 @" + shortN + " " + shortN}) +
            "; " +
            qrttest::callLine(
                {std::string("QRT_PowCtrlSetPortEnable 0 ") + c.pattern + " " + n, read}) +
            "; " + qrttest::callLine({read}));
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 5u) << run.errors;

    EXPECT_EQ(run.outputs[0]["status"], -11);
    EXPECT_EQ(run.outputs[0]["args"][0], json(csvValues(c.tooShort)));

    EXPECT_EQ(run.outputs[2]["status"], 0);
    EXPECT_EQ(run.outputs[2]["args"][0], json(pattern)) << "the caller's list was changed";
    EXPECT_EQ(run.outputs[3]["status"], 0);
    EXPECT_EQ(run.outputs[3]["args"][0], json(pattern));
    EXPECT_EQ(run.outputs[4]["status"], 0);
    EXPECT_EQ(run.outputs[4]["args"][0], json(pattern));

    const json& board = run.board("card");
    ASSERT_FALSE(board.is_null()) << run.state.dump(1);
    EXPECT_EQ(board["port_power"], json(pattern));
    EXPECT_EQ(board["mcu"]["channels"], json(c.channels));
    for (size_t i = 0; i < c.pinDirections.size(); ++i)
        EXPECT_EQ(board["switch"]["pins"][6 + i]["direction"], c.pinDirections[i])
            << "pin " << 6 + i;
    EXPECT_EQ(board["switch"]["serial"]["rejected_commands"], 0);
    EXPECT_EQ(board["switch"]["serial"]["commands_while_busy"], 0);
    EXPECT_EQ(board["mcu"]["rejected_words"], 0);
}

// 4-port: port i on channel 2i. 12-port: port 8 on pin 7, 9 on 6, 10 on 9, 11 on 8, powered
// while the pin is an input.
// clang-format off
const PowerCase kPowerCases[] = {
    {"PCIe-W504", "1,0,1", "1,0,1,1", {1, 0, 0, 0, 1, 0, 1, 0}, {}},
    {"PCIe-W504P", "0,1,1", "0,1,1,0", {0, 0, 1, 0, 1, 0, 0, 0}, {}},
    {"PCIe-W508", "1,1,1,1,1,1,1", "1,0,0,1,1,0,1,0", {1, 0, 0, 1, 1, 0, 1, 0}, {}},
    {"PCIe-W508P", "0,0,0,0,0,0,0", "0,1,1,0,0,1,0,1", {0, 1, 1, 0, 0, 1, 0, 1}, {}},
    {"PCIe-W512", "1,1,1,1,1,1,1,1,1,1,1", "1,1,0,1,0,1,1,0,1,0,0,0", {1, 1, 0, 1, 0, 1, 1, 0},
     {"out", "in", "out", "out"}},
    {"PCIe-W512P", "0,0,0,0,0,0,0,0,0,0,0", "0,0,0,0,0,0,0,1,0,1,1,0", {0, 0, 0, 0, 0, 0, 0, 1},
     {"in", "out", "out", "in"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Models, Usb3Power, ::testing::ValuesIn(kPowerCases), [](const auto& info) {
    std::string name = info.param.model;
    return name.substr(name.find('-') + 1);
});

// ---------------------------------------------------------------------------------------------

TEST_F(Usb3EndToEnd, ExternalSupplyStateFollowsTheSensePin) {
    RigRun run = rig.run(
        "[a]\nmodel = PCIe-W508\npcb_version = 3\nex_power = 1\n"
        "[b]\nmodel = PCIe-W504\nex_power = 1\n"
        "[c]\nmodel = PCIe-W512\nex_power = 0\n"
        "[d]\nmodel = PCIe-W512P\nex_power = 1\n"
        "[e]\nmodel = PCIe-W504P\nswitch = 8608\nex_power = 0\n"
        "[f]\nmodel = PCIe-W508P\nswitch = 8608\nex_power = 1\n",
        kSupplyCalls);
    ASSERT_EQ(run.status, 0) << run.errors;
    struct {
        int type;
        const char* section;
        int stateStatus;
        int state;
        bool plugged;
    } expected[] = {
        {9, "a", 0, 1, true},   {8, "b", -5, kUntouched, true},  // PCB revision 0: no supply input
        {10, "c", 0, 0, false}, {19, "d", 0, 1, true},
        {17, "e", 0, 0, false}, {18, "f", 0, 1, true},
    };
    ASSERT_EQ(run.outputs.size(), 18u) << run.output;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.section);
        const std::vector<int> product = productsOfType(run, e.type);
        ASSERT_EQ(product.size(), 1u);
        EXPECT_EQ(answer(run, "QRT_ExPowSupGetState", product[0], 0),
                  json::array({e.stateStatus, e.state}));
        const json& board = run.board(e.section);
        EXPECT_EQ(board["external_supply"]["connected"], e.plugged);
    }
}

// ---------------------------------------------------------------------------------------------

// Drops what a part-number query necessarily leaves behind on a serial-port device: the
// switch's serial command and data registers (in whatever form the board reports them).
json withoutSerialPort(json state) {
    if (state.is_object()) {
        for (const char* key : {"0x260", "0x264", "serial"}) state.erase(key);
        for (auto& item : state.items()) item.value() = withoutSerialPort(item.value());
    } else if (state.is_array()) {
        for (auto& item : state) item = withoutSerialPort(item);
    }
    return state;
}

TEST_F(Usb3EndToEnd, PexBoardWithoutMicrocontrollerIsRejectedByBothSeriesUntouched) {
    const std::string rigText = "[card]\nmodel = PCIe-RHX54P\n";
    RigRun before = rig.run(rigText, "true");
    RigRun after = rig.run(rigText, "$SERIES");
    ASSERT_EQ(after.status, 0) << after.errors;
    ASSERT_EQ(after.outputs.size(), 1u) << after.errors;
    const json& devices = after.outputs[0]["devices"];
    ASSERT_EQ(devices.size(), 1u) << after.outputs[0].dump();
    EXPECT_EQ(devices[0]["device"], 0x8608);
    EXPECT_FALSE(devices[0]["w50x"]);
    EXPECT_FALSE(devices[0]["w51x"]);
    // No pin, no other register changed.
    ASSERT_FALSE(before.board("card").is_null()) << before.errors;
    EXPECT_EQ(withoutSerialPort(after.board("card")), withoutSerialPort(before.board("card")));
}

}  // namespace
