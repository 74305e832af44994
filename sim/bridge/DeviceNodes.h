#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qrtsim {

class Rig;

// One open file of a rig device node, as the bridge server holds it for a connection. The
// operations take arguments as the bridge carries them (BridgeProtocol.h) and answer with the
// system call's result (>= 0) or -errno, filling `out` with the reply's payload.
class DeviceNode {
  public:
    virtual ~DeviceNode() = default;
    virtual int64_t ioctl(unsigned long request, const std::vector<uint8_t>& argument,
                          std::vector<uint8_t>& out) = 0;
    virtual int64_t read(uint32_t count, std::vector<uint8_t>& out);
    virtual int64_t write(const std::vector<uint8_t>& data);
    // An advisory lock on the node (flock's operation, never blocking): 0, or -EWOULDBLOCK when
    // another open file of the same node holds it in a mode that excludes the one asked for.
    virtual int64_t flock(int operation);
};

// Opens `path` on the rig: "/dev/___nk_pcimap" when the rig has its driver, "/dev/i2c-N" when
// a board provides adapter N, the control channel for bridge::kControlPath. Null with `error`
// set to ENOENT otherwise.
std::unique_ptr<DeviceNode> openDeviceNode(Rig& rig, const std::string& path, int& error);

}  // namespace qrtsim
