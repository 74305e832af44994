// Rig files and the rig built from them: sections in PCI order, keys checked with messages that
// name the file, the section and the key, the stand-in boards, the host ports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim/boards/PlainBoard.h"
#include "sim/chips/Violations.h"
#include "sim/rig/PcapWriter.h"
#include "sim/rig/Rig.h"
#include "sim/rig/RigFile.h"

namespace {

using namespace qrtsim;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class RigFileTest : public ::testing::Test {
  protected:
    RigFileTest() {
        char name[] = "/tmp/qrt-rigtest-XXXXXX";
        int fd = ::mkstemp(name);
        ::close(fd);
        path = name;
    }
    ~RigFileTest() override { std::remove(path.c_str()); }

    void writeRig(const std::string& text) { std::ofstream(path) << text; }

    // The message of the RigError that loading and building `text` throws ("" when none).
    std::string errorOf(const std::string& text) {
        writeRig(text);
        try {
            Rig rig(loadRigFile(path), {}, frames);
        } catch (const RigError& e) {
            return e.what();
        }
        return "";
    }

    std::string path;
    PcapWriter frames;
};

TEST_F(RigFileTest, SectionsAreTakenInNameOrderAndTheDriverSectionApart) {
    writeRig(
        "# a rig\n[b-card]\nmodel = PCIe-RHX10T\nsn = 2\n\n[a-card]\nmodel = PCIe-RHX54P\n"
        "; comment\n[driver]\nversion = 3.0\n");
    RigDescription rig = loadRigFile(path);
    ASSERT_EQ(2u, rig.boards.size());
    EXPECT_EQ("a-card", rig.boards[0].section);
    EXPECT_EQ("b-card", rig.boards[1].section);
    EXPECT_EQ("2", rig.boards[1].text("sn", ""));
    EXPECT_EQ(path, rig.boards[0].file);
    ASSERT_TRUE(rig.driver.has_value());
    EXPECT_EQ("3.0", rig.driver->text("version", ""));
}

TEST_F(RigFileTest, LinesTheFormatWouldDropAreErrorsWithTheirLineNumber) {
    writeRig("[card]\nmodel = PCIe-W504\n  sn = 7\n");
    EXPECT_THROW(
        try { loadRigFile(path); } catch (const RigError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path + ": line 3: an indented line"));
            throw;
        },
        RigError);
    for (const char* text : {"[card]\nmodel PCIe-W504\n", "[card\nmodel = PCIe-W504\n",
                             "[ ]\nmodel = PCIe-W504\n", "[card]\n-model = PCIe-W504\n"}) {
        writeRig(text);
        EXPECT_THROW(loadRigFile(path), RigError) << text;
    }
    writeRig("model = PCIe-W504\n[card]\n");
    EXPECT_THROW(loadRigFile(path), RigError);
    writeRig("[card]\nmodel = PCIe-W504\nsn = 1\nsn = 2\n");
    EXPECT_THROW(loadRigFile(path), RigError);
    EXPECT_THROW(loadRigFile("/nonexistent/rig"), RigError);
}

