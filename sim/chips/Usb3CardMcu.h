#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/SerialPortDevice.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The microcontroller of the USB3 host cards, on the PCIe switch's serial-EEPROM port. To the
// host it looks like a memory of 32-bit words; some words are commands and some are mailboxes.
//
//   0x1010                 power word: 0x5557 in bits 31..16, channel enable mask in bits 7..0
//   0x1014                 mailbox, command 0x55520000: the channel enable mask
//   0x1018                 mailbox, command 0x55520000: card identifier (bit 7 set = none)
//   0x1050..0x105C, 0x1060 serial number: four staged words, then the check word
//   0x1070..0x107C         mailboxes, command 0x4652FFFF: the serial number's flash words
//   0x1080                 mailbox, command 0x4D560000: firmware version, major.minor
//   0x10A0..0x10AC, 0x10B0 part number: four staged words, then the check word
//   0x10C0..0x10CC         mailboxes, command 0x4652FFFF: the part number's flash words
//
// A mailbox answers the command last written to it, 50 ms after the command (the firmware
// fetches the answer, from flash for the text fields, meanwhile); the answer stays until the
// next command (reading does not consume it). Read earlier, the mailbox still holds what it
// held before the command, and the read counts as a violation. A word that is not the
// mailbox's command leaves the idle level (all ones) in the mailbox. Answers to the power,
// identifier and version commands carry the command's upper half in bits 31..16 as an
// acknowledge.
//
// Flash fields hold 16 bytes: up to 14 text bytes, zero filled, and 0x11 0x11 in bytes 14 and
// 15. The check word written to a field's commit address must make the four staged words and
// itself add up to zero, and the last staged word must carry the 0x1111 marker; otherwise the
// controller refuses to program its flash. Each commit attempt empties the staging words.
// The state counts the fetches of each text field ("part_number_reads": read commands on its
// first mailbox).
class Usb3CardMcu : public SerialPortDevice {
  public:
    static constexpr unsigned kTextBytes = 14;
    static constexpr uint64_t kMailboxAnswerUs = 50000;
    using FlashField = std::array<uint8_t, 16>;

    struct Settings {
        std::string partNumber;
        std::string serialNumber;
        int cardId = 0;           // 0..127
        bool cardIdValid = true;  // false: the identifier answer carries bit 7
        uint8_t versionMajor = 1;
        uint8_t versionMinor = 0;
        uint8_t powerMask = 0xFF;  // channels powered after reset
    };

    explicit Usb3CardMcu(const Settings& settings);

    // Decoded lines for the rig's trace: power changes, flash commits, rejected words.
    void setTrace(std::function<void(const std::string&)> trace) {
        violations_.setTrace(trace);
        trace_ = std::move(trace);
    }

    // The time line mailbox answers become ready on (steady time by default).
    void setClock(const ChipClock& clock) { clock_ = &clock; }
    const Violations& violations() const { return violations_; }

    void writeBlock(uint32_t blockIndex, uint32_t word) override;
    uint32_t readBlock(uint32_t blockIndex) override;
    void saveState(nlohmann::json& out) const override;

    // The flash format of a text, as the controller stores it.
    static FlashField encodeText(const std::string& text);
    // The text of a flash field: its bytes up to the first zero, at most 14.
    static std::string decodeText(const FlashField& field);

    uint8_t powerMask() const { return powerMask_; }
    bool channelPowered(unsigned channel) const {
        return channel < 8 && ((powerMask_ >> channel) & 1u);
    }
    const FlashField& partNumberField() const { return fields_[kPartNumber].flash; }
    const FlashField& serialNumberField() const { return fields_[kSerialNumber].flash; }
    std::string partNumber() const { return decodeText(partNumberField()); }
    std::string serialNumber() const { return decodeText(serialNumberField()); }

    struct Counters {
        unsigned powerWrites = 0;
        unsigned commits = 0;         // flash fields programmed
        unsigned refusedCommits = 0;  // check word did not match
        unsigned rejectedWords = 0;   // bad command words, writes to unknown addresses
    };
    const Counters& counters() const { return counters_; }

  private:
    enum FieldIndex { kSerialNumber = 0, kPartNumber = 1 };
    struct TextField {
        const char* name;
        uint32_t stagingAddress;  // four words
        uint32_t commitAddress;
        uint32_t readAddress;  // four mailboxes
        std::array<uint32_t, 4> staged;
        FlashField flash;
        unsigned reads = 0;  // read commands on the field's first mailbox: fetches of the text
    };

    bool writeTextField(uint32_t address, uint32_t word);
    void reject(uint32_t address, uint32_t word);
    void note(const std::string& line) const;
    bool writeMailbox(uint32_t address, uint32_t word);
    static uint32_t flashWord(const FlashField& field, unsigned index);

    std::array<TextField, 2> fields_;
    uint8_t powerMask_;
    int cardId_;
    bool cardIdValid_;
    uint8_t versionMajor_;
    uint8_t versionMinor_;
    struct Mailbox {
        uint32_t held = 0xFFFFFFFF;  // what a read finds until the answer is ready
        uint32_t answer = 0xFFFFFFFF;
        ReadyAt ready;
    };
    const ChipClock* clock_ = &ChipClock::steady();
    std::map<uint32_t, Mailbox> mailboxes_;  // by address
    Counters counters_;
    std::function<void(const std::string&)> trace_;
    Violations violations_{"usb3-mcu"};
};

}  // namespace qrtsim
