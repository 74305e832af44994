#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "QRT_Types.h"
#include "core/driver/I_pciMap.h"

// A PCI map standing for one switch function: a register file of 32-bit words, an access log,
// a programmable busy flag on the serial control register and per-register failures.
class FakeSwitchMap : public I_pciMap {
  public:
    struct Access {
        bool write;
        unsigned long offset;
        uint32_t value;
    };

    static constexpr unsigned long kSerialControl = 0x260;
    static constexpr uint32_t kBusyBit = 0x40000;

    FakeSwitchMap(int vendor, int device) : vendor(vendor), device(device) {}

    int initial(I_driverIO*, unsigned) override { return QRT_SUCCESS; }
    int getDeviceInfo(int* a, int* b) override {
        if (identityStatus != QRT_SUCCESS) return identityStatus;
        *a = vendor;
        *b = device;
        return QRT_SUCCESS;
    }
    int readRegister(unsigned long offset, unsigned width, unsigned char* data,
                     unsigned length) override {
        if (width != 4 || length != 4) return QRT_ERR_INVALID_PARAM;
        auto failure = readFailures.find(offset);
        if (failure != readFailures.end()) return failure->second;
        uint32_t value = registers[offset];
        if (offset == kSerialControl && busyPollsLeft > 0) {
            --busyPollsLeft;
            value |= kBusyBit;
        }
        log.push_back({false, offset, value});
        std::memcpy(data, &value, 4);
        return QRT_SUCCESS;
    }
    int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                      unsigned length) override {
        if (width != 4 || length != 4) return QRT_ERR_INVALID_PARAM;
        auto failure = writeFailures.find(offset);
        if (failure != writeFailures.end()) return failure->second;
        uint32_t value;
        std::memcpy(&value, data, 4);
        registers[offset] = value;
        log.push_back({true, offset, value});
        return QRT_SUCCESS;
    }
    int cacheWriteCmds(unsigned long, unsigned, unsigned char*, unsigned char*, unsigned,
                       unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int clearCmdCache() override { return QRT_ERR_NOT_SUPPORTED; }
    int exeCmdCache() override { return QRT_ERR_NOT_SUPPORTED; }
    int tryLock() override {
        ++lockCalls;
        return lockStatus;
    }
    int unLock() override {
        ++unlockCalls;
        return QRT_SUCCESS;
    }

    std::vector<Access> writes() const {
        std::vector<Access> out;
        for (const Access& a : log)
            if (a.write) out.push_back(a);
        return out;
    }

    int vendor;
    int device;
    int identityStatus = QRT_SUCCESS;
    int lockStatus = QRT_SUCCESS;
    int lockCalls = 0;
    int unlockCalls = 0;
    int busyPollsLeft = 0;  // reads of the control register that still show the busy flag
    std::map<unsigned long, uint32_t> registers;
    std::map<unsigned long, int> readFailures;
    std::map<unsigned long, int> writeFailures;
    std::vector<Access> log;
};
