#include "sim/bridge/BridgeServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/bridge/BridgeProtocol.h"
#include "sim/rig/Rig.h"

namespace qrtsim {

namespace {

// When process `pid` started, in clock ticks since boot (field 22 of /proc/PID/stat, after the
// parenthesised command name, which may itself hold spaces and parentheses); 0 when unknown.
uint64_t processStartTicks(pid_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    char text[1024];
    size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    const char* at = std::strrchr(text, ')');
    if (at == nullptr) return 0;
    // Fields 3 to 21 come before the start time.
    for (int field = 3; field <= 22 && at != nullptr; ++field) at = std::strchr(at + 1, ' ');
    return at != nullptr ? std::strtoull(at + 1, nullptr, 10) : 0;
}

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

BridgeServer::BridgeServer(Rig& rig) : rig_(rig) {
    if (VirtualPciDriver* driver = rig_.pciDriver())
        driver->setAbandonedFileCheck([this] { closeAbandonedFiles(); });
}

BridgeServer::~BridgeServer() {
    if (VirtualPciDriver* driver = rig_.pciDriver()) driver->setAbandonedFileCheck(nullptr);
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
    // Every request then carries its sender's credentials (accepted sockets inherit the option).
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
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
    size_t firstWatch = fds.size();
    for (const auto& watch : watches_) fds.push_back({watch.first, POLLIN, 0});
    if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
    int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready <= 0) return false;
    for (size_t i = 0; i < watches_.size(); ++i)
        if (fds[firstWatch + i].revents != 0) watches_[i].second();
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
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connections_.push_back(std::move(connection));
    }
}

bool BridgeServer::receive(Connection& connection) {
    uint8_t buffer[16384];
    for (;;) {
        // The kernel never joins the bytes of two senders in one receive.
        iovec data{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = ::recvmsg(connection.fd, &message, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
            ucred sender{};
            std::memcpy(&sender, CMSG_DATA(c), sizeof sender);
            if (sender.pid != connection.sender || connection.senderStart == 0) {
                connection.sender = sender.pid;
                connection.senderStart = processStartTicks(sender.pid);
            }
        }
        connection.input.insert(connection.input.end(), buffer, buffer + got);
        // Frames are handled as they complete, so a bad length is caught at its header.
        size_t at = 0;
        while (connection.input.size() - at >= sizeof(uint32_t)) {
            uint32_t length = 0;
            std::memcpy(&length, connection.input.data() + at, sizeof length);
            if (length < sizeof(uint32_t) || length > kMaxBody) return false;
            if (connection.input.size() - at - sizeof length < length) break;
            serving_ = &connection;
            rig_.clock().setRequester(connection.sender, connection.senderStart);
            bool served =
                handleFrame(connection, connection.input.data() + at + sizeof length, length);
            serving_ = nullptr;
            if (!served) return false;
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

void BridgeServer::closeAbandonedFiles() {
    for (const auto& connection : connections_) {
        if (connection.get() == serving_ || !connection->node) continue;
        pollfd hangUp{connection->fd, POLLRDHUP, 0};
        if (::poll(&hangUp, 1, 0) <= 0) continue;
        // Whatever the process sent last it sent before it went; its file closes now.
        if (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) connection->node.reset();
    }
}

void BridgeServer::watch(int fd, std::function<void()> onReadable) {
    watches_.emplace_back(fd, std::move(onReadable));
}

void BridgeServer::closeConnections() {
    while (!connections_.empty()) close(connections_.size() - 1);
}

}  // namespace qrtsim
