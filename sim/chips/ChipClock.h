#pragma once

#include <cstdint>

namespace qrtsim {

// The time line on which a chip model measures how long the other side waited: a reply that
// the chip needs 20 ms to prepare is ready only 20 ms after its command on this clock.
//
// In the rig the clock runs for the process whose request the rig is serving: real time plus
// the pauses that process asked for and had skipped (`qrt-sim --skip-pauses`), so a program
// that waited as the protocol says finds the chip ready whether it slept or not, and one that
// did not wait finds it not ready. A model used on its own runs on steady(); tests drive
// models on clocks of their own.
class ChipClock {
  public:
    virtual ~ChipClock() = default;
    // Microseconds since an arbitrary origin; never decreases.
    virtual uint64_t nowUs() const = 0;

    // The host's monotonic clock.
    static const ChipClock& steady();
};

// A moment a chip becomes ready (a reply prepared, a write cycle over), on a chip clock.
class ReadyAt {
  public:
    // Ready `delayUs` after now.
    void start(const ChipClock& clock, uint64_t delayUs) { at_ = clock.nowUs() + delayUs; }
    void clear() { at_ = 0; }
    bool ready(const ChipClock& clock) const { return clock.nowUs() >= at_; }
    // Microseconds still to go (0 when ready), for trace lines.
    uint64_t remainingUs(const ChipClock& clock) const {
        uint64_t now = clock.nowUs();
        return now >= at_ ? 0 : at_ - now;
    }

  private:
    uint64_t at_ = 0;
};

}  // namespace qrtsim
