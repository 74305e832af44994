// The USB3 card microcontroller model, word by word as the switch's serial port delivers it.

#include <gtest/gtest.h>

#include <string>

#include "sim/chips/PexSwitch.h"
#include "sim/chips/Usb3CardMcu.h"

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

    uint32_t mailbox(uint32_t address, uint32_t command) {
        mcu.writeBlock(block(address), command);
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
}

TEST_F(Usb3McuTest, CardIdentifierCarriesItsInvalidBit) {
    EXPECT_EQ(mailbox(0x1018, 0x55520000) & 0xFF, 0x05u);
    auto s = settings();
    s.cardIdValid = false;
    Usb3CardMcu noId(s);
    noId.writeBlock(block(0x1018), 0x55520000);
    EXPECT_EQ(noId.readBlock(block(0x1018)) & 0xFF, 0x85u);
}

TEST_F(Usb3McuTest, VersionAnswerHasMajorAboveMinor) {
    EXPECT_EQ(mailbox(0x1080, 0x4D560000) & 0xFFFF, 0x0102u);
    EXPECT_EQ(mailbox(0x1080, 0x55520000), 0xFFFFFFFFu);
}

TEST_F(Usb3McuTest, FlashTextFormatPacksFourteenBytesAndTheMarker) {
    auto ab = Usb3CardMcu::encodeText("AB");
    // Word 0 = 0x00004241, words 1 and 2 zero, word 3 = 0x11110000.
    const uint8_t expected[16] = {0x41, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x11};
    EXPECT_TRUE(std::equal(ab.begin(), ab.end(), expected));
    EXPECT_EQ(Usb3CardMcu::decodeText(Usb3CardMcu::encodeText("ABCDEFGHIJKLMNOPQRST")),
              "ABCDEFGHIJKLMN");
}

TEST_F(Usb3McuTest, StoredTextsAreReadWordByWordThroughTheMailboxes) {
    const uint32_t pn[4] = {0x352D3557, 0x34303133, 0x0030332D, 0x11110000};  // W5-53104-30
    for (unsigned k = 0; k < 4; ++k)
        EXPECT_EQ(mailbox(0x10C0 + 4 * k, 0x4652FFFF), pn[k]) << "word " << k;
    EXPECT_EQ(mailbox(0x1070, 0x4652FFFF), 0x30304E53u);  // "SN00"
    EXPECT_EQ(mailbox(0x10C0, 0x55520000), 0xFFFFFFFFu);
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

TEST_F(Usb3McuTest, UnknownAddressesIgnoreWritesAndReadIdle) {
    mcu.writeBlock(block(0x2000), 0x12345678);
    EXPECT_EQ(mcu.readBlock(block(0x2000)), 0xFFFFFFFFu);
    EXPECT_EQ(mcu.readBlock(block(0x1010)), 0xFFFFFFFFu);
    EXPECT_EQ(mcu.counters().rejectedWords, 1u);
}

// The host's mailbox sequence through the switch: data, write command, poll, read command,
// poll until idle, data.
TEST(Usb3McuBehindPex, MailboxRoundTripThroughTheSerialPort) {
    Usb3CardMcu::Settings s;
    s.versionMajor = 3;
    s.versionMinor = 7;
    Usb3CardMcu mcu(s);
    qrtsim::PexSwitch sw(qrtsim::PexSwitch::pex8718());
    sw.attachSerialDevice(&mcu);
    sw.setSerialBusyPolls(2);
    auto waitIdle = [&] {
        int polls = 0;
        while (sw.readRegister32(0x260) & (1u << 18)) ++polls;
        return polls;
    };
    sw.writeRegister32(0x264, 0x4D560000);
    sw.writeRegister32(0x260, (0x1080 / 4) | 0x00A04000);
    EXPECT_EQ(waitIdle(), 2);
    sw.writeRegister32(0x260, (0x1080 / 4) | 0x00A06000);
    EXPECT_EQ(waitIdle(), 2);
    EXPECT_EQ(sw.readRegister32(0x264) & 0xFFFF, 0x0307u);
}

}  // namespace
