// Chips that fail while a program runs: for every controller and every way its chip can fail,
// each C API call that reaches it answers the status of that failure, asks for no more pauses
// than the controller's bounded retries allow, writes nothing beyond the caller's buffers,
// leaves the hardware settings as they were, and works again once the fault is cleared. The
// real libraries run under qrt-sim; fault_probe sets and clears the faults through the rig's
// control channel between its calls.

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/RigRunner.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;
using qrttest::RigRunner;

constexpr int kFailed = -1;
constexpr int kBusy = -100;

// A rig of one product, and the parts of its state that hold what the calls set.
struct Rig {
    const char* name;
    const char* text;
    const char* section;
    std::vector<const char*> settings;  // JSON pointers into the board's state
};

const std::map<std::string, Rig>& rigs() {
    static const std::map<std::string, Rig> table = {
        {"pro",
         {"pro",
          "[card0]\nmodel = PCIe-RHX54PPRO\n",
          "card0",
          {"/mcu/ports", "/mcu/protect_temperature", "/cpld/toe_control"}}},
        {"usb3", {"usb3", "[card0]\nmodel = PCIe-W508P\n", "card0", {"/port_power"}}},
        {"usb3-12",
         {"usb3-12", "[card0]\nmodel = PCIe-W512P\nex_power = 1\n", "card0", {"/port_power"}}},
        {"10g", {"10g", "[card0]\nmodel = PCIe-RHX10T\n", "card0", {"/mcu/ports"}}},
        {"44",
         {"44",
          "[card0]\nmodel = PCIe-RHX44+\n",
          "card0",
          {"/power_chip/dc_enable", "/power_chip/ac_enable"}}},
        {"kqx",
         {"kqx",
          "[kqx]\nmodel = TULAN-KQX\n",
          "kqx",
          {"/mcu/ports", "/dio/outputs", "/dio/inputs"}}},
    };
    return table;
}

// One fault of one controller's chip, and every call that reaches the chip with the status it
// must answer while the fault stands. `boundMs`: the most pausing any of the calls may ask for,
// from the retry bounds of the controllers on the way (a busy serial port is polled 1000 times
// 1 ms apart; the CPLD bridge makes 10 starts, each with a stop, 10 ms apart, while its own bus
// is busy, one start and its stop when its transport is, and 30 transfer attempts; the
// temperature reading two attempts; a Linux adapter 11 transfers 30 ms apart).
struct Row {
    const char* controller;
    const char* rig;
    const char* fault;  // "<chip> <mode> [value] [request]", for the rig's section
    unsigned boundMs;
    std::vector<std::pair<const char*, int>> calls;
};

