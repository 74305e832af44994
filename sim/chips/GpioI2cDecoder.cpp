#include "sim/chips/GpioI2cDecoder.h"

#include <cstdio>

namespace qrtsim {

GpioI2cDecoder::GpioI2cDecoder(I2cBus& bus, uint64_t clockHighMinNs, uint64_t clockLowMinNs)
    : bus_(bus), clockHighMinNs_(clockHighMinNs), clockLowMinNs_(clockLowMinNs) {}

// A step that moves both lines is read the way that keeps the data line's change in the clock's
// low phase: clock down before data, data before clock up.
void GpioI2cDecoder::drive(bool scl, bool sda, bool drivesScl, bool drivesSda, uint64_t nowNs) {
    if (!drivesScl) scl = scl_;
    if (!drivesSda) sda = sda_;
    const bool clockRises = !scl_ && scl;
    const bool clockFalls = scl_ && !scl;
    const bool oldLine = sdaLine();
    if (inTransaction_ && (clockRises || clockFalls) && sda != sda_)
        violations_.count("simultaneous-edges");
    else if (inTransaction_ && drivesScl && drivesSda)
        violations_.count("data-step-drives-clock");
    if (inTransaction_ && drivesSda && !scl_ && clocks_ == 8)
        violations_.count("data-driven-in-ack-slot");
    if (drivesSda && !scl_) dataDriven_ = true;
    if (clockFalls) {
        scl_ = false;
        this->clockFalls(nowNs);
    }
    sda_ = sda;
    const bool newLine = sdaLine();
    if (newLine != oldLine && scl_) dataChangesWhileClockHigh(newLine, nowNs);
    if (clockRises) {
        scl_ = true;
        this->clockRises(nowNs);
    }
}

void GpioI2cDecoder::clockRises(uint64_t nowNs) {
    if (inTransaction_ && nowNs - lastClockEdgeNs_ < clockLowMinNs_)
        violations_.count("clock-low-too-short");
    lastClockEdgeNs_ = nowNs;
    if (!inTransaction_) return;
    // Bits and the stop's clock need the data line set by the host; the acknowledge clock
    // leaves it to the slave.
    if (clocks_ != 8 && !dataDriven_) violations_.count("data-not-set");
    ++clocks_;
    if (clocks_ <= 8) byte_ = static_cast<uint8_t>(byte_ << 1 | (sdaLine() ? 1 : 0));
}

void GpioI2cDecoder::clockFalls(uint64_t nowNs) {
    if (inTransaction_ && nowNs - lastClockEdgeNs_ < clockHighMinNs_)
        violations_.count("clock-high-too-short");
    lastClockEdgeNs_ = nowNs;
    dataDriven_ = false;
    if (!inTransaction_) return;
    if (clocks_ == 8) {
        // The byte is in: the addressed slave answers in the acknowledge slot that follows.
        if (addressPending_) {
            acked_ = bus_.start(static_cast<uint8_t>(byte_ >> 1), (byte_ & 1u) != 0);
            addressPending_ = false;
        } else {
            acked_ = bus_.writeByte(byte_);
        }
        message_.push_back(byte_);
        ackPull_ = acked_;
    } else if (clocks_ == 9) {
        ackPull_ = false;
        if (!acked_) violations_.count("nack");
        clocks_ = 0;
        byte_ = 0;
    }
}

// With the clock high the data line may only move at the first clock of a byte: falling it is a
// (repeated) start, rising a stop. Anywhere else it is a glitch, which the slaves still take
// for the condition it looks like.
void GpioI2cDecoder::dataChangesWhileClockHigh(bool rising, uint64_t nowNs) {
    if (inTransaction_ && clocks_ != 1) violations_.count("glitch");
    if (rising)
        stopCondition(nowNs);
    else
        startCondition(nowNs);
}

void GpioI2cDecoder::startCondition(uint64_t nowNs) {
    if (!inTransaction_ && stoppedOnce_ && nowNs - lastStopNs_ < kBusFreeMinNs)
        violations_.count("bus-free-too-short");
    inTransaction_ = true;
    addressPending_ = true;
    clocks_ = 0;
    byte_ = 0;
    ackPull_ = false;
}

void GpioI2cDecoder::stopCondition(uint64_t nowNs) {
    lastStopNs_ = nowNs;
    stoppedOnce_ = true;
    if (!inTransaction_) return;  // a released bus: nothing to end
    bus_.stop();
    inTransaction_ = false;
    ackPull_ = false;
    ++transactions_;
    if (trace_ && !message_.empty()) {
        char head[48];
        std::snprintf(head, sizeof head, "i2c-gpio %s addr=0x%02x",
                      (message_[0] & 1u) != 0 ? "read" : "write", message_[0] >> 1);
        std::string line = head;
        for (size_t i = 1; i < message_.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, " %02x", message_[i]);
            line += byte;
        }
        trace_(line);
    }
    message_.clear();
}

void GpioI2cDecoder::burstEnded() {
    ++bursts_;
    if (inTransaction_) violations_.count("split-transaction");
}

void GpioI2cDecoder::saveState(nlohmann::json& out) const {
    out["scl"] = scl_ ? 1 : 0;
    out["sda"] = sdaLine() ? 1 : 0;
    out["in_transaction"] = inTransaction_;
    out["transactions"] = transactions_;
    out["cache_executions"] = bursts_;
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
