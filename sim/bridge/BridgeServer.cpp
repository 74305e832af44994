#include "sim/bridge/BridgeServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "sim/bridge/BridgeProtocol.h"
#include "sim/rig/Rig.h"

namespace qrtsim {

namespace {

using namespace bridge;

std::atomic<unsigned> serverCount{0};

bool sendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            // The program is reading its answer; wait until the socket takes more.
            struct pollfd wait {
                fd, POLLOUT, 0
            };
            if (::poll(&wait, 1, 10000) <= 0) return false;
            continue;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace

BridgeServer::BridgeServer(Rig& rig) : rig_(rig) {}

BridgeServer::~BridgeServer() {
    closeConnections();
    if (listenFd_ >= 0) ::close(listenFd_);
}

bool BridgeServer::listen(std::string& error) {
    std::string name =
        "qrt-sim." + std::to_string(::getpid()) + "." + std::to_string(serverCount.fetch_add(1));
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: leading zero
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 64) != 0) {
        error = std::string("bind/listen: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    address_ = "@" + name;
    return true;
}

bool BridgeServer::serve(int wakeFd, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& connection : connections_) fds.push_back({connection->fd, POLLIN, 0});
    if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
    int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready <= 0) return false;
    if (wakeFd >= 0 && fds.back().revents != 0) return true;

    // Connections first, in the order they were accepted; closing one shifts the rest.
    size_t count = connections_.size();
    std::vector<Connection*> readable;
    for (size_t i = 0; i < count; ++i)
        if (fds[i + 1].revents != 0) readable.push_back(connections_[i].get());
    for (Connection* connection : readable) {
        if (receive(*connection)) continue;
        for (size_t i = 0; i < connections_.size(); ++i) {
            if (connections_[i].get() != connection) continue;
            close(i);
            break;
        }
    }
    if (fds[0].revents & POLLIN) accept();
    return false;
}

void BridgeServer::accept() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connections_.push_back(std::move(connection));
    }
}

bool BridgeServer::receive(Connection& connection) {
    uint8_t buffer[16384];
    for (;;) {
        ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        connection.input.insert(connection.input.end(), buffer, buffer + got);
        // Frames are handled as they complete, so a bad length is caught at its header.
        size_t at = 0;
        while (connection.input.size() - at >= sizeof(uint32_t)) {
            uint32_t length = 0;
            std::memcpy(&length, connection.input.data() + at, sizeof length);
            if (length < sizeof(uint32_t) || length > kMaxBody) return false;
            if (connection.input.size() - at - sizeof length < length) break;
            if (!handleFrame(connection, connection.input.data() + at + sizeof length, length))
                return false;
            at += sizeof length + length;
        }
        connection.input.erase(connection.input.begin(),
                               connection.input.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

bool BridgeServer::handleFrame(Connection& connection, const uint8_t* body, uint32_t length) {
    uint32_t operation = 0;
    std::memcpy(&operation, body, sizeof operation);
    const uint8_t* fields = body + sizeof operation;
    size_t size = length - sizeof operation;
    std::vector<uint8_t> payload;
    int64_t result = -EINVAL;

    if (operation == kOpOpen) {
        if (!connection.opened) {
            connection.opened = true;
            int error = 0;
            std::string path(reinterpret_cast<const char*>(fields), size);
            connection.node = openDeviceNode(rig_, path, error);
            result = connection.node ? 0 : -error;
        }
    } else if (!connection.node) {
        result = -EBADF;
    } else if (operation == kOpIoctl && size >= sizeof(uint64_t)) {
        uint64_t request = 0;
        std::memcpy(&request, fields, sizeof request);
        std::vector<uint8_t> argument(fields + sizeof request, fields + size);
        result = connection.node->ioctl(static_cast<unsigned long>(request), argument, payload);
    } else if (operation == kOpRead && size >= sizeof(uint32_t)) {
        uint32_t count = 0;
        std::memcpy(&count, fields, sizeof count);
        result = connection.node->read(count, payload);
    } else if (operation == kOpWrite) {
        result = connection.node->write(std::vector<uint8_t>(fields, fields + size));
    } else if (operation == kOpFlock && size >= sizeof(uint32_t)) {
        uint32_t lockOperation = 0;
        std::memcpy(&lockOperation, fields, sizeof lockOperation);
        result = connection.node->flock(static_cast<int>(lockOperation));
    }
    return reply(connection, result, payload);
}

bool BridgeServer::reply(Connection& connection, int64_t result,
                         const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(sizeof(uint32_t) + sizeof result + payload.size());
    uint32_t length = static_cast<uint32_t>(sizeof result + payload.size());
    std::memcpy(frame.data(), &length, sizeof length);
    std::memcpy(frame.data() + sizeof length, &result, sizeof result);
    if (!payload.empty())
        std::memcpy(frame.data() + sizeof length + sizeof result, payload.data(), payload.size());
    return sendAll(connection.fd, frame.data(), frame.size());
}

void BridgeServer::close(size_t index) {
    ::close(connections_[index]->fd);
    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
}

void BridgeServer::closeConnections() {
    while (!connections_.empty()) close(connections_.size() - 1);
}

}  // namespace qrtsim
