// Trigger over Ethernet on a rig card: the action-command frame the CPLD stores, its read-back,
// sending, and the control word's read-modify-write. The port's host interface lives in a
// private network namespace of this test process.

#include <gtest/gtest.h>
#include <sched.h>

#include <string>
#include <vector>

#include "poe/PoeBench.h"
#include "product/poe/A_poeProSeries.h"
#include "sim/bridge/Sandbox.h"

namespace {

using poetest::BenchCard;
using poetest::RigCard;
using Card = BenchCard<A_poeProSeries>;

constexpr const char* kPort0Mac = "02:00:00:00:00:10";

class PoeProSeries : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no private network namespace here";
        ASSERT_EQ(card.initial(rig.pciMap()), 0);
    }
    // Gives the port's MAC an interface with an address, as the card's port on the host.
    void hostInterface(const std::string& cidr) {
        std::string error;
        ASSERT_TRUE(qrtsim::runProgram({"ip", "link", "add", "p0", "address", kPort0Mac, "type",
                                        "veth", "peer", "name", "p0x"},
                                       error))
            << error;
        ASSERT_TRUE(qrtsim::runProgram({"ip", "addr", "add", cidr, "dev", "p0"}, error)) << error;
    }
    std::vector<uint8_t> frame(int port) {
        auto packet = rig.board().cpld().packet(port);
        return std::vector<uint8_t>(packet.begin(), packet.end());
    }

    RigCard rig{"PCIe-RHX54PPRO", {{"mac0", kPort0Mac}}};
    Card card{QRT_PRODUCT_RHX54PPRO, 4};
};

TEST_F(PoeProSeries, WithoutAnInterfaceForThePortNothingIsStored) {
    EXPECT_EQ(card.setToEActionCommand(0, 1, 2, 3), QRT_ERR_FAILED);
    EXPECT_EQ(frame(0), std::vector<uint8_t>(64, 0));
    EXPECT_EQ(card.setToEActionCommand(4, 1, 2, 3), QRT_ERR_INVALID_PARAM);
}

TEST_F(PoeProSeries, SendFiresOnePortOrAllAndRefusesOthers) {
    hostInterface("10.1.2.3/24");
    ASSERT_EQ(card.setToEActionCommand(0, 1, 2, 3), 0);
    EXPECT_EQ(card.sendToEActionCommand(0), 0);
    ASSERT_EQ(rig.frames.frames.size(), 1u);
    std::vector<uint8_t> stored = frame(0);
    EXPECT_EQ(rig.frames.frames[0], std::vector<uint8_t>(stored.begin(), stored.begin() + 62));
    EXPECT_EQ(card.sendToEActionCommand(-1), 0);
    EXPECT_EQ(rig.frames.frames.size(), 5u);
    EXPECT_EQ(card.sendToEActionCommand(-2), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(card.sendToEActionCommand(4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(rig.frames.frames.size(), 5u);
}

TEST_F(PoeProSeries, SettingsAlreadyHeldWriteNothingAndBadModesTouchNothing) {
    ASSERT_EQ(card.setToEExTriggerDebounce(0x123456), 0);
    ASSERT_EQ(card.setToEEdgeTriggerMode(QRT_EDGE_TRIGGER_EDGE0), 0);
    ASSERT_EQ(card.setToETriggerEnable(5), 0);
    EXPECT_EQ(rig.board().cpld().registerWord(0x10), 0x12345605u);
    // CPLD register accesses are the switch's serial-port commands.
    const auto& serial = rig.board().pciSwitch().serialCounters();
    const unsigned writes = serial.writes, reads = serial.reads;
    EXPECT_EQ(card.setToETriggerEnable(1), 0);
    EXPECT_EQ(card.setToEExTriggerDebounce(0x123456), 0);
    EXPECT_EQ(card.setToEEdgeTriggerMode(QRT_EDGE_TRIGGER_EDGE0), 0);
    EXPECT_EQ(card.setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE(3)), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(serial.reads, reads + 3 * 2);  // each control-word read polls the busy flag once
    EXPECT_EQ(serial.writes, writes);
}

}  // namespace
