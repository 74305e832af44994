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
//   - "clock-high-too-short" / "clock-low-too-short": the clock high or low for less than the
//     bus's minimum phase (4.0 us and 4.7 us for slaves at 100 kHz; a board with slow, filtered
//     lines sets its own);
//   - "data-step-drives-clock": in a transaction, one pin write drives both lines (the clock
//     edge and the data change then race on the wire, whatever the levels);
//   - "data-not-set": the clock rises for a data bit or a stop without the host having driven
//     the data line since the clock fell (the data line's level is left to chance: after an
//     acknowledge slot the slave has just let go of it);
//   - "data-driven-in-ack-slot": the host drives the data line while the slave acknowledges;
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

    explicit GpioI2cDecoder(I2cBus& bus, uint64_t clockHighMinNs = kClockHighMinNs,
                            uint64_t clockLowMinNs = kClockLowMinNs);

    // The host now drives the clock and data lines to these levels (true: released high); a
    // pin write that drives only one line says which (`drivesScl`, `drivesSda`).
    void drive(bool scl, bool sda, uint64_t nowNs) { drive(scl, sda, true, true, nowNs); }
    void drive(bool scl, bool sda, bool drivesScl, bool drivesSda, uint64_t nowNs);
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
    const uint64_t clockHighMinNs_;
    const uint64_t clockLowMinNs_;
    bool dataDriven_ = false;  // the host drove the data line since the clock last fell
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
