// Identity is asked of a board once: detection reads a device once for every product class
// that tries it, and the accepted product answers its identity calls from what was read, with
// the same texts, without going to the board again. Checked on the real libraries under qrt-sim
// over a rig with one board of each family (pause counts of the probe's own process).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigFixture.h"

namespace {

using nlohmann::json;

constexpr char kMixedRig[] =
    "[card0]\nmodel = PCIe-W512\nsn = W5C0001\n"
    "[card1]\nmodel = PCIe-W508\nswitch = 8608\nsn = W5B0001\n"
    "[card2]\nmodel = PCIe-W504P\nsn = W5A0001\n"
    "[card3]\nmodel = PCIe-RHX54P\nsn = RHX0001\n"
    "[card4]\nmodel = PCIe-RHX54PPRO\nsn = RHX0002\n"
    "[card5]\nmodel = PCIe-RHXGPU-P1000\nsn = RHX0003\n"
    "[card6]\nmodel = PCIe-RHX54\nsn = RHX0004\n"
    "[card7]\nmodel = PCIe-RHX10T\nsn = RHX0005\n"
    "[card8]\nmodel = PCIe-RHX44+\n";

// Detection, then ROUNDS rounds of every product's identity calls, in one process.
std::string identityCalls(int rounds) {
    std::vector<std::string> calls = {"QRT_GetProductNums"};
    for (int round = 0; round < rounds; ++round) {
        calls.push_back("QRT_GetProductInfo all @511 512");
        calls.push_back("QRT_GetProductSN all @63 64");
    }
    return qrttest::callLine(calls);
}

class IdentityEndToEnd : public qrttest::RigFixture {
  protected:
    qrttest::RigRun probe(const std::string& rigText, int rounds) {
        qrttest::RigRun run = rig.run(rigText, identityCalls(rounds));
        EXPECT_EQ(run.status, 0) << run.errors;
        return run;
    }
};

TEST_F(IdentityEndToEnd, RepeatedIdentityCallsAnswerTheSameWithoutTouchingTheBoard) {
    const qrttest::RigRun run = probe(kMixedRig, 3);
    ASSERT_EQ(qrttest::answerOf(run, "QRT_GetProductNums")["status"], 9);
    for (const char* call : {"QRT_GetProductInfo", "QRT_GetProductSN"}) {
        for (int index = 0; index < 9; ++index) {
            SCOPED_TRACE(std::string(call) + " of product " + std::to_string(index));
            const json& first = qrttest::answerOf(run, call, index, 0);
            for (int round = 1; round < 3; ++round) {
                const json& again = qrttest::answerOf(run, call, index, round);
                EXPECT_EQ(again["status"], first["status"]) << "round " << round;
                EXPECT_EQ(again["args"][0], first["args"][0]) << "round " << round;
                EXPECT_EQ(again["pauses_us"], 0) << "round " << round;
            }
        }
    }
}

// Both boards carry the microcontroller on a PEX 8608, whose protocol asks for one unused
// part-number read before the real one. The 12-port card is tried by the 4/8-port class first;
// what that class read must serve the 12-port class, so the detections cost the same.
TEST_F(IdentityEndToEnd, APartNumberReadByARejectingClassServesTheNextClass) {
    const json twelve =
        qrttest::answerOf(probe("[a]\nmodel = PCIe-W512\n", 0), "QRT_GetProductNums");
    const json eight = qrttest::answerOf(probe("[a]\nmodel = PCIe-W508\nswitch = 8608\n", 0),
                                         "QRT_GetProductNums");
    ASSERT_EQ(twelve["status"], 1);
    ASSERT_EQ(eight["status"], 1);
    EXPECT_GT(eight["detection_pauses_us"].get<unsigned long long>(), 0u);
    EXPECT_EQ(twelve["detection_pauses_us"], eight["detection_pauses_us"]);
}

}  // namespace
