// The USB3 card microcontroller's words on the serial port, against a recording port.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "QRT_Types.h"
#include "core/bus/I_nkSPI.h"
#include "core/controllers/w5mcu/C_w5MCUFactory.h"
#include "support/PauseRecorder.h"

namespace {

using qrttest::PauseRecorder;

struct Transfer {
    bool write;
    unsigned long address;
    uint32_t word;
    bool operator==(const Transfer& o) const {
        return write == o.write && address == o.address && word == o.word;
    }
};
using Transfers = std::vector<Transfer>;

// Records every block transfer; reads answer from `answers` (0 when absent).
struct RecordingPort : I_nkSPI {
    int setSPISlave(long) override { return QRT_ERR_NOT_SUPPORTED; }
    int writeSPI(unsigned long address, unsigned char* d, unsigned int len) override {
        if (failAt.count(address)) return failAt[address];
        transfers.push_back({true, address, d[0] | d[1] << 8 | d[2] << 16 | uint32_t(d[3]) << 24});
        return len == 4 ? QRT_SUCCESS : QRT_ERR_INVALID_PARAM;
    }
    int readSPI(unsigned long address, unsigned char* buf, unsigned int len) override {
        const uint32_t word = answers[address];
        std::memcpy(buf, &word, 4);
        transfers.push_back({false, address, word});
        return len == 4 ? QRT_SUCCESS : QRT_ERR_INVALID_PARAM;
    }
    int getSPIDataBlockSize(unsigned int* size) override { return *size = 4, QRT_SUCCESS; }

    Transfers transfers;
    std::map<unsigned long, uint32_t> answers;
    std::map<unsigned long, int> failAt;
};

struct W5MCU : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(mcu->initial(&port), QRT_SUCCESS);
        PauseRecorder::clear();
    }
    C_w5MCUFactory factory;
    RecordingPort port;
    I_w5MCU* mcu = factory.create(C_w5MCUFactory::NK_HWMCU_W5);
};

