#pragma once

// An in-process PCI map onto a virtual PCI function: what the kernel driver does for a register
// access, without the driver. Every access is cut into aligned 32-bit register accesses of the
// function, little-endian, as the hardware's register space is read and written.

#include <cstdint>
#include <cstring>
#include <vector>

#include "QRT_Types.h"
#include "core/driver/I_pciMap.h"
#include "sim/chips/PciFunction.h"

namespace qrttest {

class SimPciMap : public I_pciMap {
  public:
    explicit SimPciMap(qrtsim::PciFunction& function) : function_(function) {}

    // Non-zero: every register access fails with this status (a dead device or driver).
    int failWith = 0;
    unsigned reads = 0;
    unsigned writes = 0;

    int initial(I_driverIO*, unsigned) override { return QRT_SUCCESS; }

    int getDeviceInfo(int* vendor, int* device) override {
        if (vendor == nullptr || device == nullptr) return QRT_ERR_INVALID_PARAM;
        *vendor = function_.vendorId();
        *device = function_.deviceId();
        return QRT_SUCCESS;
    }

    int readRegister(unsigned long offset, unsigned, unsigned char* data,
                     unsigned length) override {
        if (data == nullptr || length > kMaxLength) return QRT_ERR_INVALID_PARAM;
        if (failWith != 0) return failWith;
        for (unsigned i = 0; i < length; i += 4) {
            uint32_t word = function_.readRegister32(offset + i);
            ++reads;
            for (unsigned b = 0; b < 4 && i + b < length; ++b)
                data[i + b] = static_cast<unsigned char>(word >> (8 * b));
        }
        return QRT_SUCCESS;
    }

    int writeRegister(unsigned long offset, unsigned, unsigned char* data,
                      unsigned length) override {
        if (data == nullptr || length > kMaxLength) return QRT_ERR_INVALID_PARAM;
        if (failWith != 0) return failWith;
        for (unsigned i = 0; i < length; i += 4) {
            // A partial last word keeps the bytes the caller did not give.
            uint32_t word = length - i < 4 ? function_.readRegister32(offset + i) : 0;
            for (unsigned b = 0; b < 4 && i + b < length; ++b) {
                word &= ~(0xFFu << (8 * b));
                word |= uint32_t{data[i + b]} << (8 * b);
            }
            function_.writeRegister32(offset + i, word);
            ++writes;
        }
        return QRT_SUCCESS;
    }

    // The driver's write-command cache: queued writes, run in order by exeCmdCache.
    int cacheWriteCmds(unsigned long offset, unsigned width, unsigned char* data, unsigned char*,
                       unsigned length, unsigned) override {
        if (data == nullptr || length > kMaxLength) return QRT_ERR_INVALID_PARAM;
        cache_.push_back(Cached{offset, width, std::vector<unsigned char>(data, data + length)});
        return QRT_SUCCESS;
    }
    int clearCmdCache() override {
        cache_.clear();
        return QRT_SUCCESS;
    }
    int exeCmdCache() override {
        for (auto& c : cache_) {
            int status = writeRegister(c.offset, c.width, c.data.data(),
                                       static_cast<unsigned>(c.data.size()));
            if (status != QRT_SUCCESS) return status;
        }
        cache_.clear();
        return QRT_SUCCESS;
    }

    int tryLock() override {
        if (locked_) return QRT_ERR_INVALID_PARAM;
        locked_ = true;
        return QRT_SUCCESS;
    }
    int unLock() override {
        locked_ = false;
        return QRT_SUCCESS;
    }
    // One process only: nobody to keep off.
    A_deviceAccessLock* deviceAccessLock() override { return nullptr; }

  private:
    static constexpr unsigned kMaxLength = 32;
    struct Cached {
        unsigned long offset;
        unsigned width;
        std::vector<unsigned char> data;
    };
    qrtsim::PciFunction& function_;
    std::vector<Cached> cache_;
    bool locked_ = false;
};

}  // namespace qrttest
