// Identity is asked of a board once: detection reads a device once for every product class
// that tries it, and the accepted product answers its identity calls from what was read, with
// the same texts, without going to the board again. Checked on the real libraries under qrt-sim
// over a rig with one board of each family (pause counts of the probe's own process).

#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "support/RigRunner.h"

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

class IdentityEndToEnd : public ::testing::Test {
  protected:
    json probe(const std::string& rig, int rounds) {
        const qrttest::RigRun run = rig_.run(rig, "\"$PROBE\" " + std::to_string(rounds));
        EXPECT_EQ(run.status, 0) << run.errors;
        return run.outputs.empty() ? json() : run.outputs.front();
    }
    qrttest::RigRunner rig_{{{"PROBE", IDENTITY_PROBE_PATH}}};
};

TEST_F(IdentityEndToEnd, RepeatedIdentityCallsAnswerTheSameWithoutTouchingTheBoard) {
    const json out = probe(kMixedRig, 3);
    ASSERT_EQ(out["products"].size(), 9u);
    for (const json& product : out["products"]) {
        const json& rounds = product["rounds"];
        SCOPED_TRACE("type " + product["type"].dump());
        for (size_t round = 1; round < rounds.size(); ++round) {
            for (const char* key : {"info", "info_status", "sn", "sn_status"})
                EXPECT_EQ(rounds[round][key], rounds[0][key]) << key << " of round " << round;
            EXPECT_EQ(rounds[round]["pauses"], 0) << "round " << round;
        }
    }
}

// Both boards carry the microcontroller on a PEX 8608, whose protocol asks for one unused
// part-number read before the real one. The 12-port card is tried by the 4/8-port class first;
// what that class read must serve the 12-port class, so the detections cost the same.
TEST_F(IdentityEndToEnd, APartNumberReadByARejectingClassServesTheNextClass) {
    const json twelve = probe("[a]\nmodel = PCIe-W512\n", 0);
    const json eight = probe("[a]\nmodel = PCIe-W508\nswitch = 8608\n", 0);
    ASSERT_EQ(twelve["products"].size(), 1u);
    ASSERT_EQ(eight["products"].size(), 1u);
    EXPECT_GT(eight["detection_pauses_us"].get<unsigned long long>(), 0u);
    EXPECT_EQ(twelve["detection_pauses_us"], eight["detection_pauses_us"]);
}

}  // namespace
