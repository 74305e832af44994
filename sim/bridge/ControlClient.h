#pragma once

// The client side of the rig's control channel, for programs running in a rig (and for
// `qrt-sim --control`): sends one control line, "<section> <command> [arguments]", to the rig
// that QRT_SIM_SOCKET names and returns its answer. Header only and free of the C++ library,
// like the rest of the bridge protocol.

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/bridge/BridgeProtocol.h"

namespace qrtsim {
namespace bridge {

namespace control_detail {

inline bool sendAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = ::send(fd, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        at += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

inline bool receiveAll(int fd, void* data, size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = ::recv(fd, at, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// One request frame and its answer: the result, and up to `size` payload bytes in `payload`.
inline int64_t exchange(int fd, uint32_t operation, const void* fields, uint32_t length,
                        char* payload, size_t size, size_t* received) {
    uint32_t body = static_cast<uint32_t>(sizeof operation) + length;
    if (!sendAll(fd, &body, sizeof body) || !sendAll(fd, &operation, sizeof operation) ||
        (length > 0 && !sendAll(fd, fields, length)))
        return -EPIPE;
    uint32_t answer = 0;
    int64_t result = -EPIPE;
    if (!receiveAll(fd, &answer, sizeof answer) || answer < sizeof result || answer > kMaxBody ||
        !receiveAll(fd, &result, sizeof result))
        return -EPIPE;
    size_t bytes = answer - sizeof result;
    *received = 0;
    for (size_t i = 0; i < bytes; ++i) {
        char byte = 0;
        if (!receiveAll(fd, &byte, 1)) return -EPIPE;
        if (i < size) payload[(*received)++] = byte;
    }
    return result;
}

}  // namespace control_detail

// Sends `line` and copies the rig's answer into `reply` (always terminated when `size` > 0).
// 0 when the rig carried the command out; -EINVAL when it refused it (the answer says why);
// another negative errno when the rig cannot be reached.
inline int sendControl(const char* line, char* reply, size_t size) {
    using namespace control_detail;
    if (size > 0) reply[0] = '\0';
    const char* address = ::getenv(kSocketVariable);
    if (address == nullptr || address[0] != '@' ||
        strlen(address) + 1 > sizeof(sockaddr_un{}.sun_path))
        return -ENOENT;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -errno;
    sockaddr_un server{};
    server.sun_family = AF_UNIX;
    size_t name = strlen(address + 1);
    memcpy(server.sun_path + 1, address + 1, name);  // abstract: leading zero
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), length) != 0) {
        int error = errno;
        ::close(fd);
        return -error;
    }
    size_t received = 0;
    char none[1];
    int64_t result = exchange(fd, kOpOpen, kControlPath,
                              static_cast<uint32_t>(strlen(kControlPath)), none, 0, &received);
    if (result == 0)
        result =
            exchange(fd, kOpWrite, line, static_cast<uint32_t>(strlen(line)), none, 0, &received);
    if (result >= 0 || result == -EINVAL) {
        uint32_t want = size > 0 ? static_cast<uint32_t>(size - 1) : 0;
        int64_t read = exchange(fd, kOpRead, &want, sizeof want, reply, want, &received);
        if (read >= 0 && size > 0) reply[received] = '\0';
    }
    ::close(fd);
    return result >= 0 ? 0 : static_cast<int>(result);
}

}  // namespace bridge
}  // namespace qrtsim
