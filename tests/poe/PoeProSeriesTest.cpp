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

// One's-complement sum of the big-endian words of bytes [from, to).
unsigned onesSum(const std::vector<uint8_t>& bytes, size_t from, size_t to, unsigned sum = 0) {
    for (size_t i = from; i < to; i += 2) sum += (bytes[i] << 8) | bytes[i + 1];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

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

TEST_F(PoeProSeries, ActionCommandIsStoredAsAChecksummedFrameAndReadBack) {
    struct Case {
        const char* cidr;
        std::vector<uint8_t> source, destination;
    } cases[] = {
        {"10.0.0.1/8", {10, 0, 0, 1}, {10, 0, 0, 255}},
        {"192.168.5.20/24", {192, 168, 5, 20}, {192, 168, 5, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cidr);
        std::string error;
        qrtsim::runProgram({"ip", "link", "del", "p0"}, error);
        hostInterface(c.cidr);
        // A device key above 32 bits keeps its low 32 bits.
        ASSERT_EQ(card.setToEActionCommand(0, 0x7711223344ul, 0xA1B2C3D4ul, 0xFFFFFFFFul), 0);
        std::vector<uint8_t> f = frame(0);
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 6, f.begin() + 12),
                  (std::vector<uint8_t>{2, 0, 0, 0, 0, 0x10}));
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 26, f.begin() + 30), c.source);
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 30, f.begin() + 34), c.destination);
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 50, f.begin() + 62),
                  (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0xA1, 0xB2, 0xC3, 0xD4, 0xFF, 0xFF,
                                        0xFF, 0xFF}));
        // Valid checksums sum to all ones, the UDP one over its pseudo-header.
        EXPECT_EQ(onesSum(f, 14, 34), 0xFFFFu);
        EXPECT_EQ(onesSum(f, 34, 62, onesSum(f, 26, 34) + 17 + 28), 0xFFFFu);

        unsigned long device = 0, group = 0, mask = 0;
        ASSERT_EQ(card.getToEActionCommand(0, &device, &group, &mask), 0);
        EXPECT_EQ(device, 0x11223344ul);
        EXPECT_EQ(group, 0xA1B2C3D4ul);
        EXPECT_EQ(mask, 0xFFFFFFFFul);
    }
    auto control = rig.board().cpld().toeControl();
    EXPECT_TRUE(control.dpramReadBack);
    EXPECT_EQ(rig.board().cpld().registerWord(0x00), 0x003EC492u);  // SMBus header
}

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

TEST_F(PoeProSeries, TriggerSettingsChangeOnlyTheirOwnFieldOfTheControlWord) {
    qrtsim::RhxCpld& cpld = rig.board().cpld();
    ASSERT_EQ(card.setToEExTriggerDebounce(0x123456), 0);
    ASSERT_EQ(card.setToEEdgeTriggerMode(QRT_EDGE_TRIGGER_EDGE0), 0);
    ASSERT_EQ(card.setToETriggerSource(7), 0);
    ASSERT_EQ(card.setToEOneTriggerAllMode(1), 0);
    ASSERT_EQ(card.setToETriggerEnable(5), 0);
    EXPECT_EQ(cpld.registerWord(0x10), 0x1234562Du);

    // Settings already held write nothing; an invalid mode touches nothing at all.
    // CPLD register accesses are the switch's serial-port commands.
    const auto& serial = rig.board().pciSwitch().serialCounters();
    const unsigned writes = serial.writes, reads = serial.reads;
    EXPECT_EQ(card.setToETriggerEnable(1), 0);
    EXPECT_EQ(card.setToEExTriggerDebounce(0x123456), 0);
    EXPECT_EQ(card.setToEEdgeTriggerMode(QRT_EDGE_TRIGGER_EDGE0), 0);
    EXPECT_EQ(card.setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE(3)), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(serial.reads, reads + 3 * 2);  // each control-word read polls the busy flag once
    EXPECT_EQ(serial.writes, writes);

    EXPECT_EQ(card.setToETriggerEnable(0), 0);
    EXPECT_EQ(card.setToEEdgeTriggerMode(QRT_EDGE_TRIGGER_BOTH), 0);
    EXPECT_EQ(cpld.registerWord(0x10), 0x1234562Eu);
    int flag = -1;
    QRT_EDGETRIGGER_TYPE mode;
    unsigned long debounce = 0, unit = 0;
    EXPECT_EQ(card.getToETriggerSource(&flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(card.getToETriggerEnable(&flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(card.getToEEdgeTriggerMode(&mode), 0);
    EXPECT_EQ(mode, QRT_EDGE_TRIGGER_BOTH);
    EXPECT_EQ(card.getToEExTriggerDebounce(&debounce), 0);
    EXPECT_EQ(debounce, 0x123456ul);
    EXPECT_EQ(card.getToEExTriggerDebounceUnit(&unit), 0);
    EXPECT_EQ(unit, 40ul);
    EXPECT_EQ(card.setToEExTriggerDebounce(0x1000000), QRT_ERR_INVALID_PARAM);
}

}  // namespace
