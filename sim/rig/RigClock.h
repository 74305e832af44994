#pragma once

#include <sys/types.h>

#include <cstdint>

#include "sim/bridge/preload/PauseLedger.h"
#include "sim/chips/ChipClock.h"

namespace qrtsim {

// The rig's chip clock: the host's monotonic time plus, in a run with skipped pauses, the
// pauses the programs asked for and had skipped (from the pause ledger): all of them on the rig's
// time line, the requesting process's alone on its own. A process that waited out a protocol pause
// finds the chip exactly as far on as if it had slept; one that did not wait finds it where it was.
//
// The rig serves one request at a time; before each one the bridge says whose it is. A process
// is known by its id and its start time together, so that a chip never takes a later process
// that got the same id for the one it made itself ready for.
class RigClock : public ChipClock {
  public:
    uint64_t nowUs() const override;
    long requester() const override { return requesterKey_; }
    uint64_t requesterUs() const override;

    // The ledger of a run with skipped pauses (null: real time only).
    void followLedger(const pauses::PauseLedger* ledger) { ledger_ = ledger; }
    // The process whose request is being served (0: none known) and when it started (in the
    // kernel's clock ticks since boot; 0 when unknown).
    void setRequester(pid_t pid, uint64_t startTicks = 0);

  private:
    // Skipped pauses of process `pid`, or of every process for 0.
    uint64_t skippedUs(pid_t pid) const;

    const pauses::PauseLedger* ledger_ = nullptr;
    pid_t requester_ = 0;
    long requesterKey_ = 0;
};

}  // namespace qrtsim
