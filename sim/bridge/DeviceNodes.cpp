#include "sim/bridge/DeviceNodes.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "sim/bridge/BridgeProtocol.h"
#include "sim/rig/Rig.h"

namespace qrtsim {

namespace {

using namespace bridge;

uint64_t valueArgument(const std::vector<uint8_t>& argument) {
    uint64_t value = 0;
    std::memcpy(&value, argument.data(), std::min(argument.size(), sizeof value));
    return value;
}

// The kit's driver: every request is one record, handed to the driver as it is.
class PcimapNode : public DeviceNode {
  public:
    explicit PcimapNode(VirtualPciDriver& driver) : driver_(driver), file_(driver.open()) {}

    int64_t ioctl(unsigned long request, const std::vector<uint8_t>& argument,
                  std::vector<uint8_t>& out) override {
        out = argument;
        int result = driver_.request(*file_, request, out);
        if (result < 0) out.clear();
        return result;
    }

  private:
    VirtualPciDriver& driver_;
    std::unique_ptr<VirtualPciDriver::OpenFile> file_;
};

// i2c-dev on one adapter: combined transfers, and plain reads and writes at the address the
// file selected with I2C_SLAVE. The files of one adapter share its advisory lock, as the files
// of one device node share its inode's: shared holders or one exclusive holder, dropped when the
// file closes.
class I2cNode : public DeviceNode {
  public:
    explicit I2cNode(I2cAdapter& adapter) : adapter_(adapter) { openFiles().insert(this); }
    ~I2cNode() override { openFiles().erase(this); }

    int64_t flock(int operation) override {
        const int mode = operation & ~LOCK_NB;
        if (mode == LOCK_UN) {
            lock_ = 0;
            return 0;
        }
        if (mode != LOCK_SH && mode != LOCK_EX) return -EINVAL;
        for (const I2cNode* other : openFiles()) {
            if (other == this || &other->adapter_ != &adapter_ || other->lock_ == 0) continue;
            if (mode == LOCK_EX || other->lock_ == LOCK_EX) return -EWOULDBLOCK;
        }
        lock_ = mode;
        return 0;
    }

    int64_t ioctl(unsigned long request, const std::vector<uint8_t>& argument,
                  std::vector<uint8_t>& out) override {
        switch (request) {
            case kI2cRdwr:
                checkLocked("I2C_RDWR");
                return transfer(argument, out);
            case kI2cFuncs: {
                uint64_t functions = I2cAdapter::kFunctionality;
                out.resize(sizeof functions);
                std::memcpy(out.data(), &functions, sizeof functions);
                return 0;
            }
            case kI2cSlave:
            case kI2cSlaveForce: {
                uint64_t address = valueArgument(argument);
                if (address > (tenBit_ ? 0x3FFu : 0x7Fu)) return -EINVAL;
                slave_ = static_cast<uint16_t>(address);
                return 0;
            }
            case kI2cTenBit:
                tenBit_ = valueArgument(argument) != 0;
                return 0;
            case kI2cPec:
            case kI2cRetries:
            case kI2cTimeout:
                return 0;
            case kI2cSmbus:
                return -EOPNOTSUPP;  // plain I2C adapter without SMBus emulation
            default:
                return -ENOTTY;
        }
    }

    int64_t read(uint32_t count, std::vector<uint8_t>& out) override {
        checkLocked("read");
        std::vector<I2cAdapter::Message> messages(1);
        messages[0].address = slave_;
        messages[0].flags = I2cAdapter::kFlagRead | (tenBit_ ? I2cAdapter::kFlagTenBit : 0);
        messages[0].data.resize(std::min<uint32_t>(count, I2cAdapter::kMaxMessageBytes));
        int result = adapter_.transfer(messages);
        if (result < 0) return result;
        out = messages[0].data;
        return static_cast<int64_t>(out.size());
    }

    int64_t write(const std::vector<uint8_t>& data) override {
        checkLocked("write");
        std::vector<I2cAdapter::Message> messages(1);
        messages[0].address = slave_;
        messages[0].flags = tenBit_ ? I2cAdapter::kFlagTenBit : 0;
        messages[0].data.assign(
            data.begin(),
            data.begin() + std::min<size_t>(data.size(), I2cAdapter::kMaxMessageBytes));
        int result = adapter_.transfer(messages);
        return result < 0 ? result : static_cast<int64_t>(messages[0].data.size());
    }