TEST_F(RigFileTest, KeyErrorsNameFileSectionAndKey) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"[c1]\nmodel = PCIe-W504\ncolour = red\n", "[c1] colour: unknown key"},
        {"[c1]\nmodel = PCIe-NOPE\n", "[c1] model: unknown model \"PCIe-NOPE\""},
        {"[c1]\nsn = 5\n", "[c1] model: missing"},
        {"[c1]\nmodel = PCIe-RHX54P\npower_source = 4\n", "[c1] power_source: \"4\" is not"},
        {"[c1]\nmodel = PCIe-RHX54P\ntemperature = warm\n", "[c1] temperature:"},
        {"[c1]\nmodel = PCIe-RHX54P\nmac1 = 00:11:22:33:44\n", "[c1] mac1: "},
        {"[c1]\nmodel = PCIe-RHX54P\nip2 = 10.0.0.1\n", "[c1] ip2: needs mac2"},
        {"[c1]\nmodel = PCIe-RHX54P\nmac2 = 00:11:22:33:44:55\nip2 = 10.0.0.300\n",
         "[c1] ip2: \"10.0.0.300\" is not an IPv4 address"},
        {"[c1]\nmodel = PCIe-RHX54P\ndriver_status = 256\n", "[c1] driver_status:"},
        {"[driver]\nfail = lock, teleport\n", "[driver] fail: \"teleport\" is not a request"},
        {"[driver]\nversion = 0123456789abcdef\n", "[driver] version: at most 15"},
        {"[driver]\nspeed = 3\n", "[driver] speed: unknown key"},
        {"[k]\nmodel = TULAN-KQX\ndi_count = 4\ndi_edge = 1,4\n",
         "[k] di_edge: \"4\" is not a line"},
        {"[k]\nmodel = TULAN-KQX\ncard_id = 1\n", "[k] card_id: the TULAN-KQX is not a card"},
        {"[k]\nmodel = TULAN-KQX\nsystem_file = maybe\n", "[k] system_file: "},
        {"[k]\nmodel = TULAN-KQX\n[m]\nmodel = TULAN-KQX\nmcu_bus = 3\neeprom_bus = 4\n",
         "[m] model: the programs run on [k] already"},
    };
    for (const Case& c : cases) EXPECT_THAT(errorOf(c.text), HasSubstr(path + ": " + c.message));
    EXPECT_EQ("", errorOf("[c1]\nmodel = PCIe-RHX54P\nip0 = 10.1.2.3/16\nmac0 = 02:00:00:00:00:01\n"
                          "temperature = -12.5\ncard_id = 0x0A\n"));
    // Lists may be empty.
    EXPECT_EQ("", errorOf("[k]\nmodel = TULAN-KQX\ndi_edge =\ndo_readable =\n"));
}

TEST_F(RigFileTest, EveryProductModelBuildsAndUnbuiltModelsGetTheirPciIdentity) {
    ASSERT_EQ(21u, productIdentities().size());
    for (const ProductIdentity& product : productIdentities()) {
        std::string error = errorOf(std::string("[c]\nmodel = ") + product.model + "\n");
        EXPECT_EQ("", error) << product.model;
    }
    // The stand-in a model gets until its board is built.
    auto identity = [](const std::string& model) {
        BoardConfig config;
        BoardContext context;
        std::unique_ptr<Board> board = plainBoardType(model)->make(config, context);
        std::vector<PciFunction*> functions = board->pciFunctions();
        if (functions.empty()) return std::make_pair(0, 0);
        return std::make_pair(int(functions[0]->vendorId()), int(functions[0]->deviceId()));
    };
    EXPECT_EQ(std::make_pair(0x10B5, 0x8608), identity("PCIe-RHX44+"));
    EXPECT_EQ(std::make_pair(0x10B5, 0x8608), identity("PCIe-W512P"));  // needs 16 pins
    EXPECT_EQ(std::make_pair(0x10B5, 0x8718), identity("PCIe-W508"));
    EXPECT_EQ(std::make_pair(0x8086, 0x1563), identity("PCIe-RHX10T"));
    EXPECT_EQ(std::make_pair(0, 0), identity("TULAN-KQX"));
    EXPECT_EQ(nullptr, plainBoardType("PCIe-RHX99"));
}

TEST_F(RigFileTest, TheDriverListsBoardsInSectionOrderWithTheirFaults) {
    writeRig(
        "[2]\nmodel = PCIe-RHX10T\ndriver_status = 3\n[1]\nmodel = TULAN-KQX\n"
        "[0]\nmodel = PCIe-RHX54P\n[driver]\nversion = 9.9\nfail = version\n");
    Rig rig(loadRigFile(path), {}, frames);
    ASSERT_NE(nullptr, rig.pciDriver());
    EXPECT_EQ(3u, rig.pciDriver()->functionCount());  // the X550's two LAN functions
    auto file = rig.pciDriver()->open();

    std::vector<uint8_t> record(36, 0);
    record[0] = 0x86, record[1] = 0x80, record[4] = 0x63, record[5] = 0x15, record[20] = 1;
    ASSERT_EQ(0, rig.pciDriver()->request(*file, 0xC0084D01, record));
    EXPECT_EQ(2, record[12]);  // one X550, two LAN functions
    std::vector<uint8_t> access(80, 0);
    access[8] = 4, access[12] = 4, access[20] = 1;  // read, device 0
    ASSERT_EQ(0, rig.pciDriver()->request(*file, 0xC0084D03, access));
    EXPECT_EQ(3, access[24]);  // its section's injected status
    std::vector<uint8_t> version(16);
    EXPECT_GT(0, rig.pciDriver()->request(*file, 0x80084D04, version));

    nlohmann::json state;
    rig.saveState(state);
    ASSERT_EQ(3u, state["boards"].size());
    EXPECT_EQ("0", state["boards"][0]["section"]);
    EXPECT_EQ("PCIe-RHX10T", state["boards"][2]["model"]);
    EXPECT_EQ("9.9", state["driver"]["version"]);
}

