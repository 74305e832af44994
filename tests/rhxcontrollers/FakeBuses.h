#pragma once

// Recording fakes of the I2C and SPI buses, and the pauses the code under test requested
// (recorded instead of slept, see Pauses.cpp).

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/bus/I_nkI2C.h"
#include "core/bus/I_nkSPI.h"

namespace rhxtest {

// Pauses requested since the last clearPauses(), in milliseconds, in call order.
std::vector<unsigned> pausesMs();
void clearPauses();
size_t pauseCount(unsigned ms);

inline std::string hexBytes(const unsigned char* data, unsigned length) {
    if (data == nullptr) return " null";
    std::string text;
    char byte[4];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, " %02x", data[i]);
        text += byte;
    }
    return text;
}

// Logs "W <reg>/<reg width> <data bytes>" and "R <reg>/<reg width> x<length>". Reads are
// answered by onRead when set, else from `replies`; a read with no reply left fails with -1.
class FakeI2C : public I_nkI2C {
  public:
    std::vector<std::string> log;
    std::deque<std::vector<unsigned char>> replies;
    std::function<int(unsigned long reg, const unsigned char* data)> onWrite;
    std::function<int(unsigned long reg, unsigned char* buffer, unsigned length)> onRead;
    int blockSizeStatus = 0;
    int regAdrSizeStatus = 0;

    int setI2CSlave(unsigned long) override { return 0; }
    int writeI2C(unsigned long reg, unsigned regSize, unsigned char* data, unsigned len) override {
        char head[32];
        std::snprintf(head, sizeof head, "W %02lx/%u", reg, regSize);
        log.push_back(head + hexBytes(data, len));
        return onWrite ? onWrite(reg, data) : 0;
    }
    int readI2C(unsigned char* buffer, unsigned len, unsigned long reg, unsigned regSize) override {
        char head[40];
        std::snprintf(head, sizeof head, "R %02lx/%u x%u", reg, regSize, len);
        log.push_back(head);
        if (onRead) return onRead(reg, buffer, len);
        if (replies.empty()) return -1;
        for (unsigned i = 0; i < len && i < replies.front().size(); ++i)
            buffer[i] = replies.front()[i];
        replies.pop_front();
        return 0;
    }
    int getI2CDataBlockSize(unsigned* size) override {
        *size = 1;
        return blockSizeStatus;
    }
    int getI2CRegisterAdrSize(unsigned* size) override {
        *size = 1;
        return regAdrSizeStatus;
    }
    int getI2CDataAccessSize(unsigned* size) override {
        *size = 2;
        return 0;
    }
};

// The switch's serial port: logs "W <address> <bytes>" (or "null") and "R <address>"; reads
// return onRead's word, least significant byte first.
class FakeSPI : public I_nkSPI {
  public:
    std::vector<std::string> log;
    std::function<int(unsigned long address, uint32_t* word)> onRead;
    std::function<void()> onWrite;

    int setSPISlave(long) override { return -5; }
    int writeSPI(unsigned long address, unsigned char* data, unsigned len) override {
        char head[24];
        std::snprintf(head, sizeof head, "W %04lx", address);
        log.push_back(head + hexBytes(data, len));
        if (onWrite) onWrite();
        return 0;
    }
    int readSPI(unsigned long address, unsigned char* buf, unsigned len) override {
        char head[24];
        std::snprintf(head, sizeof head, "R %04lx", address);
        log.push_back(head);
        uint32_t word = 0;
        int status = onRead ? onRead(address, &word) : 0;
        for (unsigned i = 0; i < len && i < 4; ++i)
            buf[i] = static_cast<unsigned char>(word >> 8 * i);
        return status;
    }
    int getSPIDataBlockSize(unsigned* size) override {
        *size = 4;
        return 0;
    }
    // The log without the busy polls of the status register.
    std::vector<std::string> accesses() const {
        std::vector<std::string> out;
        for (const auto& entry : log)
            if (entry != "R 2000") out.push_back(entry);
        return out;
    }
};

}  // namespace rhxtest