// clang-format off
const std::vector<Row>& matrix() {
    static const std::vector<Row> rows = {
        // The PCIe switch's serial port carries the CPLD (PoE cards) and the USB3 microcontroller:
        // a start of the CPLD bridge is a serial write, and so is its stop.
        {"PEX serial port", "pro", "switch busy", 2100,
         {{"poe-get-enable", kBusy}, {"poe-set-enable", kBusy}, {"toe-get-source", kFailed},
          {"toe-set-debounce", kFailed}}},
        {"PEX serial port", "usb3", "switch busy", 1000,
         {{"pow-get-enable", kBusy}, {"pow-set-enable", kBusy}, {"card-id", kBusy}}},
        // The driver's requests to the switch: the card's access lock first, then registers.
        {"PEX serial port", "pro", "pcimap fail", 0,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}, {"toe-get-source", kFailed},
          {"toe-set-debounce", kFailed}}},
        {"PEX serial port", "pro", "pcimap status 1", 0,
         {{"poe-get-enable", kFailed}, {"toe-get-source", kFailed}, {"toe-set-debounce", kFailed}}},
        {"PEX serial port", "pro", "pcimap status 3", 0,
         {{"poe-set-enable", kFailed}, {"toe-get-source", kFailed}}},
        {"PEX serial port", "pro", "pcimap status 255", 0,
         {{"poe-get-enable", kBusy}, {"toe-get-source", kBusy}, {"toe-set-debounce", kBusy}}},
        {"PEX serial port", "pro", "pcimap status 255 register-read", 100,
         {{"poe-get-enable", kBusy}, {"poe-set-enable", kBusy}, {"toe-get-source", kFailed},
          {"toe-set-debounce", kFailed}}},
        {"PEX serial port", "pro", "pcimap fail register-write", 0,
         {{"poe-get-enable", kFailed}, {"toe-set-debounce", kFailed}}},
        {"PEX serial port", "usb3", "pcimap status 255", 0,
         {{"pow-get-enable", kBusy}, {"pow-set-enable", kBusy}}},
        // The 12-port card's ports 8 to 11 and the supply sense are switch pins.
        {"PEX pins", "usb3-12", "pcimap status 3 register-read", 0,
         {{"pow-get-enable", kFailed}, {"expow-state", kFailed}}},
        {"PEX pins", "usb3-12", "pcimap fail register-write", 0,
         {{"pow-set-enable", kFailed}}},
        // The X550's I2C master carries the 10-gigabit card's CPLD; a write polls 1000 times.
        {"X550 I2C master", "10g", "lan0 busy", 4100,
         {{"poe-get-enable", kBusy}, {"poe-set-enable", kBusy}, {"poe-temperature", kBusy}}},
        {"X550 I2C master", "10g", "lan0 error", 10,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}}},
        {"X550 I2C master", "10g", "pcimap status 255", 0,
         {{"poe-get-enable", kBusy}, {"poe-set-enable", kBusy}}},
        // A CPLD write the bus reported failed may still have reached the CPLD: the next
        // access waits the CPLD's write time (5 ms) first.
        {"X550 I2C master", "10g", "pcimap fail register-write", 5,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}}},
        // The PCIe-RHX44+ switches its ports with pin steps queued in the driver's command
        // cache: a step not queued, or a queue not run, fails the call.
        {"PEX pins (command cache)", "44", "pcimap status 1 cache-write", 0,
         {{"poe-set-enable", kFailed}}},
        {"PEX pins (command cache)", "44", "pcimap status 3 cache-execute", 0,
         {{"poe-set-enable", kFailed}}},
        // The CPLD: its I2C master (the bridge to the microcontroller) and its registers. A
        // CPLD that answers all ones shows every busy flag: each register read polls its
        // serial-access flag 1000 times, each poll a serial read.
        {"CPLD bridge", "pro", "cpld busy", 700,
         {{"poe-get-enable", kBusy}, {"poe-set-enable", kBusy}, {"poe-port-class", kBusy}}},
        {"CPLD bridge", "pro", "cpld error", 4000,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}}},
        {"CPLD bridge", "pro", "cpld ff", 90200,
         {{"poe-get-enable", kBusy}, {"toe-get-source", 0}}},
        {"CPLD bridge", "10g", "cpld nack", 10,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}}},
        // The card microcontroller behind the CPLD, or on the embedded system's adapter.
        {"card microcontroller", "pro", "mcu nack", 100,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}, {"poe-get-range", kFailed},
          {"poe-port-class", kFailed}}},
        {"card microcontroller", "pro", "mcu ff", 1400,
         {{"poe-temperature", kBusy}, {"poe-get-enable", 0}, {"poe-get-range", 0}}},
        {"card microcontroller", "10g", "mcu nack", 100,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}}},
        {"card microcontroller", "kqx", "mcu nack", 700,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}, {"poe-port-class", kFailed}}},
        // The USB3 cards' microcontroller on the serial port: a card identifier of all ones has
        // its "none" bit set.
        {"USB3 microcontroller", "usb3", "mcu ff", 100,
         {{"pow-get-enable", 0}, {"card-id", kFailed}}},
        // The embedded system's Linux I2C adapter of the microcontroller.
        {"Linux I2C adapter", "kqx", "i2c-8 fail", 700,
         {{"poe-get-enable", kFailed}, {"poe-set-enable", kFailed}, {"poe-temperature", kBusy}}},
        // The DIO driver's sysfs attributes.
        {"DIO sysfs", "kqx", "dio fail DI_0", 0,
         {{"dio-get-di", kFailed}, {"dio-get-dis", kFailed}}},
        {"DIO sysfs", "kqx", "dio fail DO_0", 0,
         {{"dio-set-do", kFailed}, {"dio-get-do", kFailed}}},
        {"DIO sysfs", "kqx", "dio fail DI_0_TrigMod", 0,
         {{"dio-set-edge", kFailed}, {"dio-get-edge", kFailed}}},
    };
    return rows;
}