  private:
    // The kit's processes hold the adapter exclusively across every transaction.
    void checkLocked(const char* what) {
        if (lock_ != LOCK_EX)
            adapter_.violations().count("transfer-unlocked",
                                        "i2c-" + std::to_string(adapter_.number()) + " " + what +
                                            " without the adapter's exclusive lock");
    }

    int64_t transfer(const std::vector<uint8_t>& argument, std::vector<uint8_t>& out) {
        size_t at = 0;
        auto take = [&argument, &at](void* to, size_t n) {
            if (argument.size() - at < n) return false;
            std::memcpy(to, argument.data() + at, n);
            at += n;
            return true;
        };
        uint32_t count = 0;
        if (!take(&count, sizeof count) || count > I2cAdapter::kMaxMessages) return -EINVAL;
        std::vector<I2cAdapter::Message> messages(count);
        for (auto& message : messages) {
            uint16_t length = 0;
            if (!take(&message.address, 2) || !take(&message.flags, 2) || !take(&length, 2))
                return -EINVAL;
            message.data.resize(length);
            if (!(message.flags & I2cAdapter::kFlagRead) && !take(message.data.data(), length))
                return -EINVAL;
        }
        int result = adapter_.transfer(messages);
        if (result < 0) return result;
        out.clear();
        for (const auto& message : messages)
            if (message.flags & I2cAdapter::kFlagRead)
                out.insert(out.end(), message.data.begin(), message.data.end());
        return result;
    }

    // Every open adapter file of the rig (the server is one thread).
    static std::set<I2cNode*>& openFiles() {
        static std::set<I2cNode*> files;
        return files;
    }

    I2cAdapter& adapter_;
    uint16_t slave_ = 0;
    bool tenBit_ = false;
    int lock_ = 0;  // LOCK_SH, LOCK_EX or 0
};

// The rig's control channel: a write is one control line, the next read its answer.
class ControlNode : public DeviceNode {
  public:
    explicit ControlNode(Rig& rig) : rig_(rig) {}

    int64_t ioctl(unsigned long, const std::vector<uint8_t>&, std::vector<uint8_t>&) override {
        return -ENOTTY;
    }
    int64_t write(const std::vector<uint8_t>& data) override {
        std::string line(data.begin(), data.end());
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::string reply;
        bool done = rig_.control(line, reply);
        reply_.assign(reply.begin(), reply.end());
        return done ? static_cast<int64_t>(data.size()) : -EINVAL;
    }
    int64_t read(uint32_t count, std::vector<uint8_t>& out) override {
        out.assign(reply_.begin(), reply_.begin() + std::min<size_t>(count, reply_.size()));
        reply_.clear();
        return static_cast<int64_t>(out.size());
    }

  private:
    Rig& rig_;
    std::vector<uint8_t> reply_;
};

}  // namespace

int64_t DeviceNode::read(uint32_t, std::vector<uint8_t>&) {
    return -EINVAL;
}

int64_t DeviceNode::write(const std::vector<uint8_t>&) {
    return -EINVAL;
}

int64_t DeviceNode::flock(int) {
    return -EINVAL;
}

std::unique_ptr<DeviceNode> openDeviceNode(Rig& rig, const std::string& path, int& error) {
    if (path == kControlPath) return std::make_unique<ControlNode>(rig);
    int number = -1;
    switch (nodeFamily(path.c_str(), &number)) {
        case NodeFamily::kPcimap:
            if (VirtualPciDriver* driver = rig.pciDriver()) {
                // The node is there, but its mode and group keep the caller out.
                if (driver->faults().active("denied")) {
                    error = EACCES;
                    return nullptr;
                }
                if (!driver->faults().active("missing"))
                    return std::make_unique<PcimapNode>(*driver);
            }
            break;
        case NodeFamily::kI2c:
            if (I2cAdapter* adapter = rig.i2cAdapter(number))
                if (!adapter->faults().active("missing"))
                    return std::make_unique<I2cNode>(*adapter);
            break;
        case NodeFamily::kNone:
            break;
    }
    error = ENOENT;
    return nullptr;
}

}  // namespace qrtsim
