#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/bridge/DeviceNodes.h"

namespace qrtsim {

class Rig;

// Serves the rig's device nodes to the preloaded bridge of every program running in the rig:
// one abstract unix socket, one connection per open device file, one frame per request
// (BridgeProtocol.h). Everything runs on the caller's thread, one request at a time, so the
// rig sees the requests of all processes in one order, as the hardware would. Closing a
// connection closes its device file (the driver drops the locks it held).
//
// Each request arrives with the credentials of the process that sent it (SO_PASSCRED); the
// rig's clock runs for that process while the request is served. A kernel driver has released
// the files of a process before its parent learns of the exit; here a hung-up connection may
// wait its turn behind others, so before the driver refuses a request over a lock held by
// another file it has the server close the files whose processes have all gone.
class BridgeServer {
  public:
    explicit BridgeServer(Rig& rig);
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    // Listens on a fresh abstract socket; false with `error` set when it cannot.
    bool listen(std::string& error);
    // The value of QRT_SIM_SOCKET for programs of this rig: "@" and the abstract name.
    const std::string& address() const { return address_; }

    // Waits up to `timeoutMs` (-1: without limit) and serves what arrives. Returns true as soon
    // as `wakeFd` (ignored when negative) is readable.
    bool serve(int wakeFd, int timeoutMs);
    size_t connections() const { return connections_.size(); }
    // Also waits for `fd` and runs `onReadable` (on the serving thread) when it can be read.
    void watch(int fd, std::function<void()> onReadable);
    // Closes every connection, as when the processes of the rig are gone.
    void closeConnections();

  private:
    struct Connection {
        int fd = -1;
        std::vector<uint8_t> input;
        std::unique_ptr<DeviceNode> node;
        bool opened = false;
        pid_t sender = 0;          // the process whose bytes were received last
        uint64_t senderStart = 0;  // when it started, in clock ticks since boot (0: unknown)
    };

    void accept();
    // False when the connection is to be closed.
    bool receive(Connection& connection);
    bool handleFrame(Connection& connection, const uint8_t* body, uint32_t length);
    bool reply(Connection& connection, int64_t result, const std::vector<uint8_t>& payload);
    void close(size_t index);
    // Closes the device file of every connection whose peer has hung up (all its processes
    // have closed it), except the one being served.
    void closeAbandonedFiles();

    Rig& rig_;
    int listenFd_ = -1;
    std::string address_;
    std::vector<std::unique_ptr<Connection>> connections_;
    const Connection* serving_ = nullptr;
    std::vector<std::pair<int, std::function<void()>>> watches_;
};

}  // namespace qrtsim
