#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "QRT_Types.h"
#include "core/driver/C_pciFunctionLock.h"
#include "core/driver/I_pciMap.h"

// A PCI map standing for one switch function: 32-bit registers, a log of every access (and
// whether the driver's lock was held for it), a busy flag that the serial control register
// shows for a number of reads, and injected failures.
class FakeSwitchMap : public I_pciMap {
  public:
    struct Access {
        bool write;
        unsigned long offset;
        uint32_t value;
        bool locked;
    };
    static constexpr unsigned long kSerialControl = 0x260;

    FakeSwitchMap(int vendor, int device) : vendor(vendor), device(device) {}

    int initial(I_driverIO*, unsigned) override { return QRT_SUCCESS; }
    int getDeviceInfo(int* a, int* b) override {
        *a = vendor;
        *b = device;
        return QRT_SUCCESS;
    }
    int readRegister(unsigned long offset, unsigned width, unsigned char* data,
                     unsigned length) override {
        if (width != 4 || length != 4) return QRT_ERR_INVALID_PARAM;
        if (failures.count(offset)) return failures[offset];
        uint32_t value = registers[offset];
        if (offset == kSerialControl && busyReads > 0 && busyReads--) value |= 0x40000;
        log.push_back({false, offset, value, locked});
        std::memcpy(data, &value, 4);
        return QRT_SUCCESS;
    }
    int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                      unsigned length) override {
        if (width != 4 || length != 4) return QRT_ERR_INVALID_PARAM;
        if (failures.count(offset)) return failures[offset];
        std::memcpy(&registers[offset], data, 4);
        log.push_back({true, offset, registers[offset], locked});
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
        if (lockStatus == QRT_SUCCESS) locked = true;
        return lockStatus;
    }
    int unLock() override {
        locked = false;
        return ++unlockCalls, QRT_SUCCESS;
    }
    A_deviceAccessLock* deviceAccessLock() override { return &accessLock; }

    std::vector<Access> writes() const {
        std::vector<Access> out;
        for (const Access& a : log)
            if (a.write) out.push_back(a);
        return out;
    }

    int vendor;
    int device;
    int lockStatus = QRT_SUCCESS;
    int lockCalls = 0;
    int unlockCalls = 0;
    bool locked = false;
    C_pciFunctionLock accessLock{*this};
    int busyReads = 0;  // reads of the serial control register that still show busy
    std::map<unsigned long, uint32_t> registers;
    std::map<unsigned long, int> failures;  // register -> status of every access to it
    std::vector<Access> log;
};
