#pragma once

#include <sys/types.h>

#include <cstdint>

#include "sim/bridge/preload/PauseLedger.h"
#include "sim/chips/ChipClock.h"

namespace qrtsim {

// The rig's chip clock: the host's monotonic time plus, in a run with skipped pauses, the
// pauses the programs asked for and had skipped (what they requested minus what they slept,
// from the pause ledger): all of them on the rig's time line, the requesting process's alone on
// its own. A process that waited out a protocol pause finds the chip exactly as far on as if it
// had slept; one that did not wait finds it where it was.
//
// The rig serves one request at a time; before each one the bridge says whose it is.
class RigClock : public ChipClock {
  public:
    uint64_t nowUs() const override;
    long requester() const override { return requester_; }
    uint64_t requesterUs() const override;

    // The ledger of a run with skipped pauses (null: real time only).
    void followLedger(const pauses::PauseLedger* ledger) { ledger_ = ledger; }
    // The process whose request is being served (0: none known).
    void setRequester(pid_t pid) { requester_ = pid; }

  private:
    // Skipped pauses of process `pid`, or of every process for 0.
    uint64_t skippedUs(pid_t pid) const;

    const pauses::PauseLedger* ledger_ = nullptr;
    pid_t requester_ = 0;
};

}  // namespace qrtsim
