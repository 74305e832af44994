#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/I2cBus.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// An I2C bus whose two lines a host drives one level at a time through general-purpose pins
// (bit-banged I2C), seen from the slaves' input stage: the decoder recovers start and stop
// conditions, the bits of each byte on the clock's rising edges and the acknowledge slots, and
// hands them to the slaves of an I2cBus. The data line is open-drain: a slave that acknowledges
// pulls it low through the ninth clock, whatever the host drives.
//
// Rules of the wire, counted as violations by kind:
//   - "glitch": the data line changes while the clock is high anywhere but at the first clock
//     of a byte (where a change is a repeated start or a stop);
//   - "simultaneous-edges": both lines change in one step during a transaction, so which
//     came first is undefined;
//   - "clock-high-too-short" / "clock-low-too-short": the clock high less than 4.0 us or low
//     less than 4.7 us (the slaves run at 100 kHz);
//   - "bus-free-too-short": a start less than 4.7 us after the stop before it;
//   - "nack": a byte nobody acknowledged (the host never reads the acknowledge, so it would
//     not notice);
//   - "split-transaction": the host's burst of pin writes ended in the middle of a
//     transaction, leaving the bus held for an unbounded time.
class GpioI2cDecoder {
  public:
    static constexpr uint64_t kClockHighMinNs = 4000;
    static constexpr uint64_t kClockLowMinNs = 4700;
    static constexpr uint64_t kBusFreeMinNs = 4700;

    explicit GpioI2cDecoder(I2cBus& bus);

    // The host now drives the clock and data lines to these levels (true: released high).
    void drive(bool scl, bool sda, uint64_t nowNs);
    // The host's burst of pin writes has ended (the driver ran its command cache).
    void burstEnded();

    bool sdaLine() const { return sda_ && !ackPull_; }
    unsigned transactions() const { return transactions_; }
    unsigned bursts() const { return bursts_; }
    const Violations& violations() const { return violations_; }
    void setTrace(std::function<void(const std::string&)> trace) {
        violations_.setTrace(trace);
        trace_ = std::move(trace);
    }
    void saveState(nlohmann::json& out) const;

  private:
    void clockRises(uint64_t nowNs);
    void clockFalls(uint64_t nowNs);
    void dataChangesWhileClockHigh(bool rising, uint64_t nowNs);
    void startCondition(uint64_t nowNs);
    void stopCondition(uint64_t nowNs);

    I2cBus& bus_;
    std::function<void(const std::string&)> trace_;
    bool scl_ = true;  // host levels; both released at power-up
    bool sda_ = true;
    bool ackPull_ = false;  // a slave holds the data line low for its acknowledge
    uint64_t lastClockEdgeNs_ = 0;
    uint64_t lastStopNs_ = 0;
    bool stoppedOnce_ = false;

    bool inTransaction_ = false;
    bool addressPending_ = false;  // the next byte is an address byte
    unsigned clocks_ = 0;          // rising clock edges in the current 9-clock frame
    uint8_t byte_ = 0;
    bool acked_ = false;
    std::vector<uint8_t> message_;  // bytes of the transaction, for the trace

    unsigned transactions_ = 0;
    unsigned bursts_ = 0;
    Violations violations_{"i2c-gpio"};
};

}  // namespace qrtsim
