#include "sim/rig/RigClock.h"

namespace qrtsim {

namespace {

uint64_t skippedOf(const pauses::ProcessPauses& record) {
    uint64_t requested = __atomic_load_n(&record.requestedUs, __ATOMIC_RELAXED);
    uint64_t slept = __atomic_load_n(&record.sleptUs, __ATOMIC_RELAXED);
    return requested > slept ? requested - slept : 0;
}

}  // namespace

uint64_t RigClock::nowUs() const {
    return ChipClock::steady().nowUs() + skippedUs(0);
}

uint64_t RigClock::requesterUs() const {
    return requester_ > 0 ? ChipClock::steady().nowUs() + skippedUs(requester_) : nowUs();
}

// The records of a process's images (an exec'ed program counts in a record of its own under the
// same process id). The programs update the records with atomic additions while the rig reads
// them. Processes beyond the ledger's records share its overflow record, which counts on the
// rig's time line only.
uint64_t RigClock::skippedUs(pid_t pid) const {
    if (ledger_ == nullptr) return 0;
    uint32_t claimed = __atomic_load_n(&ledger_->claimed, __ATOMIC_ACQUIRE);
    if (claimed > ledger_->records) claimed = ledger_->records;
    uint64_t skipped = pid == 0 ? skippedOf(ledger_->overflow) : 0;
    for (uint32_t i = 0; i < claimed; ++i) {
        const pauses::ProcessPauses& record = ledger_->process[i];
        if (pid == 0 || __atomic_load_n(&record.pid, __ATOMIC_ACQUIRE) == pid)
            skipped += skippedOf(record);
    }
    return skipped;
}

}  // namespace qrtsim
