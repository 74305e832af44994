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

// Records every block transfer; reads answer from `answers` (0 when absent).
class RecordingPort : public I_nkSPI {
  public:
    struct Transfer {
        bool write;
        unsigned long address;
        uint32_t word;
        bool operator==(const Transfer& o) const {
            return write == o.write && address == o.address && word == o.word;
        }
    };

    int setSPISlave(long) override { return QRT_ERR_NOT_SUPPORTED; }
    int writeSPI(unsigned long address, unsigned char* data, unsigned int len) override {
        if (len != 4) return QRT_ERR_INVALID_PARAM;
        if (failAt.count(address)) return failAt[address];
        uint32_t word = data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24;
        transfers.push_back({true, address, word});
        return QRT_SUCCESS;
    }
    int readSPI(unsigned long address, unsigned char* buf, unsigned int len) override {
        if (len != 4) return QRT_ERR_INVALID_PARAM;
        const uint32_t word = answers.count(address) ? answers[address] : 0;
        for (int i = 0; i < 4; ++i) buf[i] = static_cast<unsigned char>(word >> (8 * i));
        transfers.push_back({false, address, word});
        return QRT_SUCCESS;
    }
    int getSPIDataBlockSize(unsigned int* size) override {
        *size = 4;
        return QRT_SUCCESS;
    }

    std::vector<Transfer> transfers;
    std::map<unsigned long, uint32_t> answers;
    std::map<unsigned long, int> failAt;
};

using T = RecordingPort::Transfer;

class W5MCU : public ::testing::Test {
  protected:
    void SetUp() override {
        mcu = factory.create(C_w5MCUFactory::NK_HWMCU_W5);
        ASSERT_NE(mcu, nullptr);
        ASSERT_EQ(mcu->initial(&port), QRT_SUCCESS);
        PauseRecorder::clear();
    }
    C_w5MCUFactory factory;
    RecordingPort port;
    I_w5MCU* mcu = nullptr;
};

TEST_F(W5MCU, PowerSwitchWordCarriesTheEnableMaskOfEightChannels) {
    int enables[8] = {1, 0, 0, 0, 0, 0, 0, 1};
    ASSERT_EQ(mcu->setPowerPortEnable(enables, 8), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (std::vector<T>{{true, 0x1010, 0x55570081}}));

    // Any non-zero value switches a channel on.
    port.transfers.clear();
    int mixed[8] = {0, -1, 7, 0, 0, 0, 2, 0};
    ASSERT_EQ(mcu->setPowerPortEnable(mixed, 8), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (std::vector<T>{{true, 0x1010, 0x55570046}}));
}

