#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "pciswitch/FakeSwitchMap.h"

// A USB3 card as its switch's PCI function shows it: the switch registers of FakeSwitchMap,
// with a microcontroller on the serial port that answers only to the exact command words. A
// word it does not know leaves the mailbox answering 0xFFFFFFFF and is counted.
class FakeUsb3Card : public FakeSwitchMap {
  public:
    FakeUsb3Card(int device, const std::string& partNumber)
        : FakeSwitchMap(0x10B5, device), partNumber(partNumber) {}

    int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                      unsigned length) override {
        const int status = FakeSwitchMap::writeRegister(offset, width, data, length);
        if (status == QRT_SUCCESS && offset == kSerialControl) serialCommand(registers[offset]);
        return status;
    }
    // A board strap on an input pin.
    void setInputPin(unsigned pin, bool high) {
        uint32_t& levels = registers[pex8718() ? 0x61C : 0x63C];
        levels = high ? levels | 1u << pin : levels & ~(1u << pin);
    }

    std::string partNumber;
    std::string serialNumber = "SN0001";
    uint32_t versionAnswer = 0x0203;
    uint32_t cardIdAnswer = 0x07;
    uint32_t powerMask = 0;
    int powerWrites = 0;
    int unknownWords = 0;

  private:
    bool pex8718() const { return device == 0x8718; }

    void serialCommand(uint32_t control) {
        const uint32_t address = (control & 0x1FFF) * 4;
        const uint32_t command = control & ~0x1FFFu;
        if (command == (pex8718() ? 0x00A04000u : 0x00004000u))
            wordWritten(address, registers[0x264]);
        else if (command == (pex8718() ? 0x00A06000u : 0x00006000u))
            registers[0x264] = mailbox.count(address) ? mailbox[address] : 0xFFFFFFFF;
        else
            ++unknownWords;
    }

    static uint32_t textWord(const std::string& text, unsigned word) {
        uint32_t w = 0;
        for (int b = 3; b >= 0; --b) {
            const unsigned i = 4 * word + b;
            w = w << 8 | (i < 14 && i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
        return word == 3 ? (w & 0xFFFF) | 0x11110000 : w;
    }

    void wordWritten(uint32_t address, uint32_t word) {
        mailbox.erase(address);
        if (address == 0x1010 && word >> 16 == 0x5557) {
            powerMask = word & 0xFF;
            ++powerWrites;
        } else if ((address == 0x1014 || address == 0x1018) && word == 0x55520000) {
            mailbox[address] = address == 0x1014 ? powerMask : cardIdAnswer;
        } else if (address == 0x1080 && word == 0x4D560000) {
            mailbox[address] = versionAnswer;
        } else if (address >= 0x10C0 && address <= 0x10CC && word == 0x4652FFFF) {
            mailbox[address] = textWord(partNumber, (address - 0x10C0) / 4);
        } else if (address >= 0x1070 && address <= 0x107C && word == 0x4652FFFF) {
            mailbox[address] = textWord(serialNumber, (address - 0x1070) / 4);
        } else {
            ++unknownWords;
        }
    }

    std::map<uint32_t, uint32_t> mailbox;
};
