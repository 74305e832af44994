#pragma once

// The requests of the kit's kernel driver "/dev/___nk_pcimap" as the driver receives them:
// request codes (type 'M', an 8-byte size encoded, the record's address as argument) and the
// size of the record each one carries. Header only and free of the C++ library, so that the
// preloaded bridge can size the records it copies across.

#include <stddef.h>
#include <stdint.h>

namespace qrtsim {
namespace pcimap {

constexpr const char kNodePath[] = "/dev/___nk_pcimap";

enum RequestNumber : unsigned {
    kAddScanDevice = 1,
    kGetScanList = 2,
    kRegisterAccess = 3,
    kGetVersion = 4,
    kLock = 5,
    kUnlock = 6,
    // 7 is not a request of the driver
    kDeviceInformation = 8,
    kCacheWriteCommand = 9,
    kClearCommandCache = 10,
    kExecuteCommandCache = 11,
};

struct RequestFormat {
    unsigned long code;
    unsigned number;
    uint32_t recordSize;
    const char* name;  // as the trace and the rig file's fault keys name it
};

constexpr RequestFormat kRequests[] = {
    {0xC0084D01ul, kAddScanDevice, 36, "add-scan"},
    {0xC0084D02ul, kGetScanList, 280, "scan-list"},
    {0xC0084D03ul, kRegisterAccess, 80, "register-access"},
    {0x80084D04ul, kGetVersion, 16, "version"},
    {0xC0084D05ul, kLock, 12, "lock"},
    {0xC0084D06ul, kUnlock, 12, "unlock"},
    {0x80084D08ul, kDeviceInformation, 24, "device-info"},
    {0x80084D09ul, kCacheWriteCommand, 120, "cache-write"},
    {0x80084D0Aul, kClearCommandCache, 4, "cache-clear"},
    {0x80084D0Bul, kExecuteCommandCache, 4, "cache-execute"},
};

inline const RequestFormat* findRequest(unsigned long code) {
    for (const RequestFormat& request : kRequests)
        if (request.code == code) return &request;
    return nullptr;
}

// The record size for a request of this driver's type letter, whatever its direction bits:
// what the bridge copies; the driver itself then insists on the exact code.
inline uint32_t recordSizeOf(unsigned long code) {
    if (((code >> 8) & 0xFF) != 'M') return 0;
    for (const RequestFormat& request : kRequests)
        if (request.number == (code & 0xFF)) return request.recordSize;
    return 0;
}

// Driver statuses this driver reports of itself; the rig's fault injection adds any other.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusInvalid = 1;  // bad device index, operation, width or length
constexpr int32_t kStatusBusy = 255;   // the device is locked under another key

constexpr unsigned kMaxData = 32;  // data bytes of one register access or cached command

}  // namespace pcimap
}  // namespace qrtsim
