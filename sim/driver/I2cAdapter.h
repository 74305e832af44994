#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/chips/FaultTable.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// A Linux I2C adapter of the rig ("/dev/i2c-N"), from the kernel's side of the i2c-dev
// interface: the messages of one I2C_RDWR go out as one combined transaction on the board's
// bus (a start before each message, one stop at the end), 7-bit addresses only, plain reads and
// writes. An address nobody acknowledges fails the transfer with ENXIO, as the adapter drivers
// of the boards report it.
//
// Every process of the kit holds the adapter's advisory lock (an exclusive flock on its open
// file) across a transaction of several messages, so that another process's messages never
// fall in between; a transfer from a file that does not hold it is a violation of that
// protocol ("transfer-unlocked", counted by the file's node, which knows its lock) and is
// carried out all the same, as the kernel would.
//
// Faults (qrt-sim --control "<section> fault i2c-N ...", the section of the board that provides
// the adapter): "fail", every I2C_RDWR fails with EIO before anything reaches the bus, as an
// adapter whose controller has hung; "missing", the node is gone (opening it fails with
// ENOENT; descriptors already open keep working, as after an unlink).
class I2cAdapter {
  public:
    using Trace = std::function<void(const std::string&)>;

    static constexpr unsigned kMaxMessages = 42;  // what i2c-dev accepts in one I2C_RDWR
    static constexpr unsigned kMaxMessageBytes = 8192;
    static constexpr uint16_t kFlagRead = 0x0001;
    static constexpr uint16_t kFlagTenBit = 0x0010;
    static constexpr unsigned long kFunctionality = 0x00000001;  // I2C_FUNC_I2C

    struct Message {
        uint16_t address = 0;
        uint16_t flags = 0;
        std::vector<uint8_t> data;  // bytes to write, or the length to read and its bytes
    };

    I2cAdapter(int number, I2cBus& bus, Trace trace = Trace())
        : number_(number), bus_(bus), trace_(std::move(trace)) {
        violations_.setTrace(trace_);
    }

    int number() const { return number_; }
    I2cBus& bus() { return bus_; }
    FaultTable& faults() { return faults_; }
    Violations& violations() { return violations_; }
    const Violations& violations() const { return violations_; }

    // I2C_RDWR: the number of messages transferred, or a negative errno: -EINVAL for no
    // messages, more than kMaxMessages, a message above kMaxMessageBytes or an address above
    // 0x7F; -EOPNOTSUPP for a flag other than a read (ten-bit addressing included); -ENXIO when
    // a message is not acknowledged (the transaction ends there).
    int transfer(std::vector<Message>& messages);

  private:
    void emit(const std::string& line) const {
        if (trace_) trace_(line);
    }

    int number_;
    I2cBus& bus_;
    Trace trace_;
    FaultTable faults_{{"fail", "missing"}};
    Violations violations_{"i2c"};
};

}  // namespace qrtsim
