#include "sim/chips/ChipClock.h"

#include <time.h>

namespace qrtsim {

namespace {

class SteadyClock : public ChipClock {
  public:
    uint64_t nowUs() const override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
    }
};

}  // namespace

const ChipClock& ChipClock::steady() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace qrtsim
