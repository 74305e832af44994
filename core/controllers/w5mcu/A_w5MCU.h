#pragma once

#include "QRT_Types.h"
#include "core/controllers/w5mcu/I_w5MCU.h"

// The USB3 card microcontroller's word formats, shared by every variant: the power switch word,
// the card identifier and version answers, and the flash text fields (four words holding up to
// 14 characters, committed by a check word). The operations answer "not supported" until a
// concrete class provides the transport.
class A_w5MCU : public I_w5MCU {
  public:
    int initial(I_nkSPI*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getVersion(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPN(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setSN(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPN(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSN(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPowerPortEnable(int*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPowerPortEnable(int*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getCardID(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readData(unsigned long, W5MCU_READDATA*) override { return QRT_ERR_NOT_SUPPORTED; }
    int writeData(unsigned long, W5MCU_WRITEDATA*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readDataFromFlash(unsigned long, unsigned long, W5MCU_READDATA*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    // Power channels the microcontroller switches.
    static constexpr unsigned int kPowerChannels = 8;
    // Characters a flash text field holds, and its words.
    static constexpr unsigned int kFlashTextBytes = 14;
    static constexpr unsigned int kFlashWords = 4;

    // 0x5557 in the upper half, bit i of the low byte set when enables[i] is non-zero
    // (i below min(count, 8)).
    static W5MCU_WRITEDATA genPowerSwitch(const int* enables, unsigned int count);
    // enables[i] = bit i of the answer for i below min(count, 8).
    static void parsePowerSwitch(W5MCU_READDATA word, int* enables, unsigned int count);
    // id = bits 6..0; bit 7 set means the card has no valid identifier (QRT_ERR_FAILED).
    static int parseCradID(W5MCU_READDATA word, int* id);
    // "major.minor" from bits 15..8 and 7..0.
    static void parseVersion(W5MCU_READDATA word, char* text, unsigned int size);
    // The field's 14 bytes: min(length, 14) bytes of text, zeros behind.
    static void genFlashData(const char* text, unsigned int length,
                             unsigned char field[kFlashTextBytes]);
    // Packs the field into four little-endian words; the top half of word 3 is the marker
    // 0x1111 that tells the microcontroller the field is programmed.
    static void genFlashPattern(const unsigned char field[kFlashTextBytes],
                                W5MCU_WRITEDATA words[kFlashWords]);
    // Copies min(length, 14) bytes of the four words, read as 16 consecutive bytes.
    static void parseFlashPattern(const W5MCU_READDATA words[kFlashWords], char* text,
                                  unsigned int length);
    // Check word: the four words plus it add up to 0 modulo 2^32.
    static W5MCU_WRITEDATA genBurnCmd(const W5MCU_WRITEDATA words[kFlashWords]);

  protected:
    // Address map (byte addresses on the switch's serial port) and command words. A mailbox
    // address takes a command word and, 50 ms later, holds the answer.
    static constexpr unsigned long kPowerSwitchAddress = 0x1010;  // write: power word
    static constexpr unsigned long kPowerStateMailbox = 0x1014;   // answer: bit i = channel i
    static constexpr unsigned long kCardIDMailbox = 0x1018;       // answer: byte 0
    static constexpr unsigned long kVersionMailbox = 0x1080;      // answer: major.minor
    static constexpr W5MCU_WRITEDATA kPowerSwitchCommand = 0x55570000;
    static constexpr W5MCU_WRITEDATA kBoardStateCommand = 0x55520000;  // power state, card id
    static constexpr W5MCU_WRITEDATA kVersionCommand = 0x4D560000;
    static constexpr W5MCU_WRITEDATA kFlashReadCommand = 0x4652FFFF;
    static constexpr W5MCU_WRITEDATA kFlashFieldMarker = 0x11110000;  // top half of word 3
    static constexpr W5MCU_READDATA kCardIDInvalid = 0x80;

    // Address map of one flash text field: four word addresses to program, the commit address
    // that takes the check word, and four mailbox addresses to read the field back.
    struct FlashField {
        unsigned long writeAddress[kFlashWords];
        unsigned long commitAddress;
        unsigned long readAddress[kFlashWords];
    };

    // Programs a text field: the four words, then the check word on which the microcontroller
    // burns its flash. Neither waited for nor verified.
    int writeFlash(unsigned long address0, unsigned long address1, unsigned long address2,
                   unsigned long address3, unsigned long commitAddress, const char* text,
                   unsigned int length);
    // Reads a text field back through its four mailboxes (50 ms each).
    int readFlash(unsigned long address0, unsigned long address1, unsigned long address2,
                  unsigned long address3, char* text, unsigned int length);
    int writeFlash(const FlashField& field, const char* text, unsigned int length);
    int readFlash(const FlashField& field, char* text, unsigned int length);

    static constexpr FlashField kSerialNumberField = {
        {0x1050, 0x1054, 0x1058, 0x105C}, 0x1060, {0x1070, 0x1074, 0x1078, 0x107C}};
    static constexpr FlashField kPartNumberField = {
        {0x10A0, 0x10A4, 0x10A8, 0x10AC}, 0x10B0, {0x10C0, 0x10C4, 0x10C8, 0x10CC}};
};
