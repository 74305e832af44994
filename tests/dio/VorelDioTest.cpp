// The DIO block over a directory that stands in for the driver's class directory: lines and
// capabilities from the files present, line states and edges as the files carry them, and the
// uevent parser on the datagrams the driver (and others) send.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "product/dio/C_vorelDIO.h"
#include "product/dio/DioUevent.h"
#include "utilities/TempDir.h"

namespace {

class DioOnFiles : public C_vorelDIO {
  public:
    DioOnFiles(const TempDir& dir)
        : C_vorelDIO((dir.path("vorel_dio") + "/").c_str(), dir.path("HWID").c_str()) {}
};

class VorelDio : public ::testing::Test {
  protected:
    void SetUp() override { ::mkdir(dir.path("vorel_dio").c_str(), 0755); }
    std::string line(const std::string& name, const std::string& content, mode_t mode = 0644) {
        std::string path = dir.write("vorel_dio/" + name, content);
        ::chmod(path.c_str(), mode);
        return path;
    }
    std::string read(const std::string& name) { return dir.read("vorel_dio/" + name); }

    TempDir dir;
};

template <class T>
std::vector<int> caps(unsigned count, const T* list) {
    return std::vector<int>(list, list + count);
}

TEST_F(VorelDio, LinesAndCapabilitiesFollowTheFilesTheDriverOffers) {
    line("DI_0", "1\n");
    line("DI_1", "0\n");
    line("DI_1_TrigMod", "1\n");
    line("DI_3", "1\n");  // after a gap: never counted
    line("DO_0", "0", 0200);
    line("DO_1", "0\n", 0644);
    DioOnFiles dio(dir);
    ASSERT_EQ(dio.initial(nullptr), 0);

    unsigned di = 0, dout = 0;
    EXPECT_EQ(dio.getDINums(&di), 0);
    EXPECT_EQ(dio.getDONums(&dout), 0);
    EXPECT_EQ(di, 2u);
    EXPECT_EQ(dout, 2u);
    QRT_DIOCAPABILITY_TYPE block[4];
    EXPECT_EQ(caps(dio.getCapability(block, 4), block), (std::vector<int>{0, 1}));
    QRT_DIODICAPABILITY_TYPE dicaps[4];
    EXPECT_EQ(caps(dio.getDICapability(0, dicaps, 4), dicaps), (std::vector<int>{0, 3}));
    EXPECT_EQ(caps(dio.getDICapability(1, dicaps, 4), dicaps), (std::vector<int>{0, 3, 4}));
    EXPECT_EQ(dio.getDICapability(1, dicaps, 2), 2u);
    // Values the library must not write: unused values inside each enumeration's range.
    QRT_DIODICAPABILITY_TYPE untouched[1] = {QRT_DIODICAPABILITY_TYPE(7)};
    EXPECT_EQ(dio.getDICapability(7, untouched, 1), 0u);
    EXPECT_EQ(untouched[0], 7);
    QRT_DIODOCAPABILITY_TYPE docaps[4];
    EXPECT_EQ(caps(dio.getDOCapability(0, docaps, 4), docaps), (std::vector<int>{0}));
    EXPECT_EQ(caps(dio.getDOCapability(1, docaps, 4), docaps), (std::vector<int>{0, 1}));

    // A write-only output is set but never read back; any level but 0 drives it high.
    int state = 7;
    EXPECT_EQ(dio.setDOState(0, 5), 0);
    EXPECT_EQ(read("DO_0"), "1");
    EXPECT_EQ(dio.getDOState(0, &state), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(dio.setDOState(2, 1), QRT_ERR_INVALID_PARAM);
    int levels[3] = {0, 1, 7};
    EXPECT_EQ(dio.setDOStates(levels, 3), 0);
    EXPECT_EQ(read("DO_0") + read("DO_1"), "01");
    int back[2] = {7, 7};
    EXPECT_EQ(dio.getDOStates(back, 2), QRT_ERR_FAILED) << "output 0 cannot be read back";
    EXPECT_EQ(back[1], 1);

    int inputs[3] = {7, 7, 7};
    EXPECT_EQ(dio.getDIStates(inputs, 3), 0);
    EXPECT_EQ(caps(3, inputs), (std::vector<int>{1, 0, 7}));
    EXPECT_EQ(dio.getDIState(2, &state), QRT_ERR_INVALID_PARAM);
}

TEST_F(VorelDio, EdgeTypesTravelAsTheDriversPolarityCodes) {
    line("DI_0", "0\n");
    line("DI_1", "0\n");
    line("DI_1_TrigMod", "0\n");
    DioOnFiles dio(dir);
    ASSERT_EQ(dio.initial(nullptr), 0);
    const std::pair<QRT_EDGETRIGGER_TYPE, const char*> table[] = {
        {QRT_EDGE_TRIGGER_EDGE0, "1"}, {QRT_EDGE_TRIGGER_EDGE1, "0"}, {QRT_EDGE_TRIGGER_BOTH, "2"}};
    for (const auto& [edge, code] : table) {
        QRT_EDGETRIGGER_TYPE back = QRT_EDGETRIGGER_TYPE(3);
        EXPECT_EQ(dio.setDIEdgeTrigger(1, edge), 0);
        EXPECT_EQ(read("DI_1_TrigMod"), code);
        EXPECT_EQ(dio.getDIEdgeTrigger(1, &back), 0);
        EXPECT_EQ(back, edge);
    }
    QRT_EDGETRIGGER_TYPE edge;
    EXPECT_EQ(dio.setDIEdgeTrigger(1, QRT_EDGETRIGGER_TYPE(3)), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(dio.setDIEdgeTrigger(2, QRT_EDGE_TRIGGER_BOTH), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(dio.setDIEdgeTrigger(0, QRT_EDGE_TRIGGER_BOTH), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(dio.getDIEdgeTrigger(0, &edge), QRT_ERR_NOT_SUPPORTED);
    line("DI_1_TrigMod", "3\n");
    EXPECT_EQ(dio.getDIEdgeTrigger(1, &edge), QRT_ERR_FAILED);
}

TEST_F(VorelDio, ABlockNeedsOneLineAndReportsTheBoardIdentification) {
    DioOnFiles none(dir);
    EXPECT_EQ(none.initial(nullptr), QRT_ERR_FAILED);
    char info[64] = "x";
    EXPECT_EQ(none.getInfo(info, sizeof info), QRT_ERR_NOT_SUPPORTED);

    line("DO_0", "0", 0200);
    dir.write("HWID", "KQX-R2\nsecond line\n");
    DioOnFiles outputOnly(dir);
    EXPECT_EQ(outputOnly.initial(nullptr), 0);
    QRT_DIOCAPABILITY_TYPE block[2];
    EXPECT_EQ(caps(outputOnly.getCapability(block, 2), block), (std::vector<int>{1}));
    EXPECT_EQ(outputOnly.getInfo(info, sizeof info), 0);
    EXPECT_STREQ(info, "PCBVersion:KQX-R2\n\r\n");
    QRT_FEATURE_TYPE features[1] = {QRT_FEATURE_TYPE(7)};
    EXPECT_EQ(outputOnly.getFeatureList(features, 0), 1u);
    EXPECT_EQ(features[0], 7);
    EXPECT_EQ(outputOnly.getFeatureList(features, 1), 1u);
    EXPECT_EQ(features[0], QRT_FEATURE_DIO);
    EXPECT_EQ(outputOnly.getFeatureHandle(QRT_FEATURE_DIO), static_cast<I_dio*>(&outputOnly));
    EXPECT_EQ(outputOnly.getFeatureHandle(QRT_FEATURE_POE), nullptr);
    EXPECT_EQ(outputOnly.triggerDO(0), QRT_ERR_NOT_SUPPORTED);
}

// ---------------------------------------------------------------------------------------------

struct Datagram {
    const char* story;
    std::vector<std::string> strings;  // each sent with its terminator, unless `open` is set
    bool open;                         // the last string has no terminator
    int found;
    unsigned index;
    int state;
};

std::string build(const Datagram& d) {
    std::string bytes;
    for (const std::string& s : d.strings) bytes += s + '\0';
    if (d.open) bytes.pop_back();
    return bytes;
}

const char* const kHeader = "change@/devices/platform/vorel_dio";

TEST(DioUevent, AcceptsOnlyAChangeOfTheDriverNamingAnInputInRange) {
    const std::string longHeader = std::string(kHeader) + std::string(60, 'x');
    // clang-format off
    const Datagram cases[] = {
        {"driver after the input", {longHeader, "ACTION=change", "DEVPATH=/devices/platform/vorel_dio", "DI_1=1", "DRIVER=vorel_dio"}, false, 1, 1, 1},
        {"driver before the input", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_3=0", "SEQNUM=7"}, false, 1, 3, 0},
        {"another driver", {kHeader, "ACTION=change", "DI_1=1", "DRIVER=gpio_keys"}, false, 0, 0, 0},
        {"another action", {kHeader, "ACTION=add", "DRIVER=vorel_dio", "DI_1=1"}, false, 0, 0, 0},
        {"input out of range, no other", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_9=1"}, false, 0, 0, 0},
        {"input out of range, a valid one later", {kHeader, "ACTION=change", "DI_9=1", "DI_2=1", "DRIVER=vorel_dio"}, false, 1, 2, 1},
        {"state other than 0 or 1", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_2=5"}, false, 0, 0, 0},
        {"negative input", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_-1=1"}, false, 0, 0, 0},
        {"keys before the action are not taken", {kHeader, "DRIVER=vorel_dio", "DI_1=1", "ACTION=change"}, false, 0, 0, 0},
        {"bare ACTION key", {kHeader, "ACTION", "DRIVER=vorel_dio", "DI_1=1"}, false, 0, 0, 0},
        {"input string cut off at the end", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_1"}, true, 0, 0, 0},
        {"last string unterminated but whole", {kHeader, "ACTION=change", "DRIVER=vorel_dio", "DI_0=1"}, true, 1, 0, 1},
        {"shorter than the header", {"change@/x"}, false, 0, 0, 0},
        {"header only", {kHeader}, false, 0, 0, 0},
        {"keys begin after a short header", {"change@/dio", "ACTION=change", "DRIVER=vorel_dio", "DI_1=1"}, false, 1, 1, 1},
        {"a header's rest is no key", {"change@/devices/ACTION=add", "ACTION=change", "DRIVER=vorel_dio", "DI_2=1"}, false, 1, 2, 1},
        {"no header", {"ACTION=change", "DRIVER=vorel_dio", "DI_1=1"}, false, 0, 0, 0},
        {"header without @", {"change/devices/platform/vorel_dio", "ACTION=change", "DRIVER=vorel_dio", "DI_1=1"}, false, 0, 0, 0},
    };
    // clang-format on
    for (const Datagram& d : cases) {
        SCOPED_TRACE(d.story);
        std::string bytes = build(d);
        // Copied to exactly its length, so that a read beyond it is caught by the sanitizer.
        std::vector<char> datagram(bytes.begin(), bytes.end());
        unsigned index = 99;
        int state = 99;
        EXPECT_EQ(dio_uevent::parse(datagram.data(), datagram.size(), 4, &index, &state), d.found);
        EXPECT_EQ(index, d.found ? d.index : 99u);
        EXPECT_EQ(state, d.found ? d.state : 99);
    }
}

}  // namespace
