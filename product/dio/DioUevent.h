#pragma once

#include <cstddef>

// The uevent the DIO driver sends when an input changes, as the kernel puts it on the netlink
// uevent socket: a datagram of NUL-terminated strings, a header ("change@/devices/...") then
// KEY=VALUE strings, among them "ACTION=change", "DRIVER=vorel_dio" and "DI_<n>=<state>".
namespace dio_uevent {

// What one receive takes; a longer datagram is cut there by the socket.
constexpr size_t kDatagramBytes = 512;
// Examining starts here: the first bytes belong to the header string.
constexpr size_t kFirstExaminedByte = 16;

// Looks for an input change in one received datagram of `length` bytes (only the first
// kDatagramBytes count). 1 when the datagram is a "change" of the DIO driver naming an input
// below `diCount` with state 0 or 1, which is then stored in `index` and `state`; 0 otherwise,
// with both left untouched. Never reads beyond the datagram, terminated or not.
int parse(const char* datagram, size_t length, unsigned diCount, unsigned* index, int* state);

}  // namespace dio_uevent
