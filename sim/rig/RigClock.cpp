#include "sim/rig/RigClock.h"

namespace qrtsim {

namespace {

uint64_t skippedOf(const pauses::ProcessPauses& record) {
    return __atomic_load_n(&record.skippedUs, __ATOMIC_RELAXED);
}

}  // namespace

uint64_t RigClock::nowUs() const {
    return ChipClock::steady().nowUs() + skippedUs(0);
}

void RigClock::setRequester(pid_t pid, uint64_t startTicks) {
    requester_ = pid;
    // Process ids stay below 2^22 (the kernel's limit).
    requesterKey_ = pid > 0 ? static_cast<long>(startTicks << 22 | static_cast<uint64_t>(pid)) : 0;
}

uint64_t RigClock::requesterUs() const {
    return requester_ > 0 ? ChipClock::steady().nowUs() + skippedUs(requester_) : nowUs();
}

// The records of a process's images (an exec'ed program counts in a record of its own under the
// same process id). The programs update the records with atomic additions while the rig reads
// them. The records of ended processes, given back, and the overflow record (whose processes
// sleep their pauses) count on the rig's time line only.
uint64_t RigClock::skippedUs(pid_t pid) const {
    if (ledger_ == nullptr) return 0;
    uint32_t used = __atomic_load_n(&ledger_->used, __ATOMIC_ACQUIRE);
    if (used > ledger_->records) used = ledger_->records;
    uint64_t skipped = pid == 0 ? skippedOf(ledger_->overflow) + skippedOf(ledger_->retired) : 0;
    for (uint32_t i = 0; i < used; ++i) {
        const pauses::ProcessPauses& record = ledger_->process[i];
        if (pid == 0 || __atomic_load_n(&record.pid, __ATOMIC_ACQUIRE) == pid)
            skipped += skippedOf(record);
    }
    return skipped;
}

}  // namespace qrtsim
