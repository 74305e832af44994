// The USB3 card microcontroller model, word by word as the switch's serial port delivers it.

#include <gtest/gtest.h>

#include <string>

#include "sim/chips/Usb3CardMcu.h"
#include "support/ChipClocks.h"

namespace {

using qrtsim::Usb3CardMcu;

uint32_t block(uint32_t address) {
    return address / 4;
}

class Usb3McuTest : public ::testing::Test {
  protected:
    Usb3CardMcu::Settings settings() {
        Usb3CardMcu::Settings s;
        s.partNumber = "W5-53104-30";
        s.serialNumber = "SN0042";
        s.cardId = 5;
        s.versionMajor = 1;
        s.versionMinor = 2;
        s.powerMask = 0xFF;
        return s;
    }
    Usb3CardMcu mcu{settings()};
    qrttest::ManualClock clock;
    void SetUp() override { mcu.setClock(clock); }

    // A mailbox read as the host makes it: the command, 50 ms, the answer.
    uint32_t mailbox(uint32_t address, uint32_t command) {
        mcu.writeBlock(block(address), command);
        clock.advanceMs(50);
        return mcu.readBlock(block(address));
    }
    // Stages four words and commits them with the check word that makes the five sum to zero,
    // plus `checkError`.
    void program(uint32_t staging, uint32_t commit, const uint32_t (&words)[4],
                 uint32_t checkError = 0) {
        uint32_t sum = 0;
        for (unsigned k = 0; k < 4; ++k) {
            mcu.writeBlock(block(staging + 4 * k), words[k]);
            sum += words[k];
        }
        mcu.writeBlock(block(commit), 0u - sum + checkError);
    }
};

TEST_F(Usb3McuTest, PowerWordSwitchesChannelsAndTheMailboxReportsThem) {
    mcu.writeBlock(block(0x1010), 0x55570081);
    EXPECT_EQ(mcu.powerMask(), 0x81);
    EXPECT_TRUE(mcu.channelPowered(0));
    EXPECT_TRUE(mcu.channelPowered(7));
    EXPECT_FALSE(mcu.channelPowered(1));
    EXPECT_EQ(mailbox(0x1014, 0x55520000) & 0xFF, 0x81u);
}

TEST_F(Usb3McuTest, MalformedPowerWordsSwitchNothing) {
    mcu.writeBlock(block(0x1010), 0x55560000);  // wrong command half
    mcu.writeBlock(block(0x1010), 0x55570100);  // mask wider than eight channels
    mcu.writeBlock(block(0x1014), 0x55570000);  // power word sent to the status mailbox
    EXPECT_EQ(mcu.powerMask(), 0xFF);
    EXPECT_EQ(mcu.counters().rejectedWords, 3u);
    EXPECT_EQ(mcu.counters().powerWrites, 0u);
}

TEST_F(Usb3McuTest, MailboxHoldsTheAnswerToTheLastCommandOnly) {
    // Nothing asked yet: the line idles high.
    EXPECT_EQ(mcu.readBlock(block(0x1014)), 0xFFFFFFFFu);
    EXPECT_EQ(mailbox(0x1014, 0x55520000), 0x555200FFu);
    // The answer was taken when the command arrived; a reader that skips the command sees the
    // old mask after the power changed.
    mcu.writeBlock(block(0x1010), 0x55570003);
    EXPECT_EQ(mcu.readBlock(block(0x1014)), 0x555200FFu);
    EXPECT_EQ(mailbox(0x1014, 0x55520000), 0x55520003u);
    // A wrong command leaves no answer.
    EXPECT_EQ(mailbox(0x1014, 0x4D560000), 0xFFFFFFFFu);
    EXPECT_EQ(mcu.violations().total(), 1u);
    // Read before the firmware has fetched the answer, the mailbox holds what it held.
    mcu.writeBlock(block(0x1080), 0x4D560000);
    clock.advanceMs(49);
    EXPECT_EQ(mcu.readBlock(block(0x1080)), 0xFFFFFFFFu);
    clock.advanceMs(1);
    EXPECT_EQ(mcu.readBlock(block(0x1080)), 0x4D560102u);
    EXPECT_EQ(mcu.violations().of("mailbox-read-too-early"), 1u);
}

TEST_F(Usb3McuTest, CommitWithMatchingCheckWordProgramsTheField) {
    // "XYZ-1" as the host encodes it.
    program(0x10A0, 0x10B0, {0x2D5A5958, 0x00000031, 0, 0x11110000});
    EXPECT_EQ(mcu.partNumber(), "XYZ-1");
    EXPECT_EQ(mcu.serialNumber(), "SN0042");
    EXPECT_EQ(mcu.counters().commits, 1u);
    EXPECT_EQ(mailbox(0x10C4, 0x4652FFFF), 0x00000031u);

    program(0x1050, 0x1060, {0, 0, 0, 0x11110000});  // empty serial number
    EXPECT_EQ(mcu.serialNumber(), "");
    EXPECT_EQ(mcu.partNumber(), "XYZ-1");
}

TEST_F(Usb3McuTest, FlashControllerRefusesBadCommits) {
    program(0x10A0, 0x10B0, {0x2D5A5958, 0x00000031, 0, 0x11110000}, 1);  // check word off by 1
    program(0x10A0, 0x10B0, {0x2D5A5958, 0x00000031, 0, 0x00000000});     // marker missing
    EXPECT_EQ(mcu.partNumber(), "W5-53104-30");
    EXPECT_EQ(mcu.counters().refusedCommits, 2u);

    // A commit empties the staging words: a lone check word afterwards is not a field.
    mcu.writeBlock(block(0x10A0), 0x2D5A5958);
    mcu.writeBlock(block(0x10AC), 0x11110000);
    mcu.writeBlock(block(0x10B0), 0u - (0x2D5A5958u + 0x11110000u));
    EXPECT_EQ(mcu.partNumber(), "XYZ-");
    mcu.writeBlock(block(0x10B0), 0u - (0x2D5A5958u + 0x11110000u));
    EXPECT_EQ(mcu.counters().refusedCommits, 3u);
}

}  // namespace
