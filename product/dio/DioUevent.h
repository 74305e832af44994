#pragma once

#include <cstddef>

// The uevent the DIO driver sends when an input changes, as the kernel puts it on the netlink
// uevent socket: a datagram of NUL-terminated strings, a header ("change@/devices/...") then
// KEY=VALUE strings, among them "ACTION=change", "DRIVER=vorel_dio" and "DI_<n>=<state>".
namespace dio_uevent {

// What one receive takes: a whole uevent, 8 KiB of environment behind its header (an action
// and a device path of up to 4 KiB). A longer datagram is cut there by the socket.
constexpr size_t kDatagramBytes = 8192 + 4096;

// Looks for an input change in one received datagram of `length` bytes (only the first
// kDatagramBytes count). The keys are the strings after the header ("<action>@<path>"); a
// datagram without that header is none of the kernel's. 1 when it is a "change" of the DIO
// driver naming an input
// below `diCount` with state 0 or 1, which is then stored in `index` and `state`; 0 otherwise,
// with both left untouched. Never reads beyond the datagram, terminated or not.
int parse(const char* datagram, size_t length, unsigned diCount, unsigned* index, int* state);

}  // namespace dio_uevent
