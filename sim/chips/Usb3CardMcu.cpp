#include "sim/chips/Usb3CardMcu.h"

#include <cstdio>

namespace qrtsim {

namespace {

constexpr uint32_t kPowerWord = 0x1010;
constexpr uint32_t kPowerMailbox = 0x1014;
constexpr uint32_t kCardIdMailbox = 0x1018;
constexpr uint32_t kVersionMailbox = 0x1080;

constexpr uint32_t kPowerSetCommand = 0x55570000;   // upper half of the power word
constexpr uint32_t kStatusCommand = 0x55520000;     // power mask and card identifier
constexpr uint32_t kVersionCommand = 0x4D560000;    // "MV"
constexpr uint32_t kFlashReadCommand = 0x4652FFFF;  // "FR"
constexpr uint32_t kFieldMarker = 0x1111;           // bytes 14 and 15 of every flash text field
constexpr uint32_t kIdleLevel = 0xFFFFFFFF;
constexpr uint8_t kNoCardId = 0x80;

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

Usb3CardMcu::Usb3CardMcu(const Settings& settings)
    : fields_{{{"serial_number", 0x1050, 0x1060, 0x1070, {}, encodeText(settings.serialNumber)},
               {"part_number", 0x10A0, 0x10B0, 0x10C0, {}, encodeText(settings.partNumber)}}},
      powerMask_(settings.powerMask),
      cardId_(settings.cardId & 0x7F),
      cardIdValid_(settings.cardIdValid),
      versionMajor_(settings.versionMajor),
      versionMinor_(settings.versionMinor) {}

Usb3CardMcu::FlashField Usb3CardMcu::encodeText(const std::string& text) {
    FlashField field{};
    for (size_t i = 0; i < text.size() && i < kTextBytes; ++i) field[i] = uint8_t(text[i]);
    field[14] = 0x11;
    field[15] = 0x11;
    return field;
}

std::string Usb3CardMcu::decodeText(const FlashField& field) {
    std::string text;
    for (unsigned i = 0; i < kTextBytes && field[i] != 0; ++i) text.push_back(char(field[i]));
    return text;
}

uint32_t Usb3CardMcu::flashWord(const FlashField& field, unsigned index) {
    uint32_t word = 0;
    for (unsigned b = 0; b < 4; ++b) word |= uint32_t(field[index * 4 + b]) << (8 * b);
    return word;
}

void Usb3CardMcu::writeBlock(uint32_t blockIndex, uint32_t word) {
    uint32_t address = blockIndex * 4;
    if (address == kPowerWord) {
        // Only the power command with an 8-bit mask switches anything.
        if ((word & 0xFFFFFF00) == kPowerSetCommand) {
            powerMask_ = uint8_t(word);
            ++counters_.powerWrites;
            note("usb3-mcu power mask=" + hex32(powerMask_));
        } else {
            reject(address, word);
        }
        return;
    }
    if (writeTextField(address, word) || writeMailbox(address, word)) return;
    reject(address, word);
}

void Usb3CardMcu::reject(uint32_t address, uint32_t word) {
    ++counters_.rejectedWords;
    violations_.count("rejected-word", hex32(word) + " at " + hex32(address));
}

void Usb3CardMcu::note(const std::string& line) const {
    if (trace_) trace_(line);
}

bool Usb3CardMcu::writeTextField(uint32_t address, uint32_t word) {
    for (TextField& field : fields_) {
        if (address >= field.stagingAddress && address < field.stagingAddress + 16) {
            field.staged[(address - field.stagingAddress) / 4] = word;
            return true;
        }
        if (address == field.commitAddress) {
            // Program only a well-formed field: the format marker in the last word and a
            // check word that makes the five words add up to zero.
            uint32_t sum = word;
            for (uint32_t staged : field.staged) sum += staged;
            if (sum == 0 && (field.staged[3] >> 16) == kFieldMarker) {
                for (unsigned k = 0; k < 4; ++k)
                    for (unsigned b = 0; b < 4; ++b)
                        field.flash[k * 4 + b] = uint8_t(field.staged[k] >> (8 * b));
                ++counters_.commits;
                note(std::string("usb3-mcu programmed ") + field.name + " \"" +
                     decodeText(field.flash) + "\"");
            } else {
                ++counters_.refusedCommits;
                violations_.count("refused-commit",
                                  std::string(field.name) + " check word " + hex32(word));
            }
            field.staged = {};
            return true;
        }
    }
    return false;
}

bool Usb3CardMcu::writeMailbox(uint32_t address, uint32_t word) {
    uint32_t command = 0;
    uint32_t answer = 0;
    if (address == kPowerMailbox) {
        command = kStatusCommand;
        answer = kStatusCommand | powerMask_;
    } else if (address == kCardIdMailbox) {
        command = kStatusCommand;
        answer =
            kStatusCommand | (cardIdValid_ ? uint32_t(cardId_) : uint32_t(cardId_ | kNoCardId));
    } else if (address == kVersionMailbox) {
        command = kVersionCommand;
        answer = kVersionCommand | (uint32_t(versionMajor_) << 8) | versionMinor_;
    } else {
        TextField* source = nullptr;
        for (TextField& field : fields_)
            if (address >= field.readAddress && address < field.readAddress + 16) source = &field;
        if (source == nullptr) return false;
        command = kFlashReadCommand;
        answer = flashWord(source->flash, (address - source->readAddress) / 4);
        if (word == command && address == source->readAddress) ++source->reads;
    }
    Mailbox& mailbox = mailboxes_[address];
    if (mailbox.ready.ready(*clock_)) mailbox.held = mailbox.answer;
    if (word == command) {
        mailbox.answer = answer;
        mailbox.ready.start(*clock_, kMailboxAnswerUs);
    } else {
        mailbox.held = mailbox.answer = kIdleLevel;
        mailbox.ready.clear();
        reject(address, word);
    }
    return true;
}

uint32_t Usb3CardMcu::readBlock(uint32_t blockIndex) {
    auto it = mailboxes_.find(blockIndex * 4);
    if (it == mailboxes_.end()) return kIdleLevel;
    Mailbox& mailbox = it->second;
    if (!mailbox.ready.ready(*clock_)) {
        violations_.count("mailbox-read-too-early",
                          hex32(blockIndex * 4) + ", " +
                              std::to_string(mailbox.ready.remainingUs(*clock_)) + " us early");
        return mailbox.held;
    }
    return mailbox.answer;
}

void Usb3CardMcu::saveState(nlohmann::json& out) const {
    nlohmann::json channels = nlohmann::json::array();
    for (unsigned c = 0; c < 8; ++c) channels.push_back(channelPowered(c) ? 1 : 0);
    out["power_mask"] = hex32(powerMask_);
    out["channels"] = channels;
    out["card_id"] = cardId_;
    out["card_id_valid"] = cardIdValid_;
    out["version"] = std::to_string(versionMajor_) + "." + std::to_string(versionMinor_);
    for (const TextField& field : fields_) {
        nlohmann::json words = nlohmann::json::array();
        for (unsigned k = 0; k < 4; ++k) words.push_back(hex32(flashWord(field.flash, k)));
        out[field.name] = decodeText(field.flash);
        out[std::string(field.name) + "_flash"] = words;
        out[std::string(field.name) + "_reads"] = field.reads;
    }
    out["power_writes"] = counters_.powerWrites;
    out["flash_commits"] = counters_.commits;
    out["refused_commits"] = counters_.refusedCommits;
    out["rejected_words"] = counters_.rejectedWords;
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