// Faults that stand while the library detects the products: what the product list holds then.
struct DetectionRow {
    const char* rig;
    const char* fault;  // a whole control line
    unsigned products;
};

const std::vector<DetectionRow>& detection() {
    static const std::vector<DetectionRow> rows = {
        {"pro", "driver fault pcimap missing", 0},        // no driver node
        {"pro", "driver fault pcimap fail add-scan", 0},  // the scan cannot be registered
        {"pro", "card0 fault eeprom nack", 0},            // the part number cannot be read
        {"usb3", "card0 fault mcu ff", 0},                // no part number in the flash
        {"kqx", "kqx fault i2c-8 missing", 1},            // the system file names the system
        {"kqx", "kqx fault eeprom nack", 1},
    };
    return rows;
}
// clang-format on

class FaultMatrix : public ::testing::Test {
  protected:
    RigRunner runner{{{"PROBE", FAULT_PROBE_PATH}, {"QRT_SIM", QRT_SIM_PATH}}};

    // The hardware settings of a rig's board as detection leaves them.
    json settings(const Rig& rig, const RigRun& run) const {
        json picked;
        const json& board = run.board(rig.section);
        for (const char* pointer : rig.settings)
            picked[pointer] = board.value(json::json_pointer(pointer), json());
        return picked;
    }
};

TEST_F(FaultMatrix, EveryCallAnswersTheFaultOfItsChipAndWorksOnceItIsCleared) {
    ASSERT_TRUE(runner.usable());
    std::map<std::string, json> baseline;
    for (const auto& [name, rig] : rigs())
        baseline[name] = settings(rig, runner.run(rig.text, "$PROBE"));

    unsigned faults = 0, checked = 0;
    for (const Row& row : matrix()) {
        const Rig& rig = rigs().at(row.rig);
        std::string section = rig.section;
        SCOPED_TRACE(std::string(row.controller) + ", " + rig.name + ": " + row.fault);
        std::string command = "$PROBE \"@" + section + " fault " + row.fault + "\"";
        for (const auto& call : row.calls) command += std::string(" ") + call.first;
        command += " \"@" + section + " clear\"";
        for (const auto& call : row.calls) command += std::string(" +") + call.first;
        RigRun run = runner.run(rig.text, command);
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(run.outputs.size(), 3 + 2 * row.calls.size()) << run.output << run.errors;
        ASSERT_EQ(run.outputs[0].value("products", 0), 1);
        EXPECT_TRUE(run.outputs[1].value("ok", false)) << run.outputs[1];
        for (size_t i = 0; i < row.calls.size(); ++i) {
            const json& faulted = run.outputs[2 + i];
            const json& cleared = run.outputs[3 + row.calls.size() + i];
            EXPECT_EQ(faulted.value("status", 0), row.calls[i].second) << faulted;
            EXPECT_TRUE(faulted.value("guard", false)) << faulted;
            EXPECT_LE(faulted.value("pauses_us", 0ull), row.boundMs * 1000ull) << faulted;
            EXPECT_EQ(cleared.value("status", -999), 0) << "after the fault: " << cleared;
            EXPECT_TRUE(cleared.value("guard", false)) << cleared;
            ++checked;
        }
        // The set calls failed before they wrote, and their restoring forms wrote what
        // detection had found: the settings are those of a run without faults.
        EXPECT_EQ(settings(rig, run), baseline[row.rig]);
        ++faults;
    }
    std::printf("fault matrix: %u faults, %u calls checked\n", faults, checked);
}

