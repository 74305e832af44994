#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/I2cSlave.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The PoE power-sourcing chip of the PCIe-RHX44+ (I2C address 0x20), seen from its I2C side.
// The host only writes it, one command per transaction: a command byte, a selector byte and a
// 16-bit value, low byte first:
//   0x30 0x01 <ports> 0x00   port power: bit i switches port i on
//   0xCA 0x00 <mask> 0x00    DC disconnect detection: bit i set turns it off on port i
//   0x95 0x00 <mask> 0x00    AC disconnect detection: likewise
// The chip acts at the stop. It does not acknowledge a command byte it does not know, a read
// request or a fifth byte; a transaction with a wrong selector, a value beyond the four ports
// or fewer than four bytes changes nothing. Its AC disconnect detection works on the DC
// detection's measurement: an AC setting before the DC one since power-up is not taken
// ("ac-before-dc"). Each of these counts as a violation by kind.
class PsePowerChip : public I2cSlave {
  public:
    static constexpr uint8_t kAddress = 0x20;
    static constexpr unsigned kPorts = 4;
    static constexpr uint8_t kPortPower = 0x30;
    static constexpr uint8_t kDcDetection = 0xCA;
    static constexpr uint8_t kAcDetection = 0x95;

    bool start(bool read) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte(bool last) override;
    void stop() override;
    void saveState(nlohmann::json& out) const override;

    uint8_t portMask() const { return portMask_; }
    // Ports whose DC (AC) disconnect detection is on.
    uint8_t dcEnabled() const { return dcEnabled_; }
    uint8_t acEnabled() const { return acEnabled_; }
    const Violations& violations() const { return violations_; }
    void setTrace(Violations::Trace trace) { violations_.setTrace(std::move(trace)); }

  private:
    void execute();

    std::vector<uint8_t> bytes_;
    bool addressed_ = false;
    // Power-up: ports off, detections off until the host sets them.
    uint8_t portMask_ = 0;
    uint8_t dcEnabled_ = 0;
    uint8_t acEnabled_ = 0;
    bool dcSet_ = false;  // the DC detection was set since power-up
    std::map<std::string, unsigned> commands_;
    Violations violations_{"pse"};
};

}  // namespace qrtsim
