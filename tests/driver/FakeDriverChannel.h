#pragma once

// A stand-in for the kernel driver's device. It keeps a copy of every record handed to it and
// lets a test write the driver's answer into the record. Tests address records by literal byte
// offsets, not by the library's record definitions, so a field at the wrong offset or with the
// wrong width in the library fails a test.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "core/driver/I_driverIO.h"

namespace fakedriver {

struct Record {
    uint8_t* bytes;
    size_t size;
    // Little-endian field of `width` bytes at `offset`.
    uint64_t at(size_t offset, size_t width) const {
        uint64_t value = 0;
        if (offset + width > size)
            ADD_FAILURE() << "field at " << offset << " beyond " << size;
        else
            std::memcpy(&value, bytes + offset, width);
        return value;
    }
    void put(size_t offset, size_t width, uint64_t value) {
        if (offset + width > size)
            ADD_FAILURE() << "field at " << offset << " beyond " << size;
        else
            std::memcpy(bytes + offset, &value, width);
    }
};

struct SentRequest {
    unsigned long request;
    std::vector<uint8_t> bytes;  // as the library sent them, length as passed
    uint64_t at(size_t offset, size_t width) const {
        return Record{const_cast<uint8_t*>(bytes.data()), bytes.size()}.at(offset, width);
    }
};

class FakeDriverChannel : public I_driverIO {
  public:
    std::vector<SentRequest> sent;
    unsigned long refusedRequest = 0;  // this request's system call fails
    std::function<void(unsigned long request, Record& record)> answer;

    unsigned open(const char*) override { return 1; }
    unsigned close() override { return 1; }
    unsigned ioctl(unsigned long request, void* record, unsigned int length) override {
        uint8_t* bytes = static_cast<uint8_t*>(record);
        sent.push_back({request, std::vector<uint8_t>(bytes, bytes + length)});
        if (request == refusedRequest) return 0;
        Record r{bytes, length};
        if (answer) answer(request, r);
        return 1;
    }
    const SentRequest& last() const { return sent.back(); }
};

// Request numbers as the kernel driver defines them.
enum : unsigned long {
    kAddScanDevice = 0xC0084D01,
    kGetScanList = 0xC0084D02,
    kRegisterAccess = 0xC0084D03,
    kDriverVersion = 0x80084D04,
    kLock = 0xC0084D05,
    kUnlock = 0xC0084D06,
    kDeviceInformation = 0x80084D08,
    kCacheWriteCommand = 0x80084D09,
    kClearCommandCache = 0x80084D0A,
    kExecuteCommandCache = 0x80084D0B,
};

}  // namespace fakedriver
