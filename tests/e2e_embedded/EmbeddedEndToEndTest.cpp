// The embedded vision system end to end: the C API library, unmodified, recognises the rig's
// TULAN-KQX by its system file, reaches its PoE board over Linux I2C adapters and its digital
// I/O through the DIO driver's sysfs files and kernel uevents; the rig's state document shows
// what the hardware did.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;

// The system's files live in a private mount namespace and its uevents in a private network
// namespace; without the privilege to create them the system cannot be built.
class EmbeddedEndToEnd : public qrttest::RigFixture {
  protected:
    EmbeddedEndToEnd() : RigFixture({{"PROBE", EMBEDDED_PROBE_PATH}, {"QRT_SIM", QRT_SIM_PATH}}) {}

    void SetUp() override {
        RigFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::string namespaces = rigNamespaces();
        if (namespaces == "kernel") {
            if (kKernelCases.count(testName()) == 0)
                GTEST_SKIP() << "the kernel's simulated DIO block has the DIO driver only (no "
                                "PoE board on I2C, no cards, no rig to count refused writes)";
            return;
        }
        if (namespaces != "mount,net") GTEST_SKIP() << kNoEmbeddedSystem;
    }

    // Runs the probe (the rig runner checks that no chip model counted a protocol violation)
    // and checks its clean exit. The answer is the probe's document (the library's own
    // messages on standard output are passed over).
    json probe(const std::string& rigText, const std::string& request, RigRun* out = nullptr) {
        RigRun run = rig.run(rigText, "$PROBE " + request);
        EXPECT_EQ(run.status, 0) << run.errors;
        if (out != nullptr) *out = run;
        for (const json& line : run.outputs)
            if (line.is_object()) return line;
        ADD_FAILURE() << "no answer: " << run.errors;
        return json::object();
    }

  private:
    // The cases that also run where the kernel's simulated DIO block (driver/dio-sim, loaded by
    // tests/e2e_embedded/kernel-rig.sh, which reports the namespaces "kernel") stands in for
    // the rig.
    static inline const std::set<std::string> kKernelCases = {
        "DigitalLinesFollowTheDriversFiles", "InputChangesReachTheCallbackOnTheMonitorThread",
        "TheDriverRemovedUnderTheMonitorLeavesFailingLines"};
    static std::string testName() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
};

const char* const kSystem =
    "[kqx]\nmodel = TULAN-KQX\nsn = KQX0042\npn = KQX27650-02\nmcu_version = 1.3\n"
    "hwid = KQX-B2\n";

TEST_F(EmbeddedEndToEnd, TheSystemFileMakesTheOneProductAndNoCardIsLookedFor) {
    RigRun run;
    json list = probe(std::string(kSystem) + "[card]\nmodel = PCIe-W504\n", "list", &run);
    ASSERT_EQ(list["products"], 1) << list.dump(1);
    json p = list["list"][0];
    EXPECT_EQ(p["type"], 12);
    EXPECT_EQ(p["info_status"], 0);
    EXPECT_EQ(p["info"],
              "Product:TULAN-KQX\r\nMCUVersion:1.3\r\nPN:KQX27650-02\r\nSN:KQX0042\r\n"
              "PCBVersion:KQX-B2\n\r\n");
    EXPECT_EQ(p["sn"], "KQX0042");
    EXPECT_EQ(p["card_id_status"], -5);
    EXPECT_EQ(p["features"], json({2, 4}));
    // The stand-alone route never opens the kit's driver.
    EXPECT_EQ(list["sdk"], "SDK Version:1.7.7.0130\r\n");
    EXPECT_EQ(run.trace.find("pcimap"), std::string::npos);
    // Without bus keys in the file: the microcontroller on adapter 8, the EEPROM on 1.
    EXPECT_NE(run.trace.find("i2c-8 write addr=0x2d"), std::string::npos);
    EXPECT_NE(run.trace.find("i2c-1 write addr=0x50"), std::string::npos);
}

