#pragma once

// The fixture of the tests that run programs under qrt-sim: every test gets a scratch
// RigRunner with the fixture's programs, and is skipped where qrt-sim cannot run a program at
// all (no driver bridge to preload, say). Whether the rig runs is found out once per test
// program. Test programs define QRT_SIM_PATH and QRT_CALL_PROBE_PATH (qrt_e2e_test does).

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/CallProbe.h"
#include "support/RigRunner.h"

namespace qrttest {

class RigFixture : public ::testing::Test {
  protected:
    // `programs`: environment variables naming the programs for the command lines; "CALL"
    // names the generic probe (CallProbe.h) in every fixture.
    explicit RigFixture(std::map<std::string, std::string> programs = {})
        : rig(withCallProbe(std::move(programs))) {}

    void SetUp() override {
        ASSERT_TRUE(rig.usable());
        const RigRun& probe = rigProbe(rig);
        if (probe.status != 0)
            GTEST_SKIP() << "qrt-sim cannot run a program here: " << probe.errors;
    }

    // False where the rig cannot give the embedded system its files and uevents: it needs
    // private mount and network namespaces (root).
    bool embeddedSystemBuilds() { return rigNamespaces() == "mount,net"; }
    // The private namespaces the runner gives an embedded system ("mount,net" under qrt-sim;
    // "kernel" where a stand-in runs the programs against the kernel's own DIO block), or ""
    // where it cannot build one.
    std::string rigNamespaces() {
        static const RigRun probe = rig.run("[kqx]\nmodel = TULAN-KQX\n",
                                            "printf \"%s\\n\" \"\\\"$QRT_SIM_NAMESPACES\\\"\"");
        if (probe.status != 0 || probe.outputs.empty() || !probe.outputs[0].is_string()) return "";
        return probe.outputs[0].get<std::string>();
    }
    static constexpr const char* kNoEmbeddedSystem =
        "the embedded system needs private mount and network namespaces (root)";

    RigRunner rig;

  private:
    static std::map<std::string, std::string> withCallProbe(
        std::map<std::string, std::string> programs) {
        programs.emplace("CALL", QRT_CALL_PROBE_PATH);
        return programs;
    }
    static const RigRun& rigProbe(RigRunner& runner) {
        static const RigRun probe = runner.run("[a]\nmodel = PCIe-W504\n", "true");
        return probe;
    }
};

}  // namespace qrttest
