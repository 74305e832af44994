#include "core/controllers/w5mcu/A_w5MCU.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

W5MCU_WRITEDATA A_w5MCU::genPowerSwitch(const int* enables, unsigned int count) {
    W5MCU_WRITEDATA mask = 0;
    const unsigned int channels = std::min(count, kPowerChannels);
    for (unsigned int i = 0; i < channels; ++i) {
        if (enables[i] != 0) mask |= W5MCU_WRITEDATA{1} << i;
    }
    return kPowerSwitchCommand + mask;
}

void A_w5MCU::parsePowerSwitch(W5MCU_READDATA word, int* enables, unsigned int count) {
    const unsigned int channels = std::min(count, kPowerChannels);
    for (unsigned int i = 0; i < channels; ++i) enables[i] = (word >> i) & 1;
}

int A_w5MCU::parseCradID(W5MCU_READDATA word, int* id) {
    *id = static_cast<int>(word & 0x7F);
    return (word & kCardIDInvalid) != 0 ? QRT_ERR_FAILED : QRT_SUCCESS;
}

void A_w5MCU::parseVersion(W5MCU_READDATA word, char* text, unsigned int size) {
    std::snprintf(text, size, "%d.%d", static_cast<int>((word >> 8) & 0xFF),
                  static_cast<int>(word & 0xFF));
}

void A_w5MCU::genFlashData(const char* text, unsigned int length,
                           unsigned char field[kFlashTextBytes]) {
    std::memset(field, 0, kFlashTextBytes);
    if (text != nullptr) std::memcpy(field, text, std::min(length, kFlashTextBytes));
}

void A_w5MCU::genFlashPattern(const unsigned char field[kFlashTextBytes],
                              W5MCU_WRITEDATA words[kFlashWords]) {
    unsigned char bytes[kFlashWords * 4] = {};
    std::memcpy(bytes, field, kFlashTextBytes);
    for (unsigned int w = 0; w < kFlashWords; ++w) {
        const unsigned char* b = bytes + 4 * w;
        words[w] = W5MCU_WRITEDATA{b[0]} | W5MCU_WRITEDATA{b[1]} << 8 |
                   W5MCU_WRITEDATA{b[2]} << 16 | W5MCU_WRITEDATA{b[3]} << 24;
    }
    words[kFlashWords - 1] = (words[kFlashWords - 1] & 0xFFFF) | kFlashFieldMarker;
}

void A_w5MCU::parseFlashPattern(const W5MCU_READDATA words[kFlashWords], char* text,
                                unsigned int length) {
    unsigned char bytes[kFlashWords * 4];
    for (unsigned int w = 0; w < kFlashWords; ++w) {
        for (unsigned int b = 0; b < 4; ++b)
            bytes[4 * w + b] = static_cast<unsigned char>(words[w] >> (8 * b));
    }
    if (text != nullptr) std::memcpy(text, bytes, std::min(length, kFlashTextBytes));
}

W5MCU_WRITEDATA A_w5MCU::genBurnCmd(const W5MCU_WRITEDATA words[kFlashWords]) {
    W5MCU_WRITEDATA sum = 0;
    for (unsigned int w = 0; w < kFlashWords; ++w) sum += words[w];
    return ~sum + 1;
}

int A_w5MCU::writeFlash(unsigned long address0, unsigned long address1, unsigned long address2,
                        unsigned long address3, unsigned long commitAddress, const char* text,
                        unsigned int length) {
    if (text == nullptr && length > 0) return QRT_ERR_INVALID_PARAM;
    unsigned char field[kFlashTextBytes];
    W5MCU_WRITEDATA words[kFlashWords];
    genFlashData(text, length, field);
    genFlashPattern(field, words);
    const unsigned long addresses[kFlashWords] = {address0, address1, address2, address3};
    for (unsigned int w = 0; w < kFlashWords; ++w) {
        const int status = writeData(addresses[w], &words[w]);
        if (status != QRT_SUCCESS) return status;
    }
    W5MCU_WRITEDATA check = genBurnCmd(words);
    return writeData(commitAddress, &check);
}

int A_w5MCU::readFlash(unsigned long address0, unsigned long address1, unsigned long address2,
                       unsigned long address3, char* text, unsigned int length) {
    if (text == nullptr && length > 0) return QRT_ERR_INVALID_PARAM;
    const unsigned long addresses[kFlashWords] = {address0, address1, address2, address3};
    W5MCU_READDATA words[kFlashWords] = {};
    for (unsigned int w = 0; w < kFlashWords; ++w) {
        const int status = readDataFromFlash(addresses[w], kFlashReadCommand, &words[w]);
        if (status != QRT_SUCCESS) return status;
    }
    parseFlashPattern(words, text, length);
    return QRT_SUCCESS;
}

int A_w5MCU::writeFlash(const FlashField& field, const char* text, unsigned int length) {
    return writeFlash(field.writeAddress[0], field.writeAddress[1], field.writeAddress[2],
                      field.writeAddress[3], field.commitAddress, text, length);
}

int A_w5MCU::readFlash(const FlashField& field, char* text, unsigned int length) {
    return readFlash(field.readAddress[0], field.readAddress[1], field.readAddress[2],
                     field.readAddress[3], text, length);
}
