#pragma once

// What the preloaded bridge library and the rig server say to each other over the rig's unix
// socket. Header only and free of the C++ library: the preload side runs inside arbitrary
// programs, possibly before their static initialisers.
//
// Every open of a rig device node is one stream connection to the socket named by the
// environment variable QRT_SIM_SOCKET ("@name" is an abstract socket). Each request is one
// frame, answered by one frame:
//   frame   = u32 body length, body                      (host byte order)
//   request = u32 operation, operation's fields
//     open:  path bytes (no terminating zero)           first request of a connection
//     ioctl: u64 request code, argument bytes           see below
//     read:  u32 byte count
//     write: data bytes
//     flock: u32 operation (LOCK_SH, LOCK_EX or LOCK_UN, with LOCK_NB)   I2C adapters only
//   reply   = i64 result (>= 0, or -errno), payload bytes
//
// Arguments of ioctls, as the bridge copies them out of the caller's memory:
//   driver requests ("/dev/___nk_pcimap"): the whole record (PcimapWire.h gives its size);
//     the reply's payload is the record as the driver left it, copied back on success.
//   I2C_RDWR: u32 message count, then per message u16 address, u16 flags, u16 length and, for
//     a write, its bytes; the reply's payload is the bytes of the read messages, in order.
//   I2C_FUNCS: no argument; the payload is the u64 functionality mask.
//   I2C_SLAVE, I2C_SLAVE_FORCE, I2C_TENBIT, I2C_PEC, I2C_RETRIES, I2C_TIMEOUT: u64 value.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace qrtsim {
namespace bridge {

constexpr const char kSocketVariable[] = "QRT_SIM_SOCKET";
// The netlink port id of qrt-sim's uevent socket, in decimal: the rig's uevents stand for the
// kernel's, so the bridge shows a program port id 0 and the kernel's credentials for them.
constexpr const char kUeventPortVariable[] = "QRT_SIM_UEVENT_PORT";

enum Operation : uint32_t {
    kOpOpen = 1,
    kOpIoctl = 2,
    kOpRead = 3,
    kOpWrite = 4,
    kOpFlock = 5,
};

constexpr uint32_t kMaxBody = 1u << 20;

// i2c-dev requests.
constexpr unsigned long kI2cRetries = 0x0701;
constexpr unsigned long kI2cTimeout = 0x0702;
constexpr unsigned long kI2cSlave = 0x0703;
constexpr unsigned long kI2cTenBit = 0x0704;
constexpr unsigned long kI2cFuncs = 0x0705;
constexpr unsigned long kI2cSlaveForce = 0x0706;
constexpr unsigned long kI2cRdwr = 0x0707;
constexpr unsigned long kI2cPec = 0x0708;
constexpr unsigned long kI2cSmbus = 0x0720;

constexpr const char kPcimapPath[] = "/dev/___nk_pcimap";
// Not a device node: a connection opened with this path carries control lines for the rig
// (ControlClient.h). A write is one line; the read that follows answers it.
constexpr const char kControlPath[] = "qrt-sim:control";
constexpr const char kI2cPrefix[] = "/dev/i2c-";

enum class NodeFamily { kNone, kPcimap, kI2c };

// Which device-node family a path names: the driver's node exactly, or "/dev/i2c-" followed by
// a decimal adapter number (stored in `adapter`).
inline NodeFamily nodeFamily(const char* path, int* adapter) {
    if (path == nullptr) return NodeFamily::kNone;
    if (strcmp(path, kPcimapPath) == 0) return NodeFamily::kPcimap;
    size_t prefix = sizeof kI2cPrefix - 1;
    if (strncmp(path, kI2cPrefix, prefix) != 0) return NodeFamily::kNone;
    const char* digits = path + prefix;
    if (*digits == '\0' || strlen(digits) > 9) return NodeFamily::kNone;
    int number = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return NodeFamily::kNone;
        number = number * 10 + (*p - '0');
    }
    if (adapter != nullptr) *adapter = number;
    return NodeFamily::kI2c;
}

}  // namespace bridge
}  // namespace qrtsim