TEST_F(RigFileTest, FaultLinesSetAndClearChipFaultsOrSayWhatTheSectionTakes) {
    writeRig("[c]\nmodel = PCIe-RHX54P\n[k]\nmodel = TULAN-KQX\nmcu_bus = 3\n");
    Rig rig(loadRigFile(path), {}, frames);
    struct Line {
        const char* text;
        bool done;
        const char* reply;  // a part of the answer
    };
    const Line lines[] = {
        {"c fault mcu nack", true, "ok"},
        {"c fault mcu ff read", true, "ok"},
        {"c fault pcimap status 3 register-read", true, "ok"},
        {"k fault i2c-3 fail", true, "ok"},
        {"driver fault pcimap missing", true, "ok"},
        {"c fault mcu busy", false, "nack, ff"},
        {"c fault mcu nack sideways", false, "requests: read write"},
        {"c fault pcimap status 0", false, "1..255"},
        {"c fault pcimap status", false, "1..255"},
        {"c fault fan busy", false, "chips of [c]: cpld eeprom mcu pcimap switch"},
        {"c fault switch busy extra words", false, "faults of this chip"},
        {"x fault mcu nack", false, "no section [x]"},
        {"k clear i2c-3", true, "ok"},
    };
    for (const Line& line : lines) {
        std::string reply;
        EXPECT_EQ(rig.control(line.text, reply), line.done) << line.text;
        EXPECT_THAT(reply, HasSubstr(line.reply)) << line.text;
    }
    nlohmann::json state;
    rig.saveState(state);
    EXPECT_EQ(
        state["boards"][0]["faults"],
        nlohmann::json({{"mcu", {"nack", "ff@read"}}, {"pcimap", {"status=3@register-read"}}}));
    EXPECT_FALSE(state["boards"][1].contains("faults"));
    EXPECT_EQ(state["driver"]["faults"], nlohmann::json({"missing"}));
    std::string reply;
    EXPECT_TRUE(rig.control("c clear", reply));
    rig.saveState(state);
    EXPECT_FALSE(state["boards"][0].contains("faults"));
}

TEST_F(RigFileTest, ARigWithoutItsDriverHasNoDriverNode) {
    writeRig("[driver]\npresent = 0\n[c]\nmodel = PCIe-RHX54P\n");
    Rig rig(loadRigFile(path), {}, frames);
    EXPECT_EQ(nullptr, rig.pciDriver());
}

TEST_F(RigFileTest, PortsWithAMacBecomeHostInterfacesNamedAfterTheirSection) {
    writeRig(
        "[Card-A]\nmodel = PCIe-RHX52P\nmac1 = 02:00:00:00:00:11\nip1 = 10.9.0.1/16\n"
        "mac0 = 02:00:00:00:00:10\n[Card_A]\nmodel = PCIe-RHX52P\nmac0 = 02:00:00:00:00:20\n");
    Rig rig(loadRigFile(path), {}, frames);
    const auto& ports = rig.hostPorts();
    ASSERT_EQ(3u, ports.size());
    EXPECT_EQ("carda", ports[0].interface.substr(0, 5));
    EXPECT_EQ("cardap0", ports[0].interface);
    EXPECT_EQ("", ports[0].ipv4);
    EXPECT_EQ("cardap1", ports[1].interface);
    EXPECT_EQ("10.9.0.1", ports[1].ipv4);
    EXPECT_EQ(16, ports[1].prefixLength);
    EXPECT_EQ(0x11, ports[1].mac[5]);
    EXPECT_EQ("qrt1p0", ports[2].interface);  // the same stem again: numbered by board
    for (const auto& port : ports) EXPECT_LE(port.interface.size() + 1, 15u);
}

