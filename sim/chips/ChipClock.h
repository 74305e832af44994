#pragma once

#include <cstdint>

namespace qrtsim {

// The time line on which a chip model measures how long the other side waited: a reply that
// the chip needs 20 ms to prepare is ready only 20 ms after its command on this clock.
//
// In the rig the clock is real time plus the pauses that programs asked for and had skipped
// (`qrt-sim --skip-pauses`), so a program that waited as the protocol says finds the chip ready
// whether it slept or not, and one that did not wait finds it not ready. It has two readings:
// the rig's time line (every process's skipped pauses count, as they would all have been slept
// one after the other) and the time line of the process whose request is being served (its own
// pauses only). A chip that made itself ready for a process measures that process on its own
// time line, so another process's pauses never excuse it; any other process is measured on the
// rig's. A model used on its own runs on steady(); tests drive models on clocks of their own.
class ChipClock {
  public:
    virtual ~ChipClock() = default;
    // Microseconds on the rig's time line, since an arbitrary origin; never decreases.
    virtual uint64_t nowUs() const = 0;
    // The process whose request is being served (0: none in particular) and its own time line.
    virtual long requester() const { return 0; }
    virtual uint64_t requesterUs() const { return nowUs(); }

    // The host's monotonic clock.
    static const ChipClock& steady();
};

// A moment a chip becomes ready (a reply prepared, a write cycle over), on a chip clock.
class ReadyAt {
  public:
    // Ready `delayUs` after now.
    void start(const ChipClock& clock, uint64_t delayUs) {
        owner_ = clock.requester();
        ownAt_ = clock.requesterUs() + delayUs;
        at_ = clock.nowUs() + delayUs;
    }
    void clear() { owner_ = 0, ownAt_ = 0, at_ = 0; }
    bool ready(const ChipClock& clock) const { return remainingUs(clock) == 0; }
    // Microseconds still to go (0 when ready).
    uint64_t remainingUs(const ChipClock& clock) const {
        bool own = owner_ != 0 && clock.requester() == owner_;
        uint64_t now = own ? clock.requesterUs() : clock.nowUs();
        uint64_t at = own ? ownAt_ : at_;
        return now >= at ? 0 : at - now;
    }

  private:
    long owner_ = 0;
    uint64_t ownAt_ = 0;
    uint64_t at_ = 0;
};

}  // namespace qrtsim
