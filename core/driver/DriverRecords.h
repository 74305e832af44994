#pragma once

// The wire format between the SDK and the kit's kernel driver "/dev/___nk_pcimap": the ioctl
// request numbers and the records they carry. This is the only place that defines it; the
// library's driver channel and any stand-in for the driver both build on these definitions.
//
// Every request has type letter 'M' and encodes a size of 8 (the driver only receives the
// record's address); the record itself is described below, byte by byte. All integers are
// host (little-endian) integers. Bytes the library does not use are sent as zero.

#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>

namespace nkpcimap {

// Device name under /dev.
constexpr const char kDeviceName[] = "___nk_pcimap";

// ---- Request numbers ------------------------------------------------------------------------

constexpr unsigned long kDirRead = 2;       // driver writes the record back
constexpr unsigned long kDirReadWrite = 3;  // library fills it, driver fills it back

constexpr unsigned long requestCode(unsigned long direction, unsigned long number) {
    return (direction << 30) | (8ul << 16) | (static_cast<unsigned long>('M') << 8) | number;
}

constexpr unsigned long kAddScanDevice = requestCode(kDirReadWrite, 1);
constexpr unsigned long kGetScanList = requestCode(kDirReadWrite, 2);
constexpr unsigned long kRegisterAccess = requestCode(kDirReadWrite, 3);
constexpr unsigned long kDriverVersion = requestCode(kDirRead, 4);
constexpr unsigned long kLock = requestCode(kDirReadWrite, 5);
constexpr unsigned long kUnlock = requestCode(kDirReadWrite, 6);
// Number 7 is not used.
constexpr unsigned long kDeviceInformation = requestCode(kDirRead, 8);
constexpr unsigned long kCacheWriteCommand = requestCode(kDirRead, 9);
constexpr unsigned long kClearCommandCache = requestCode(kDirRead, 10);
constexpr unsigned long kExecuteCommandCache = requestCode(kDirRead, 11);

static_assert(kAddScanDevice == 0xC0084D01ul, "add scan device request");
static_assert(kGetScanList == 0xC0084D02ul, "get scan list request");
static_assert(kRegisterAccess == 0xC0084D03ul, "register access request");
static_assert(kDriverVersion == 0x80084D04ul, "driver version request");
static_assert(kLock == 0xC0084D05ul, "lock request");
static_assert(kUnlock == 0xC0084D06ul, "unlock request");
static_assert(kDeviceInformation == 0x80084D08ul, "device information request");
static_assert(kCacheWriteCommand == 0x80084D09ul, "cache write command request");
static_assert(kClearCommandCache == 0x80084D0Aul, "clear command cache request");
static_assert(kExecuteCommandCache == 0x80084D0Bul, "execute command cache request");
// The same numbers as the kernel's own encoding of an 8-byte argument.
static_assert(kRegisterAccess == _IOWR('M', 3, uint64_t), "kernel ioctl encoding");
static_assert(kDriverVersion == _IOR('M', 4, uint64_t), "kernel ioctl encoding");

// ---- Driver status ----------------------------------------------------------------------------

// Status field values the driver reports. The library maps them to status codes with
// ZEPPCIManager::returnZEPVal: 255 busy, 1 and 3 failed, anything else success.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = 1;
constexpr int32_t kStatusFailedOther = 3;
constexpr int32_t kStatusBusy = 255;

// Register access operations.
constexpr uint32_t kOperationRead = 1;
constexpr uint32_t kOperationWrite = 2;

// Largest data block of one register access or cached command.
constexpr unsigned kMaxDataBytes = 32;

// ---- Records ------------------------------------------------------------------------------------

// Registers a PCI identifier pair that the driver is to look for.
struct AddScanDeviceRecord {
    int32_t vendorId;     // in
    int32_t deviceId;     // in
    int32_t firstResult;  // out
    int32_t matchCount;   // out: devices matching this pair
    int32_t status;       // out
    uint8_t flag;         // in: 1 with the first registration of a scan, 0 with the others
    uint8_t unused[15];
};

// The identifier tables the driver holds.
struct ScanListRecord {
    int32_t firstTable[32];   // out
    int32_t secondTable[32];  // out
    int32_t count;            // out
    int32_t status;           // out
    uint8_t unused[16];
};

// One register read or write on a scanned device.
struct RegisterAccessRecord {
    uint64_t offset;              // in
    uint32_t length;              // in: data bytes, at most kMaxDataBytes
    uint32_t width;               // in: access width in bytes
    uint32_t deviceIndex;         // in
    uint32_t operation;           // in: kOperationRead / kOperationWrite
    int32_t status;               // out
    uint32_t lockKey;             // in: key of the driver lock held by the caller, 0 when none
    uint8_t data[kMaxDataBytes];  // in for a write, out for a read
    uint8_t unused[16];
};

// The driver's version, a NUL-terminated text.
struct DriverVersionRecord {
    char text[16];  // out
};

// Takes or releases the driver's per-device lock.
struct LockRecord {
    uint32_t deviceIndex;  // in
    uint32_t lockKey;      // out for lock, in for unlock
    int32_t status;        // out
};

// Two values the driver keeps about a scanned device.
struct DeviceInformationRecord {
    uint64_t deviceIndex;  // in
    int32_t firstValue;    // out
    int32_t secondValue;   // out
    int32_t status;        // out
    uint8_t unused[4];
};

// A register write queued in the driver's command cache.
struct CacheWriteCommandRecord {
    uint64_t offset;              // in
    uint32_t length;              // in
    uint32_t width;               // in
    uint32_t deviceIndex;         // in
    uint32_t operation;           // in: always kOperationWrite
    int32_t unusedStatus;         // not used by this request
    uint32_t lockKey;             // in
    uint8_t data[kMaxDataBytes];  // in
    uint8_t unused[16];
    uint8_t secondData[kMaxDataBytes];  // in: same length as data
    uint32_t last;                      // in
    int32_t status;                     // out
};

// Clears or executes the command cache.
struct CommandCacheRecord {
    int32_t status;  // out
};

// ---- Layout checks
// --------------------------------------------------------------------------------

#define NKPCIMAP_AT(record, field, offset) \
    static_assert(offsetof(record, field) == (offset), #record "." #field " offset")

static_assert(sizeof(AddScanDeviceRecord) == 36, "add scan device record size");
NKPCIMAP_AT(AddScanDeviceRecord, vendorId, 0);
NKPCIMAP_AT(AddScanDeviceRecord, deviceId, 4);
NKPCIMAP_AT(AddScanDeviceRecord, firstResult, 8);
NKPCIMAP_AT(AddScanDeviceRecord, matchCount, 12);
NKPCIMAP_AT(AddScanDeviceRecord, status, 16);
NKPCIMAP_AT(AddScanDeviceRecord, flag, 20);

static_assert(sizeof(ScanListRecord) == 280, "scan list record size");
NKPCIMAP_AT(ScanListRecord, firstTable, 0);
NKPCIMAP_AT(ScanListRecord, secondTable, 128);
NKPCIMAP_AT(ScanListRecord, count, 256);
NKPCIMAP_AT(ScanListRecord, status, 260);

static_assert(sizeof(RegisterAccessRecord) == 80, "register access record size");
NKPCIMAP_AT(RegisterAccessRecord, offset, 0);
NKPCIMAP_AT(RegisterAccessRecord, length, 8);
NKPCIMAP_AT(RegisterAccessRecord, width, 12);
NKPCIMAP_AT(RegisterAccessRecord, deviceIndex, 16);
NKPCIMAP_AT(RegisterAccessRecord, operation, 20);
NKPCIMAP_AT(RegisterAccessRecord, status, 24);
NKPCIMAP_AT(RegisterAccessRecord, lockKey, 28);
NKPCIMAP_AT(RegisterAccessRecord, data, 32);
NKPCIMAP_AT(RegisterAccessRecord, unused, 64);

static_assert(sizeof(DriverVersionRecord) == 16, "driver version record size");

static_assert(sizeof(LockRecord) == 12, "lock record size");
NKPCIMAP_AT(LockRecord, deviceIndex, 0);
NKPCIMAP_AT(LockRecord, lockKey, 4);
NKPCIMAP_AT(LockRecord, status, 8);

static_assert(sizeof(DeviceInformationRecord) == 24, "device information record size");
NKPCIMAP_AT(DeviceInformationRecord, deviceIndex, 0);
NKPCIMAP_AT(DeviceInformationRecord, firstValue, 8);
NKPCIMAP_AT(DeviceInformationRecord, secondValue, 12);
NKPCIMAP_AT(DeviceInformationRecord, status, 16);

static_assert(sizeof(CacheWriteCommandRecord) == 120, "cache write command record size");
NKPCIMAP_AT(CacheWriteCommandRecord, offset, 0);
NKPCIMAP_AT(CacheWriteCommandRecord, length, 8);
NKPCIMAP_AT(CacheWriteCommandRecord, width, 12);
NKPCIMAP_AT(CacheWriteCommandRecord, deviceIndex, 16);
NKPCIMAP_AT(CacheWriteCommandRecord, operation, 20);
NKPCIMAP_AT(CacheWriteCommandRecord, lockKey, 28);
NKPCIMAP_AT(CacheWriteCommandRecord, data, 32);
NKPCIMAP_AT(CacheWriteCommandRecord, secondData, 80);
NKPCIMAP_AT(CacheWriteCommandRecord, last, 112);
NKPCIMAP_AT(CacheWriteCommandRecord, status, 116);

static_assert(sizeof(CommandCacheRecord) == 4, "command cache record size");

#undef NKPCIMAP_AT

// Issues one request carrying `record` on a driver channel (an I_driverIO). The channel
// answers 1 when the system call succeeded.
template <typename Channel, typename Record>
inline bool issueRequest(Channel* io, unsigned long request, Record& record) {
    return io->ioctl(request, &record, sizeof(Record)) == 1;
}

}  // namespace nkpcimap