TEST_F(W5MCU, PortListsShorterThanEightChannelsAreRefused) {
    int enables[8] = {};
    EXPECT_EQ(mcu->setPowerPortEnable(enables, 4), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(mcu->getPowerPortEnable(enables, 7), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(port.transfers.empty());
}

TEST_F(W5MCU, PowerStateIsAMailboxReadWithAFiftyMillisecondWait) {
    port.answers[0x1014] = 0xA5;
    int enables[10];
    std::fill(enables, enables + 10, 9);
    ASSERT_EQ(mcu->getPowerPortEnable(enables, 10), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (std::vector<T>{{true, 0x1014, 0x55520000}, {false, 0x1014, 0xA5}}));
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
    id = -1;
    EXPECT_EQ(mcu->getCardID(&id), QRT_SUCCESS);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(port.transfers.front(), (T{true, 0x1018, 0x55520000}));
}

TEST_F(W5MCU, VersionIsReadOnceAndCached) {
    port.answers[0x1080] = 0x0102;
    char text[16];
    ASSERT_EQ(mcu->getVersion(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "1.2");
    EXPECT_EQ(port.transfers,
              (std::vector<T>{{true, 0x1080, 0x4D560000}, {false, 0x1080, 0x0102}}));
    port.answers[0x1080] = 0x0A0B;
    ASSERT_EQ(mcu->getVersion(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "1.2");
    EXPECT_EQ(port.transfers.size(), 2u);
}

TEST_F(W5MCU, AFailedVersionReadLeavesTheCacheEmpty) {
    port.failAt[0x1080] = QRT_ERR_BUSY;
    char text[16] = "untouched";
    EXPECT_EQ(mcu->getVersion(text, sizeof(text)), QRT_ERR_BUSY);
    EXPECT_STREQ(text, "untouched");
    // A failed command word skips the wait and the read.
    EXPECT_TRUE(PauseRecorder::taken().empty());
    port.failAt.clear();
    port.answers[0x1080] = 0x0310;
    ASSERT_EQ(mcu->getVersion(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "3.16");
}

TEST_F(W5MCU, EmptySerialNumberWritesTheMarkerAndACheckWordThatSumsToZero) {
    char empty[1] = {0};
    ASSERT_EQ(mcu->setSN(empty, 0), QRT_SUCCESS);
    EXPECT_EQ(port.transfers, (std::vector<T>{{true, 0x1050, 0},
                                              {true, 0x1054, 0},
                                              {true, 0x1058, 0},
                                              {true, 0x105C, 0x11110000},
                                              {true, 0x1060, 0xEEEF0000}}));
}

TEST_F(W5MCU, PartNumberKeepsFourteenCharactersLittleEndianInFourWords) {
    char text[] = "ABC53104-20XYZW-tail";  // 20 characters: only 14 are stored
    ASSERT_EQ(mcu->setPN(text, 20), QRT_SUCCESS);
    const std::vector<T> expected = {
        {true, 0x10A0, 0x35434241},  // "ABC5"
        {true, 0x10A4, 0x34303133},  // "3104"
        {true, 0x10A8, 0x5830322D},  // "-20X"
        {true, 0x10AC, 0x11115A59},  // "YZ" + marker
        {true, 0x10B0, 0x00000000u - (0x35434241u + 0x34303133u + 0x5830322Du + 0x11115A59u)},
    };
    EXPECT_EQ(port.transfers, expected);
}

TEST_F(W5MCU, PartNumberReadBackFromItsFourMailboxes) {
    port.answers = {
        {0x10C0, 0x35434241}, {0x10C4, 0x34303133}, {0x10C8, 0x5830322D}, {0x10CC, 0x11115A59}};
    char text[32];
    std::memset(text, '#', sizeof(text));
    ASSERT_EQ(mcu->getPN(text, 32), QRT_SUCCESS);
    EXPECT_EQ(std::string(text, 15), std::string("ABC53104-20XYZ") + '#');
    ASSERT_EQ(port.transfers.size(), 8u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(port.transfers[2 * k], (T{true, 0x10C0u + 4u * k, 0x4652FFFF}));
        EXPECT_FALSE(port.transfers[2 * k + 1].write);
    }
    EXPECT_EQ(PauseRecorder::count(50000), 4u);

    // A shorter stored text is followed by the zero bytes the words hold.
    port.transfers.clear();
    port.answers = {{0x1070, 0x00004241}, {0x1074, 0}, {0x1078, 0}, {0x107C, 0x11110000}};
    std::memset(text, '#', sizeof(text));
    ASSERT_EQ(mcu->getSN(text, 32), QRT_SUCCESS);
    EXPECT_STREQ(text, "AB");
    EXPECT_EQ(text[14], '#');
    EXPECT_EQ(port.transfers[0].address, 0x1070u);
}

TEST_F(W5MCU, AFlashFieldStopsAtTheFirstFailedWord) {
    port.failAt[0x10C8] = QRT_ERR_FAILED;
    char text[16] = {};
    EXPECT_EQ(mcu->getPN(text, 16), QRT_ERR_FAILED);
    EXPECT_EQ(port.transfers.size(), 4u);  // words 0 and 1, nothing of word 3

    port.transfers.clear();
    port.failAt = {{0x1054, QRT_ERR_BUSY}};
    char sn[] = "SN";
    EXPECT_EQ(mcu->setSN(sn, 2), QRT_ERR_BUSY);
    EXPECT_EQ(port.transfers.size(), 1u);  // no commit after a failed word
}

TEST(W5MCUUnbound, AnswersNotInitialisedAndTheFactoryKnowsOneType) {
    C_w5MCUFactory factory;
    EXPECT_EQ(factory.create(static_cast<C_w5MCUFactory::NK_HWMCU>(1)), nullptr);
    I_w5MCU* mcu = factory.create(C_w5MCUFactory::NK_HWMCU_W5);
    int id;
    char text[16];
    W5MCU_READDATA word;
    EXPECT_EQ(mcu->getCardID(&id), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(mcu->getVersion(text, sizeof(text)), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(mcu->readData(0x1010, &word), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(mcu->getPN(text, sizeof(text)), QRT_ERR_NOT_INITIALIZED);
}

}  // namespace