// A bus number is a decimal number within the adapter range, two digits and more included;
// any other value names no bus (rather than some other one): the system is not used, and the
// reason is printed once on standard error.
TEST_F(EmbeddedEndToEnd, TheSystemFileNamesBusesInDecimalOnly) {
    const struct {
        const char* line;  // of the system file; null: the rig writes it from its keys
        const char* rigKeys;
        unsigned products;
    } files[] = {
        {nullptr, "mcu_bus = 12\neeprom_bus = 10\n", 1},
        {"MCU.I2CBUS = 3x", "", 0},
        {"MCU.I2CBUS = 0x3", "", 0},
        {"MCU.I2CBUS =", "", 0},
        {"MCU.I2CBUS = -1", "", 0},
        {"MCU.I2CBUS = 18446744073709551624", "", 0},
        {"EEPROM.I2CBUS = 1O", "", 0},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.line != nullptr ? file.line : file.rigKeys);
        std::string command = "$PROBE list";
        if (file.line != nullptr)
            command = std::string("printf \"%s\\n\" \"") + file.line +
                      "\" > /etc/tulankqx/system.ini && " + command;
        RigRun run = rig.run(std::string(kSystem) + file.rigKeys, command);
        ASSERT_EQ(run.status, 0) << run.errors;
        json list;
        for (const json& line : run.outputs)
            if (line.is_object()) list = line;
        EXPECT_EQ(list["products"], file.products) << list.dump();
        size_t reported = 0;
        for (size_t at = run.errors.find("is not an I2C bus number"); at != std::string::npos;
             at = run.errors.find("is not an I2C bus number", at + 1))
            ++reported;
        EXPECT_EQ(reported, file.products == 0 ? 1u : 0u) << run.errors;
        if (file.products == 1) {
            EXPECT_EQ(list["list"][0]["info"],
                      "Product:TULAN-KQX\r\nMCUVersion:1.3\r\nPN:KQX27650-02\r\nSN:KQX0042\r\n"
                      "PCBVersion:KQX-B2\n\r\n");
            EXPECT_NE(run.trace.find("i2c-12 write addr=0x2d"), std::string::npos);
            EXPECT_NE(run.trace.find("i2c-10 write addr=0x50"), std::string::npos);
        }
    }
}

TEST_F(EmbeddedEndToEnd, WithoutTheSystemFileTheCardsAreFound) {
    json list = probe("[kqx]\nmodel = TULAN-KQX\nsystem_file = absent\n[card]\nmodel = PCIe-W504\n",
                      "list");
    ASSERT_EQ(list["products"], 1) << list.dump(1);
    EXPECT_EQ(list["list"][0]["type"], 8);
    EXPECT_EQ(list["sdk"], "Driver Version:1.4.2\r\nSDK Version:1.7.7.0130\r\n");
}

TEST_F(EmbeddedEndToEnd, OneAdapterServesBothDevicesWhenTheFileNamesItTwice) {
    RigRun run;
    json list = probe(std::string(kSystem) + "mcu_bus = 5\neeprom_bus = 5\n", "list", &run);
    ASSERT_EQ(list["products"], 1) << list.dump(1);
    EXPECT_EQ(list["list"][0]["info"],
              "Product:TULAN-KQX\r\nMCUVersion:1.3\r\nPN:KQX27650-02\r\nSN:KQX0042\r\n"
              "PCBVersion:KQX-B2\n\r\n");
    EXPECT_EQ(run.state["i2c_adapters"], json({5}));
    json board = run.board("kqx");
    // Nothing meant for the microcontroller reached the EEPROM.
    EXPECT_EQ(board["eeprom"]["identity"]["sn"], "KQX0042");
    EXPECT_EQ(board["eeprom"]["page_writes"], 0);
    EXPECT_EQ(board["mcu"]["resets"], 0);
}

TEST_F(EmbeddedEndToEnd, PoEPortsAreNumberedTheOtherWayRoundFromTheController) {
    RigRun run;
    json answer =
        probe(std::string(kSystem) + "poe_class3 = 4\npoe_class0 = 2\n", "poe 1,0,0,0", &run);
    json poe = answer["poe"];
    EXPECT_EQ(poe["short_status"], -11);
    EXPECT_EQ(poe["set_status"], 0);
    EXPECT_EQ(poe["after_set"], json({1, 0, 0, 0})) << "the caller's list was changed";
    EXPECT_EQ(poe["get_status"], 0);
    EXPECT_EQ(poe["get"], json({1, 0, 0, 0}));
    // Port 0 is controller port 3, port 3 controller port 0.
    EXPECT_EQ(poe["classes"], json({4.0, -2.0, -2.0, 2.0}));
    EXPECT_EQ(poe["flag0_status"], -5);
    std::vector<bool> enabled;
    json board = run.board("kqx");
    for (const json& port : board["mcu"]["ports"]) enabled.push_back(port["enabled"]);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, false, true}));
}

