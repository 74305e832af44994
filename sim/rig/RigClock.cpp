#include "sim/rig/RigClock.h"

namespace qrtsim {

uint64_t RigClock::nowUs() const {
    return ChipClock::steady().nowUs() + skippedUs();
}

// Every record of the requester's process images (an exec'ed program counts in a record of
// its own under the same process id). The programs update the records with atomic additions
// while the rig reads them. Processes beyond the ledger's records count together in its
// overflow record and get real time only.
uint64_t RigClock::skippedUs() const {
    if (ledger_ == nullptr || requester_ <= 0) return 0;
    uint32_t claimed = __atomic_load_n(&ledger_->claimed, __ATOMIC_ACQUIRE);
    if (claimed > ledger_->records) claimed = ledger_->records;
    uint64_t skipped = 0;
    for (uint32_t i = 0; i < claimed; ++i) {
        const pauses::ProcessPauses& record = ledger_->process[i];
        if (__atomic_load_n(&record.pid, __ATOMIC_ACQUIRE) != requester_) continue;
        uint64_t requested = __atomic_load_n(&record.requestedUs, __ATOMIC_RELAXED);
        uint64_t slept = __atomic_load_n(&record.sleptUs, __ATOMIC_RELAXED);
        skipped += requested > slept ? requested - slept : 0;
    }
    return skipped;
}

}  // namespace qrtsim
