// Several processes and several threads on the same cards, end to end under qrt-sim: the real,
// unmodified libraries in every worker, the rig serving them all in one order as the hardware
// would. Every answer a worker got must be the rig's truth or "busy", every worker must get
// through, the rig must end in a state some worker last wrote, and no chip model may count a
// protocol violation (RigRunner checks that after every run).

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "support/RigFixture.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;
using qrttest::RigRunner;

const char* const kSharedRig =
    "[card0]\nmodel = PCIe-W508P\nsn = W8B0002\nex_power = 1\ncard_id = 5\n"
    "[card1]\nmodel = PCIe-RHX10T\nsn = T10-0001\ncard_id = 0x2A\ntemperature = 47\n";

using Truth = std::map<std::string, std::string>;

// What every call of `card_worker rounds` must answer on kSharedRig when it succeeds.
const Truth kSharedTruth = {
    {"0.info",
     "Product:PCIe-W508P\r\nMCUVersion:1.0\r\nPN:W5-53104-21\r\nSN:W8B0002\r\nPCBVersion:2\r\n"},
    {"0.sn", "W8B0002"},
    {"0.card_id", "5"},
    {"0.power", "1,0,1,1,0,0,1,0"},
    {"1.info",
     "Product:PCIe-RHX10T\r\nCPLDVersion:20190618_1030\r\nMCUVersion:2.1\r\nPN:RHX53105-00\r\n"
     "SN:T10-0001\r\nPCBVersion:2\r\nMAC0: 02:c3:f1:c8:2a:00\r\nMAC1: 02:c3:f1:c8:2a:01\r\n"},
    {"1.sn", "T10-0001"},
    {"1.card_id", "42"},
    {"1.poe_enable", "1,0"},
    {"1.temperature", "47.0"},
};

// The embedded system with its microcontroller and identity EEPROM on one Linux I2C adapter:
// every exchange moves the adapter's device address, so another process's message in between
// would reach the wrong device.
const char* const kEmbeddedRig =
    "[kqx]\nmodel = TULAN-KQX\nsn = KQX0042\nmcu_bus = 5\neeprom_bus = 5\ntemperature = 47\n";

const Truth kEmbeddedTruth = {
    {"0.info",
     "Product:TULAN-KQX\r\nMCUVersion:2.1\r\nPN:RHX27650-01\r\nSN:KQX0042\r\n"
     "PCBVersion:TULAN-KQX\n\r\n"},
    {"0.sn", "KQX0042"},
    {"0.poe_enable", "1,0,0,1"},
    {"0.temperature", "47.0"},
};

const char* const kBusy = "-100";

// The calls of one worker: each answered with the truth or "busy", and each got through at
// least once (or, when `busyAllowed` is false, every time). Returns the number of busy answers.
int expectTruth(const json& tally, bool busyAllowed, const Truth& truths = kSharedTruth) {
    int busy = 0;
    std::set<std::string> calls;
    for (auto call = tally.begin(); call != tally.end(); ++call) {
        calls.insert(call.key());
        auto truth = truths.find(call.key());
        if (truth == truths.end()) continue;
        int successes = 0;
        for (auto answer = call->begin(); answer != call->end(); ++answer) {
            if (answer.key() == "0|" + truth->second) {
                successes += answer->get<int>();
            } else if (answer.key() == kBusy && busyAllowed) {
                busy += answer->get<int>();
            } else {
                ADD_FAILURE() << call.key() << " answered " << answer.key() << " ("
                              << answer->get<int>() << " times)";
            }
        }
        EXPECT_GT(successes, 0) << call.key() << " never got through";
    }
    for (const auto& truth : truths) EXPECT_EQ(calls.count(truth.first), 1u) << truth.first;
    return busy;
}

class ConcurrencyEndToEnd : public qrttest::RigFixture {
  protected:
    ConcurrencyEndToEnd()
        : RigFixture({{"CONDUCTOR", CONDUCTOR_PATH},
                      {"WORKER", CARD_WORKER_PATH},
                      {"HOLDER", LOCK_HOLDER_PATH},
                      {"ADAPTER", ADAPTER_WORKER_PATH}}) {}
};

// ---- processes --------------------------------------------------------------------------------

struct Crowd {
    const char* name;
    const char* rig;
    const Truth* truth;
    int products;
    int processes;
    bool staggered;  // each starts once the one before it is done with the first card
    int rounds;
};

const Crowd kCrowds[] = {
    {"TwoTogether", kSharedRig, &kSharedTruth, 2, 2, false, 2},
    {"TwoStaggered", kSharedRig, &kSharedTruth, 2, 2, true, 2},
    {"FourTogether", kSharedRig, &kSharedTruth, 2, 4, false, 1},
    {"FourStaggered", kSharedRig, &kSharedTruth, 2, 4, true, 1},
    {"FourOnTheEmbeddedSystem", kEmbeddedRig, &kEmbeddedTruth, 1, 4, false, 2},
    {"FourStaggeredOnTheEmbeddedSystem", kEmbeddedRig, &kEmbeddedTruth, 1, 4, true, 2},
};

class ManyProcesses : public ConcurrencyEndToEnd, public ::testing::WithParamInterface<Crowd> {};