// Several processes on one adapter that serves both devices: each holds the adapter for its
// whole operations, so none sees another's exchanges or addresses, and the chips see nothing
// out of order. Real time, since the processes share the chips' clock.
TEST_F(EmbeddedEndToEnd, ProcessesSharingTheAdaptersGetWholeAnswers) {
    rig.keepRealTime();
    RigRun run = rig.run(std::string(kSystem) + "mcu_bus = 5\neeprom_bus = 5\npoe_class0 = 2\n",
                         "$PROBE list & a=$!; $PROBE poe 1,0,0,1 & b=$!; $PROBE poe 1,0,0,1; "
                         "s=$?; wait $a && wait $b && exit $s");
    EXPECT_EQ(run.status, 0) << run.errors;
    int lists = 0, poes = 0;
    for (const json& answer : run.outputs) {
        if (!answer.is_object()) continue;
        if (answer.contains("list")) {
            ++lists;
            EXPECT_EQ(answer["list"][0]["info"],
                      "Product:TULAN-KQX\r\nMCUVersion:1.3\r\nPN:KQX27650-02\r\nSN:KQX0042\r\n"
                      "PCBVersion:KQX-B2\n\r\n");
        } else {
            ++poes;
            json poe = answer["poe"];
            EXPECT_EQ(poe["set_status"], 0);
            EXPECT_EQ(poe["get"], json({1, 0, 0, 1}));
            EXPECT_EQ(poe["classes"], json({-2.0, -2.0, -2.0, 2.0}));
            EXPECT_FLOAT_EQ(poe["budget"].get<float>(), 61.6f);
        }
    }
    EXPECT_EQ(lists, 1);
    EXPECT_EQ(poes, 2);
}

// Two processes set different protection ranges, each a read, two writes and a read-back: as
// whole transactions every one succeeds and the controller ends with one of the two ranges.
TEST_F(EmbeddedEndToEnd, ProtectionRangesFromTwoProcessesNeverMix) {
    rig.keepRealTime();
    RigRun run = rig.run(kSystem,
                         "$PROBE protect 95,80 6 & a=$!; $PROBE protect 90,70 6; s=$?; "
                         "wait $a && exit $s");
    EXPECT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 2u) << run.output;
    for (const json& answer : run.outputs) EXPECT_EQ(answer["protect"], json({{"0", 6}}));
    json mcu = run.board("kqx")["mcu"];
    const std::pair<int, int> range{mcu["protect_temperature"], mcu["recovery_temperature"]};
    EXPECT_TRUE(range == std::make_pair(95, 80) || range == std::make_pair(90, 70))
        << range.first << "," << range.second;
}

TEST_F(EmbeddedEndToEnd, TheTotalBudgetFollowsThePowerInput) {
    const struct {
        int source;
        int status;
        float watts;
    } inputs[] = {{0, 0, 61.6f}, {1, 0, 120.0f}, {2, 0, 20.0f}, {3, -100, 0.0f}};
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.source);
        json poe = probe(std::string(kSystem) + "power_source = " + std::to_string(input.source),
                         "poe 1,1,1,1")["poe"];
        EXPECT_EQ(poe["budget_status"], input.status);
        if (input.status == 0) {
            EXPECT_FLOAT_EQ(poe["budget"].get<float>(), input.watts);
        }
    }
}

TEST_F(EmbeddedEndToEnd, DigitalLinesFollowTheDriversFiles) {
    RigRun run;
    // Input 3 has no files: the count stops at it, and input 4 is never used.
    json answer = probe(std::string(kSystem) +
                            "di_count = 5\ndi_absent = 3\ndi_edge = 0,2\ndi_levels = 1,0,1,1,0\n"
                            "do_count = 3\ndo_readable = 1\n",
                        "dio 5,1,0 0:0,2:1,2:2,1:2", &run);
    json dio = answer["dio"];
    EXPECT_EQ(dio["di"], 3);
    EXPECT_EQ(dio["do"], 3);
    EXPECT_EQ(dio["block"], json({0, 1}));
    EXPECT_EQ(dio["di_caps"], json({{0, 3, 4}, {0, 3}, {0, 3, 4}, json::array()}));
    EXPECT_EQ(dio["do_caps"], json({{0}, {0, 1}, {0}}));
    EXPECT_EQ(dio["di_states_status"], 0);
    EXPECT_EQ(dio["di_states"], json({1, 0, 1, 7}));
    EXPECT_EQ(dio["set_do_status"], 0);
    EXPECT_EQ(dio["do_read"], json({-5, 1, -5}));
    EXPECT_EQ(dio["edges"], json({{{"set", 0}, {"get", 0}, {"edge", 0}},
                                  {{"set", 0}, {"get", 0}, {"edge", 1}},
                                  {{"set", 0}, {"get", 0}, {"edge", 2}},
                                  {{"set", -5}, {"get", -5}, {"edge", 3}}}));

    json board = json(run.board("kqx"))["dio"];
    std::vector<int> levels;
    for (const json& line : board["outputs"]) levels.push_back(line["level"]);
    EXPECT_EQ(levels, (std::vector<int>{1, 1, 0}));
    // Polarity codes: edge 0 is 1, edge 1 is 0, both edges 2.
    EXPECT_EQ(board["inputs"][0]["trigger_mode"], 1);
    EXPECT_EQ(board["inputs"][2]["trigger_mode"], 2);
}