TEST_F(FaultMatrix, FaultsAtDetectionLeaveTheProductOutOrItsCallsFailingUntilCleared) {
    ASSERT_TRUE(runner.usable());
    for (const DetectionRow& row : detection()) {
        const Rig& rig = rigs().at(row.rig);
        SCOPED_TRACE(std::string(rig.name) + ": " + row.fault);
        std::string fault = row.fault;
        std::string clear = fault.substr(0, fault.find(' ')) + " clear";
        RigRun run = runner.run(rig.text, "\"$QRT_SIM\" --control \"" + fault +
                                              "\" >/dev/null && $PROBE info;"
                                              " \"$QRT_SIM\" --control \"" +
                                              clear + "\" >/dev/null && $PROBE info");
        ASSERT_EQ(run.status, 0) << run.errors;
        std::vector<json> answers;  // the library's own messages ("MCU error") left out
        for (const json& line : run.outputs)
            if (line.is_object()) answers.push_back(line);
        ASSERT_EQ(answers.size(), 4u) << run.output;
        EXPECT_EQ(answers[0].value("products", -1), int(row.products));
        EXPECT_EQ(answers[1].value("status", 0), row.products == 0 ? -11 : 0);
        EXPECT_EQ(answers[2].value("products", -1), 1);
        EXPECT_EQ(answers[3].value("status", -1), 0);
    }
}

// The X550's I2C master drops a command written while another runs and then shows the earlier
// command's result. A poll that could not be read (the driver failing register reads), or a
// controller slower than a read's 30 polls, must not leave it running under the next command:
// after the fault the card identifier is the CPLD's, not the data of the last command before
// the fault (0x5A, the bridge's start word), and no chip counts a command while busy or an
// access during the CPLD's write time.
TEST_F(FaultMatrix, TheEthernetControllerIsIdleBeforeTheCommandAfterAFailedPoll) {
    ASSERT_TRUE(runner.usable());
    const char* faulted[] = {"poe-get-enable", "toe-get-source", "info"};
    std::string steps;
    for (const char* call : faulted)
        steps += std::string(" \"@card0 fault pcimap fail register-read\" ") + call +
                 " \"@card0 clear\" card-id";
    RigRun run = runner.run("[card0]\nmodel = PCIe-RHX10T\ni2c_busy_polls = 3\ncard_id = 0x9a\n",
                            "$PROBE" + steps);
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 1 + 4 * std::size(faulted)) << run.output;
    for (size_t i = 0; i < std::size(faulted); ++i) {
        const json& id = run.outputs[4 + 4 * i];
        EXPECT_EQ(id.value("status", -999), 0) << "after " << faulted[i] << ": " << id;
        EXPECT_EQ(id.value("value", -1), 0x9a) << "after " << faulted[i] << ": " << id;
    }

    // Every read outlasts its polls: the card is not taken, and nothing is written over a read.
    run = runner.run("[card0]\nmodel = PCIe-RHX10T\ni2c_busy_polls = 40\n", "$PROBE");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.output, "{\"products\":0}\n");
}

// Datagrams on the uevent socket that are no uevent of the DIO driver's: the monitor passes over
// them, and the next input change reaches the callback once, as does the one after the fault.
TEST_F(FaultMatrix, GarbageOnTheUeventSocketNeverReachesTheTriggerCallback) {
    ASSERT_TRUE(runner.usable());
    RigRun run =
        runner.run(rigs().at("kqx").text,
                   "$PROBE dio-monitor \"@kqx fault dio garbage\" \"@kqx di 1 1\" dio-trigger"
                   " \"@kqx clear\" \"@kqx di 1 0\" dio-trigger dio-unmonitor");
    ASSERT_EQ(run.status, 0) << run.errors;
    std::vector<int> statuses;
    for (const json& line : run.outputs) {
        if (line.contains("call")) {
            statuses.push_back(line.value("status", -999));
        } else if (line.contains("control")) {
            EXPECT_TRUE(line.value("ok", false)) << line;
        }
    }
    EXPECT_EQ(statuses, std::vector<int>(4, 0)) << run.output;
}

}  // namespace
