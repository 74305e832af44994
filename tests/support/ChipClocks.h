#pragma once

// Clocks for tests that drive the rig's chip models directly.

#include <cstdint>

#include "sim/chips/ChipClock.h"
#include "support/PauseLog.h"

namespace qrttest {

// Time that passes only when the test says so.
struct ManualClock : qrtsim::ChipClock {
    uint64_t now = 1000000;
    uint64_t nowUs() const override { return now; }
    void advanceMs(uint64_t ms) { now += ms * 1000; }
};

// The time line of a program whose pauses support/PauseRecorder.h answers at once: the pauses
// it has asked for, as if it had slept them.
struct RecordedPauseClock : qrtsim::ChipClock {
    uint64_t nowUs() const override { return PauseRecorder::elapsed(); }
};

}  // namespace qrttest