// An attribute whose driver fails refuses the value when the buffered write reaches it, at the
// close: the call fails, and the other lines are still set.
TEST_F(EmbeddedEndToEnd, AStoreTheDriverRefusesAtTheCloseFailsTheCall) {
    RigRun run = rig.run(std::string(kSystem) + "do_count = 3\ndo_readable = 1\n",
                         "$QRT_SIM --control \"kqx fault dio fail DO_1\" && $PROBE dio 1,1,1 0:0");
    ASSERT_EQ(run.status, 0) << run.errors;
    json dio = run.outputs.back()["dio"];
    EXPECT_EQ(dio["set_do_status"], -1);
    EXPECT_EQ(dio["do_read"], json({-5, -1, -5}));
    std::vector<int> levels;
    for (const json& line : run.board("kqx")["dio"]["outputs"]) levels.push_back(line["level"]);
    EXPECT_EQ(levels, (std::vector<int>{1, 0, 1}));
}

TEST_F(EmbeddedEndToEnd, InputChangesReachTheCallbackOnTheMonitorThread) {
    json answer = probe(kSystem, "callback kqx");
    json c = answer["callback"];
    auto call = [](int callback, unsigned index, int state) {
        return json{{"callback", callback},
                    {"index", index},
                    {"state", state},
                    {"on_monitor_thread", true}};
    };
    EXPECT_EQ(c["first_status"], 0);
    EXPECT_EQ(c["threads_running"], 2);
    EXPECT_EQ(c["first"], call(1, 1, 1));
    // Another driver, another action, an input out of range and a state other than 0 or 1
    // make no call: the next call is the change that followed them.
    EXPECT_EQ(c["after_others"], call(1, 2, 1));
    // A uevent this process forged on the group is not the kernel's.
    EXPECT_EQ(c["forged_sent"], true);
    EXPECT_EQ(c["after_forged"], call(1, 3, 1));
    // A second registration replaces the first.
    EXPECT_EQ(c["second_status"], 0);
    EXPECT_EQ(c["second"], call(2, 1, 0));
    // Clearing the callback ends the monitor thread; nothing is called afterwards.
    EXPECT_EQ(c["stop_status"], 0);
    EXPECT_EQ(c["threads_stopped"], 1);
    EXPECT_EQ(c["calls_after_stop"], 0);
    // The process's own uevent monitor holds the port id of its process id.
    EXPECT_EQ(c["own_monitor_bound"], true);
    EXPECT_EQ(c["beside_own_monitor_status"], 0);
    EXPECT_EQ(c["beside_own_monitor"], call(3, 0, 1));
    EXPECT_EQ(c["calls"].size(), 5u) << c["calls"].dump();
    for (const json& step : c["steps"]) EXPECT_EQ(step["status"], 0) << step.dump();
}

// The DIO driver removed while the monitor runs (where the runner can remove it): no crash, the
// lines' calls fail as the files are gone, and clearing the callback still ends the monitor.
TEST_F(EmbeddedEndToEnd, TheDriverRemovedUnderTheMonitorLeavesFailingLines) {
    json u = probe(kSystem, "unplug")["unplug"];
    if (u["removable"] != true) GTEST_SKIP() << "the rig has no way to remove its DIO driver";
    EXPECT_EQ(u["start_status"], 0);
    EXPECT_EQ(u["threads_running"], 2);
    EXPECT_EQ(u["remove_status"], 0);
    EXPECT_EQ(u["di_status"], -1);
    EXPECT_EQ(u["do_status"], -1);
    EXPECT_EQ(u["edge_status"], -1);
    EXPECT_EQ(u["stop_status"], 0);
    EXPECT_EQ(u["threads_stopped"], 1);
    EXPECT_EQ(u["calls"], 0);
}