TEST_F(RigFileTest, TheStateTotalsTheViolationsEveryChipCounted) {
    writeRig("[a]\nmodel = PCIe-W504\n[b]\nmodel = PCIe-RHX54P\n[c]\nmodel = PCIe-W508\n");
    std::vector<std::string> lines;
    Rig rig(
        loadRigFile(path), [&lines](const std::string& line) { lines.push_back(line); }, frames);
    nlohmann::json clean;
    rig.saveState(clean);
    EXPECT_EQ(0, clean["violations"]);
    EXPECT_EQ(nlohmann::json::object(), clean["boards"][1]["mcu"]["violations"]);
    // Two control words that are no command of the switch, on two cards.
    for (size_t board : {0u, 2u, 2u})
        rig.board(board).pciFunctions()[0]->writeRegister32(0x260, 0x00001234);
    nlohmann::json state;
    rig.saveState(state);
    EXPECT_EQ(3, state["violations"]);
    EXPECT_EQ(2, state["boards"][2]["switch"]["violations"]["unknown-serial-command"]);
    EXPECT_EQ(
        "boards/a/switch: unknown-serial-command=1\nboards/c/switch: "
        "unknown-serial-command=2\n",
        Violations::describe(state));
    EXPECT_THAT(lines,
                ::testing::Contains("[c] switch violation unknown-serial-command: 0x00001234"));
}

TEST(BoardConfig, TypedAccessorsParseStrictlyAndNameTheKey) {
    BoardConfig config;
    config.file = "bench.rig";
    config.section = "card";
    config.values = {{"hex", "0x1F"},
                     {"neg", "-3"},
                     {"junk", "12abc"},
                     {"space", " 4"},
                     {"mac", "0A:1b:2C:3d:4E:5f"},
                     {"temp", "41.5"}};
    EXPECT_EQ(31, config.integer("hex", 0, 0, 31));
    EXPECT_EQ(-3, config.integer("neg", 0, -5, 5));
    EXPECT_EQ(9, config.integer("absent", 9, 0, 1));
    EXPECT_THROW(config.integer("junk", 0, 0, 100), RigError);
    EXPECT_THROW(config.integer("space", 0, 0, 100), RigError);
    EXPECT_THROW(config.integer("hex", 0, 0, 30), RigError);
    EXPECT_DOUBLE_EQ(41.5, config.number("temp", 0, -10, 100));
    EXPECT_THROW(config.number("temp", 0, -10, 40), RigError);
    EXPECT_THAT(config.mac("mac", {}), ElementsAre(0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F));
    try {
        config.integer("junk", 0, 0, 100);
    } catch (const RigError& e) {
        EXPECT_STREQ("bench.rig: [card] junk: \"12abc\" is not an integer from 0 to 100", e.what());
    }
}

TEST(PcapWriter, WritesAnEthernetCaptureFrameByFrame) {
    char name[] = "/tmp/qrt-pcaptest-XXXXXX";
    ::close(::mkstemp(name));
    {
        PcapWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(name, error));
        writer.emitFrame(std::vector<uint8_t>(60, 0xAB));
        writer.emitFrame({1, 2, 3});
        EXPECT_EQ(2u, writer.frames());
    }
    std::ifstream in(name, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(name);
    ASSERT_EQ(24u + 16 + 60 + 16 + 3, bytes.size());
    auto u32 = [&bytes](size_t at) {
        uint32_t v;
        std::memcpy(&v, &bytes[at], 4);
        return v;
    };
    EXPECT_EQ(0xA1B2C3D4u, u32(0));
    EXPECT_EQ(1u, u32(20));       // link type Ethernet
    EXPECT_EQ(60u, u32(24 + 8));  // captured length
    EXPECT_EQ(60u, u32(24 + 12));
    EXPECT_EQ(0xAB, bytes[24 + 16]);
    EXPECT_EQ(3u, u32(24 + 16 + 60 + 8));
    EXPECT_EQ(3, bytes.back());
}

}  // namespace