TEST_F(W5MCU, PowerWordCarriesTheEnableMaskAndNeedsAllEightChannels) {
    int enables[8] = {1, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(mcu->setPowerPortEnable(enables, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(mcu->getPowerPortEnable(enables, 7), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(port.transfers.empty());
    ASSERT_EQ(mcu->setPowerPortEnable(enables, 8), QRT_SUCCESS);
    int mixed[8] = {0, -1, 7, 0, 0, 0, 2, 0};  // any non-zero value switches on
    ASSERT_EQ(mcu->setPowerPortEnable(mixed, 8), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (Transfers{{true, 0x1010, 0x55570081}, {true, 0x1010, 0x55570046}}));
}

TEST_F(W5MCU, PowerStateIsAMailboxReadWithAFiftyMillisecondWait) {
    port.answers[0x1014] = 0xA5;
    int enables[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(mcu->getPowerPortEnable(enables, 10), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (Transfers{{true, 0x1014, 0x55520000}, {false, 0x1014, 0xA5}}));
    EXPECT_EQ(PauseRecorder::taken(), std::vector<uint64_t>{50000});
    EXPECT_EQ(std::vector<int>(enables, enables + 10),
              (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1, 9, 9}));
}

TEST_F(W5MCU, CardIdentifierWithItsInvalidFlag) {
    int id = -1;
    port.answers[0x1018] = 0x85;
    EXPECT_EQ(mcu->getCardID(&id), QRT_ERR_FAILED);
    EXPECT_EQ(id, 5);
    port.answers[0x1018] = 0x05;
    EXPECT_EQ(mcu->getCardID(&id), QRT_SUCCESS);
    EXPECT_EQ(port.transfers.front(), (Transfer{true, 0x1018, 0x55520000}));
}

TEST_F(W5MCU, VersionIsReadOnceAFailedReadLeavingTheCacheEmpty) {
    char text[16] = "untouched";
    port.failAt[0x1080] = QRT_ERR_BUSY;
    EXPECT_EQ(mcu->getVersion(text, sizeof(text)), QRT_ERR_BUSY);
    EXPECT_STREQ(text, "untouched");
    EXPECT_TRUE(PauseRecorder::taken().empty());  // no wait after a failed command word
    port.failAt.clear();
    port.answers[0x1080] = 0x0102;
    ASSERT_EQ(mcu->getVersion(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "1.2");
    port.answers[0x1080] = 0x0A0B;
    ASSERT_EQ(mcu->getVersion(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "1.2");
    EXPECT_EQ(port.transfers, (Transfers{{true, 0x1080, 0x4D560000}, {false, 0x1080, 0x0102}}));
}

TEST_F(W5MCU, FlashTextsAreFourteenBytesInFourWordsCommittedByACheckWord) {
    char empty[1] = {0};
    ASSERT_EQ(mcu->setSN(empty, 0), QRT_SUCCESS);
    char pn[] = "ABC53104-20XYZW-tail";
    ASSERT_EQ(mcu->setPN(pn, 20), QRT_SUCCESS);
    const Transfers expected = {
        {true, 0x1050, 0},
        {true, 0x1054, 0},
        {true, 0x1058, 0},
        {true, 0x105C, 0x11110000},
        {true, 0x1060, 0xEEEF0000},  // the five words add up to zero
        {true, 0x10A0, 0x35434241},  // "ABC5"
        {true, 0x10A4, 0x34303133},  // "3104"
        {true, 0x10A8, 0x5830322D},  // "-20X"
        {true, 0x10AC, 0x11115A59},  // "YZ" and the marker
        {true, 0x10B0, 0u - (0x35434241u + 0x34303133u + 0x5830322Du + 0x11115A59u)},
    };
    EXPECT_EQ(port.transfers, expected);
}

TEST_F(W5MCU, FlashTextsAreReadBackThroughFourMailboxes) {
    port.answers = {{0x10C0, 0x35434241}, {0x10C4, 0x34303133}, {0x10C8, 0x5830322D},
                    {0x10CC, 0x11115A59}, {0x1070, 0x00004241}, {0x107C, 0x11110000}};
    char text[32];
    std::memset(text, '#', sizeof(text));
    ASSERT_EQ(mcu->getPN(text, 32), QRT_SUCCESS);
    EXPECT_EQ(std::string(text, 15), "ABC53104-20XYZ#");
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(port.transfers[2 * k], (Transfer{true, 0x10C0u + 4u * k, 0x4652FFFF}));
    EXPECT_EQ(PauseRecorder::count(50000), 4u);
    std::memset(text, '#', sizeof(text));
    ASSERT_EQ(mcu->getSN(text, 32), QRT_SUCCESS);
    EXPECT_STREQ(text, "AB");  // followed by the zero bytes the words hold
    EXPECT_EQ(port.transfers[8].address, 0x1070u);
}

TEST_F(W5MCU, FlashFieldsStopAtTheFirstFailedWord) {
    port.failAt = {{0x10C8, QRT_ERR_FAILED}, {0x1054, QRT_ERR_BUSY}};
    char text[16] = "SN";
    EXPECT_EQ(mcu->getPN(text, 16), QRT_ERR_FAILED);
    EXPECT_EQ(port.transfers.size(), 4u);
    EXPECT_EQ(mcu->setSN(text, 2), QRT_ERR_BUSY);
    EXPECT_EQ(port.transfers.size(), 5u);  // word 0 only, no commit
    C_w5MCUFactory other;
    EXPECT_EQ(other.create(static_cast<C_w5MCUFactory::NK_HWMCU>(1)), nullptr);
    int id;
    EXPECT_EQ(other.create(C_w5MCUFactory::NK_HWMCU_W5)->getCardID(&id), QRT_ERR_NOT_INITIALIZED);
}

}  // namespace
