#include "sim/rig/SharedPauseLedger.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qrtsim {

namespace {

// Records are read on the rig's thread while programs may still add to them.
uint64_t loaded(const uint64_t& value) {
    return __atomic_load_n(&value, __ATOMIC_RELAXED);
}

struct Totals {
    uint64_t count = 0;
    uint64_t requestedUs = 0;
    uint64_t skippedUs = 0;
    uint64_t pathUs = 0;
    void add(const pauses::ProcessPauses& record) {
        count += loaded(record.count);
        requestedUs += loaded(record.requestedUs);
        skippedUs += loaded(record.skippedUs);
        pathUs += loaded(record.pathUs);
    }
};

std::string seconds(uint64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(microseconds) / 1e6);
    return text;
}

nlohmann::json processJson(const pauses::ProcessPauses& record) {
    char program[pauses::kProgramNameBytes + 1] = {};
    std::memcpy(program, record.program, sizeof record.program);
    return {{"pid", record.pid},
            {"program", program},
            {"count", loaded(record.count)},
            {"requested_us", loaded(record.requestedUs)},
            {"slept_us", loaded(record.requestedUs) - loaded(record.skippedUs)},
            {"path_us", loaded(record.pathUs)}};
}

bool processEnded(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

SharedPauseLedger::~SharedPauseLedger() {
    if (ledger_ != nullptr) ::munmap(ledger_, sizeof(pauses::PauseLedger));
    if (fd_ >= 0) ::close(fd_);
}

bool SharedPauseLedger::create(std::string& error) {
    fd_ = ::memfd_create("qrt-sim-pauses", MFD_CLOEXEC);
    if (fd_ < 0 || ::ftruncate(fd_, sizeof(pauses::PauseLedger)) != 0) {
        error = std::string("pause ledger: ") + std::strerror(errno);
        return false;
    }
    void* memory =
        ::mmap(nullptr, sizeof(pauses::PauseLedger), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (memory == MAP_FAILED) {
        error = std::string("pause ledger: ") + std::strerror(errno);
        return false;
    }
    ledger_ = static_cast<pauses::PauseLedger*>(memory);
    ledger_->records = pauses::kProcessRecords;
    ledger_->magic = pauses::kLedgerMagic;
    // Programs open their own descriptor through this process's table, so the ledger reaches
    // them even when they close what they inherit, and nothing is left behind on disk.
    path_ = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd_);
    return true;
}

void SharedPauseLedger::retireEnded(bool now) {
    if (ledger_ == nullptr) return;
    // A look costs a signal probe per record in use (new processes take the lowest free
    // records, so few are), and is due once kClaimsPerLook records were claimed since the
    // last. qrt-sim looks at least every kIdleLookMs, and no machine starts hundreds of
    // processes in that time: the records do not run out.
    const uint64_t claims = __atomic_load_n(&ledger_->claims, __ATOMIC_ACQUIRE);
    if (!now && claims - claimsAtLastLook_ < kClaimsPerLook) return;
    claimsAtLastLook_ = claims;
    const uint32_t used =
        std::min(__atomic_load_n(&ledger_->used, __ATOMIC_ACQUIRE), ledger_->records);
    for (uint32_t i = 0; i < used; ++i) {
        pauses::ProcessPauses& record = ledger_->process[i];
        const int32_t pid = __atomic_load_n(&record.pid, __ATOMIC_ACQUIRE);
        if (pid == 0 || !processEnded(pid)) continue;
        // The process is gone: nothing writes to the record any more. Its pauses stay on the
        // rig's time line through the retired record.
        pauses::ProcessPauses& retired = ledger_->retired;
        __atomic_fetch_add(&retired.count, record.count, __ATOMIC_RELAXED);
        __atomic_fetch_add(&retired.requestedUs, record.requestedUs, __ATOMIC_RELAXED);
        __atomic_fetch_add(&retired.skippedUs, record.skippedUs, __ATOMIC_RELAXED);
        __atomic_fetch_add(&retired.pathUs, record.pathUs, __ATOMIC_RELAXED);
        keepEnded(record);
        pauses::ProcessPauses empty{};
        std::memcpy(reinterpret_cast<char*>(&record) + sizeof record.pid,
                    reinterpret_cast<const char*>(&empty) + sizeof empty.pid,
                    sizeof record - sizeof record.pid);
        __atomic_store_n(&record.pid, 0, __ATOMIC_RELEASE);
    }
}

// The first kListedProcesses ended processes in claim order stay listed; the others count.
void SharedPauseLedger::keepEnded(const pauses::ProcessPauses& record) {
    Listed listed{record.serial, record};
    auto at = std::upper_bound(
        ended_.begin(), ended_.end(), listed.serial,
        [](uint64_t serial, const Listed& other) { return serial < other.serial; });
    if (ended_.size() == kListedProcesses && at == ended_.end()) {
        ++unlistedEnded_;
        return;
    }
    ended_.insert(at, listed);
    if (ended_.size() > kListedProcesses) {
        ended_.pop_back();
        ++unlistedEnded_;
    }
}

void SharedPauseLedger::saveState(nlohmann::json& out) const {
    if (ledger_ == nullptr) return;
    Totals totals;
    totals.add(ledger_->retired);
    totals.add(ledger_->overflow);
    std::vector<Listed> processes = ended_;
    const uint32_t used = std::min(ledger_->used, ledger_->records);
    for (uint32_t i = 0; i < used; ++i) {
        const pauses::ProcessPauses& record = ledger_->process[i];
        if (__atomic_load_n(&record.pid, __ATOMIC_ACQUIRE) == 0) continue;
        totals.add(record);
        processes.push_back({loaded(record.serial), record});
    }
    std::sort(processes.begin(), processes.end(),
              [](const Listed& a, const Listed& b) { return a.serial < b.serial; });
    // The overflow record's serial counts the process images that found no record.
    uint64_t unlisted = unlistedEnded_ + loaded(ledger_->overflow.serial);
    if (processes.size() > kListedProcesses) {
        unlisted += processes.size() - kListedProcesses;
        processes.resize(kListedProcesses);
    }
    nlohmann::json listed = nlohmann::json::array();
    for (const Listed& process : processes) listed.push_back(processJson(process.record));
    out["count"] = totals.count;
    out["requested_us"] = totals.requestedUs;
    out["slept_us"] = totals.requestedUs - totals.skippedUs;
    out["path_us"] = totals.pathUs;
    out["processes"] = listed;
    if (unlisted > 0) out["unlisted_processes"] = unlisted;
}

std::string SharedPauseLedger::summary() const {
    nlohmann::json state;
    saveState(state);
    if (state.empty()) return "pauses: no ledger";
    size_t processes = state["processes"].size() + state.value("unlisted_processes", uint64_t(0));
    const uint64_t requested = state["requested_us"].get<uint64_t>();
    const uint64_t path = state["path_us"].get<uint64_t>();
    std::string line = "pauses skipped: " + std::to_string(state["count"].get<uint64_t>()) +
                       " requested by " + std::to_string(processes) +
                       (processes == 1 ? " process, " : " processes, ") + seconds(requested) +
                       " in all";
    // Threads that paused at once waited for their pauses together.
    if (path < requested) line += ", " + seconds(path) + " along the longest paths";
    uint64_t slept = state["slept_us"].get<uint64_t>();
    if (slept > 0) line += "; " + seconds(slept) + " slept by processes with a second thread";
    return line;
}

}  // namespace qrtsim