// An unmodified libudev client takes the rig's uevents as the kernel's, and drops the one this
// process forged, as it would on a real system.
TEST_F(EmbeddedEndToEnd, ALibudevMonitorTakesTheKernelsUeventsOnly) {
    json l = probe(kSystem, "libudev kqx")["libudev"];
    if (!l.value("present", false)) GTEST_SKIP() << "no libudev.so.1 on this machine";
    ASSERT_EQ(l["enabled"], true);
    EXPECT_EQ(l["forged_sent"], true);
    EXPECT_EQ(l["step"]["status"], 0) << l["step"].dump();
    EXPECT_EQ(l["device"], json({{"action", "change"}, {"DI_0", "1"}, {"DI_2", nullptr}}));
}

// What a live system puts on the uevent socket besides the driver's changes: datagrams that
// are no kernel uevent (cut at a receive buffer's size, without a header, unterminated), more
// than the socket holds while the callback is busy, and callbacks that re-register.
TEST_F(EmbeddedEndToEnd, TheMonitorReportsEveryChangeOnceWhateverTheSocketCarries) {
    json u = probe(kSystem, "uevents kqx")["uevents"];
    auto call = [](int callback, unsigned index, int state) {
        return json{{"callback", callback},
                    {"index", index},
                    {"state", state},
                    {"on_monitor_thread", true}};
    };
    EXPECT_EQ(u["status"], 0);
    EXPECT_EQ(u["after_garbage"], call(4, 3, 1));
    EXPECT_EQ(u["held"], call(4, 0, 1));
    // The change whose uevent the overrun lost comes from the input's state.
    EXPECT_EQ(u["after_overrun"], call(4, 1, 1));
    EXPECT_EQ(u["chain_status"], 0);
    EXPECT_EQ(u["chain_first"], call(5, 2, 1));
    EXPECT_EQ(u["chain_second"], call(6, 2, 0));
    const json alone = {{"status", 0}, {"threads", 2}};
    EXPECT_EQ(u["reregistrations"], json({alone, alone}));
    EXPECT_EQ(u["chain_threads"], 1) << "a monitor left running";
    EXPECT_EQ(u["calls_after_chain"], 0);
    EXPECT_EQ(u["churn_failures"], json::array());
    EXPECT_EQ(u["churn_clear"], 0);
    EXPECT_EQ(u["churn_threads"], 1);
    for (const json& step : u["steps"]) EXPECT_EQ(step["status"], 0) << step.dump();
}

TEST_F(EmbeddedEndToEnd, TheRigRefusesWritesTheDriverWouldRefuse) {
    RigRun run = rig.run(kSystem,
                         "echo 5 > /sys/class/vorel_dio/DO_0; echo 1 > /sys/class/vorel_dio/DI_0;"
                         "echo 3 > /sys/class/vorel_dio/DI_1_TrigMod;"
                         "touch /sys/class/vorel_dio/DO_9; cat /sys/class/vorel_dio/DO_0",
                         qrttest::RigRunner::kProvokesViolations);
    EXPECT_EQ(run.status, 0) << run.errors;
    json dio = json(run.board("kqx"))["dio"];
    EXPECT_EQ(dio["violations"], json({{"do-value", 1},
                                       {"read-only-written", 1},
                                       {"trigger-mode-value", 1},
                                       {"file-created", 1}}));
    EXPECT_EQ(dio["outputs"][0]["level"], 0);
}

}  // namespace

// Numbers outside an enumeration, as a C caller may pass them, are refused by every product
// (or the product lacks the component); the sanitizer build checks that none is ever loaded as
// the enumeration itself.
TEST_F(EmbeddedEndToEnd, EnumerationArgumentsOutOfRangeAreRefusedByEveryProduct) {
    const char* const rigs[] = {
        kSystem,
        "[a]\nmodel = PCIe-RHX54PPRO\n[b]\nmodel = PCIe-RHX10T\n[c]\nmodel = PCIe-RHX44+\n"
        "[d]\nmodel = PCIe-W512\n[e]\nmodel = PCIe-RHX54P\n",
    };
    for (const char* rigText : rigs) {
        json answer = probe(rigText, "enum-range");
        EXPECT_GT(answer["products"], 0) << rigText;
        for (const json& status : answer["statuses"])
            EXPECT_TRUE(status == -11 || status == -5) << rigText << answer.dump();
    }
}
