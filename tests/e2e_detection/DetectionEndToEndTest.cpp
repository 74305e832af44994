// Detection with every device probed at once gives exactly the product table of one device
// probed after the other (indexes, order, types, texts, features, handles), on every rig of the
// tests, with the library loaded from a second thread (its initialiser then runs under the
// dynamic loader's lock); and a card whose probe hangs delays only itself.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigRunner.h"

namespace {

using nlohmann::json;

std::vector<std::string> rigFiles() {
    std::vector<std::string> files;
    std::istringstream list(DETECTION_RIGS);
    for (std::string file; std::getline(list, file, ',');) files.push_back(file);
    return files;
}

std::string nameOf(const ::testing::TestParamInfo<std::string>& info) {
    std::string path = info.param, name;
    const size_t slash = path.rfind('/', path.rfind('/') - 1);
    for (char c : path.substr(slash + 1, path.size() - slash - 5))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class DetectionOnEveryRig : public ::testing::TestWithParam<std::string> {
  protected:
    qrttest::RigRunner rig_{{{"PROBE", DETECTION_PROBE_PATH}, {"LIB", SDK_LIBRARY_PATH}}};
};

TEST_P(DetectionOnEveryRig, AllAtOnceFromASecondThreadGivesTheOneByOneTable) {
    const qrttest::RigRun run =
        rig_.run(qrttest::readWholeFile(GetParam()),
                 "QRT_DETECT_THREADS=1 \"$PROBE\" \"$LIB\" && \"$PROBE\" \"$LIB\" thread",
                 qrttest::RigRunner::kNoViolations, RIG_PLUGINS);
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 2u) << run.output;
    const json& oneByOne = run.outputs[0];
    EXPECT_EQ(run.outputs[1], oneByOne);
    EXPECT_TRUE(oneByOne["handles_distinct"]);
    EXPECT_TRUE(oneByOne["handles_stable"]);
    EXPECT_TRUE(oneByOne["beyond_the_table"]);
}

INSTANTIATE_TEST_SUITE_P(Rigs, DetectionOnEveryRig, ::testing::ValuesIn(rigFiles()), nameOf);

// More boards than the table holds: the first 32 accepted, the rest never probed, either way.
TEST(DetectionAtOnce, KeepsTheFirstThirtyTwoBoardsOfThirtyFour) {
    std::string rigText;
    const char* models[] = {"PCIe-W504", "PCIe-RHX54P", "PCIe-RHX10T", "PCIe-RHX44+"};
    for (int i = 0; i < 34; ++i) {
        char section[96];
        std::snprintf(section, sizeof section, "[card%02d]\nmodel = %s\n", i, models[i % 4]);
        rigText += section;
    }
    qrttest::RigRunner rig{{{"PROBE", DETECTION_PROBE_PATH}, {"LIB", SDK_LIBRARY_PATH}}};
    const qrttest::RigRun run =
        rig.run(rigText, "QRT_DETECT_THREADS=1 \"$PROBE\" \"$LIB\" && \"$PROBE\" \"$LIB\"");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.outputs.size(), 2u) << run.output;
    EXPECT_EQ(run.outputs[0]["products"].size(), 32u);
    EXPECT_EQ(run.outputs[1], run.outputs[0]);
}

// The middle one of three cards finds its switch's serial port busy for two seconds: the other
// two are probed meanwhile and their probes end before its own. (A wait of seconds: the
// sanitizer builds leave it out, scripts/test.sh.)
TEST(DetectionAtOnce, ACardWhoseProbeHangsDelaysOnlyItself) {
    qrttest::RigRunner rig{
        {{"PROBE", DETECTION_PROBE_PATH}, {"LIB", SDK_LIBRARY_PATH}, {"SIM", QRT_SIM_PATH}}};
    const qrttest::RigRun run = rig.run(
        "[card0]\nmodel = PCIe-RHX54P\n[card1]\nmodel = PCIe-RHX54P\n[card2]\nmodel = "
        "PCIe-RHX54P\n",
        "\"$SIM\" --control \"card1 fault switch busy\" >/dev/null && "
        "{ \"$PROBE\" \"$LIB\" types & sleep 2; \"$SIM\" --control \"card1 clear\" >/dev/null; "
        "wait; }");
    ASSERT_EQ(run.status, 0) << run.errors;
    // The position in the trace of each device's last request.
    std::vector<size_t> lastRequest(3, 0);
    std::istringstream lines(run.trace);
    size_t at = 0;
    for (std::string line; std::getline(lines, line); ++at) {
        const size_t device = line.find(" dev=");
        if (device == std::string::npos) continue;
        const unsigned index = unsigned(std::stoul(line.substr(device + 5)));
        if (index < lastRequest.size()) lastRequest[index] = at;
    }
    EXPECT_LT(lastRequest[0], lastRequest[1]);
    EXPECT_LT(lastRequest[2], lastRequest[1]);
    ASSERT_EQ(run.outputs.size(), 1u) << run.output;
    const json& types = run.outputs[0]["types"];
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(types.front(), types.back());
}

}  // namespace