// Detection included: a process that starts while others use the cards still finds both.
// Real time, since each process's skipped pauses would give it a clock of its own.
TEST_P(ManyProcesses, EveryProcessFindsEveryCardAndGetsOnlyTheTruthOrBusy) {
    const Crowd& crowd = GetParam();
    if (crowd.rig == kEmbeddedRig && !embeddedSystemBuilds()) GTEST_SKIP() << kNoEmbeddedSystem;
    rig.keepRealTime();
    const std::string start = crowd.staggered
                                  ? "staggered " + std::to_string(crowd.processes) + " 1"
                                  : "together " + std::to_string(crowd.processes);
    RigRun r = rig.run(
        crowd.rig, "$CONDUCTOR " + start + " -- $WORKER rounds " + std::to_string(crowd.rounds));
    EXPECT_EQ(r.status, 0) << r.errors;
    ASSERT_EQ(r.outputs.size(), size_t(crowd.processes)) << r.errors;
    for (const json& worker : r.outputs) {
        SCOPED_TRACE("process " + worker.value("pid", json()).dump());
        EXPECT_EQ(worker["products"], crowd.products);
        const int busy = expectTruth(worker["tally"], true, *crowd.truth);
        RecordProperty("busy_answers", busy);
    }
}

INSTANTIATE_TEST_SUITE_P(Crowds, ManyProcesses, ::testing::ValuesIn(kCrowds),
                         [](const auto& info) { return std::string(info.param.name); });

// A process that dies in the middle of a mailbox exchange, holding its card's lock, leaves the
// card to the next process: the driver drops the lock with the dead process's file.
using Processes = ConcurrencyEndToEnd;

TEST_F(Processes, OneKilledInTheMiddleOfAnExchangeLeavesTheCardToTheNext) {
    rig.keepRealTime();  // the answer the dead process left unread is ready for the next one
    RigRun r = rig.run(kSharedRig, "$CONDUCTOR kill 1 -- $HOLDER && $WORKER rounds 1");
    EXPECT_EQ(r.status, 0) << r.errors;
    ASSERT_EQ(r.outputs.size(), 1u) << r.errors;
    EXPECT_EQ(r.outputs[0]["products"], 2);
    expectTruth(r.outputs[0]["tally"], false);
}

// Four processes read one Linux I2C adapter's memory at once, each an address write, a pause
// and a read: every read must return the bytes at its own address, never at another process's.
TEST_F(Processes, OnOneI2cAdapterNeverMoveEachOthersAddress) {
    rig.keepRealTime();
    RigRun r = rig.run("[bench]\nmodel = BENCH-I2C\nadapter = 5\n",
                       "$ADAPTER fill 5 && $CONDUCTOR together 4 -- $ADAPTER read 5 12",
                       RigRunner::kNoViolations, "--plugin '" BENCH_PLUGIN_PATH "'");
    EXPECT_EQ(r.status, 0) << r.errors;
    ASSERT_EQ(r.outputs.size(), 4u) << r.errors;
    for (const json& reads : r.outputs) EXPECT_EQ(reads, json({{"right", 12}}));
}

// ---- threads ----------------------------------------------------------------------------------

struct Team {
    const char* name;
    const char* model;
    int cards;  // thread t works on card t % cards
};

// The 12-port card switches its last four ports on the PCIe switch's pins: its threads also
// share the switch's pin caches.
const Team kTeams[] = {{"OnOneCard", "PCIe-W508", 1},
                       {"OnOneTwelvePortCard", "PCIe-W512", 1},
                       {"OnEightCards", "PCIe-W508", 8}};
constexpr int kThreads = 8;
constexpr int kThreadRounds = 8;

class EightThreads : public ConcurrencyEndToEnd, public ::testing::WithParamInterface<Team> {};

// No lock is ever held for ten seconds here, so no call may answer busy; every thread gets at
// least half as far as the first one to finish; each card ends powered as one of its threads
// last switched it.
TEST_P(EightThreads, EveryThreadGetsThroughAndEachCardKeepsALastWrite) {
    const Team& team = GetParam();
    std::string rigText;
    for (int c = 0; c < team.cards; ++c)
        rigText += "[card" + std::to_string(c) + "]\nmodel = " + team.model +
                   "\ncard_id = " + std::to_string(10 + c) + "\n";
    RigRun r = rig.run(rigText, "$WORKER threads " + std::to_string(kThreads) + " " +
                                    std::to_string(kThreadRounds));
    EXPECT_EQ(r.status, 0) << r.errors;
    ASSERT_EQ(r.outputs.size(), 1u) << r.errors;
    const json& out = r.outputs[0];
    ASSERT_EQ(out["products"], team.cards);
    std::map<int, std::set<unsigned>> lastMasks;  // card -> what its threads wrote last
    for (const json& thread : out["threads"]) {
        const int card = thread["product"];
        EXPECT_GE(thread["rounds_at_first_finish"], kThreadRounds / 2) << thread.dump();
        const json expected = {{"set_power", {{"0|", thread["rounds"]}}},
                               {"get_power", {{"0|", thread["rounds"]}}},
                               {"card_id", {{"0|" + std::to_string(10 + card), thread["rounds"]}}}};
        EXPECT_EQ(thread["tally"], expected);
        lastMasks[card].insert(thread["last_mask"].get<unsigned>());
    }
    for (int c = 0; c < team.cards; ++c) {
        const json& ports = r.board("card" + std::to_string(c))["port_power"];
        unsigned mask = 0;
        for (size_t port = 0; port < ports.size(); ++port)
            if (ports[port] == 1) mask |= 1u << port;
        EXPECT_EQ(lastMasks[c].count(mask), 1u) << "card" << c << " ends with " << ports.dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Teams, EightThreads, ::testing::ValuesIn(kTeams),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
