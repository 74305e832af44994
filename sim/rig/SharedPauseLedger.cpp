#include "sim/rig/SharedPauseLedger.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qrtsim {

namespace {

// Records are read after the programs have ended, so plain loads see their final counts.
struct Totals {
    uint64_t count = 0;
    uint64_t requestedUs = 0;
    uint64_t sleptUs = 0;
    void add(const pauses::ProcessPauses& record) {
        count += record.count;
        requestedUs += record.requestedUs;
        sleptUs += record.sleptUs;
    }
};

std::string seconds(uint64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(microseconds) / 1e6);
    return text;
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

void SharedPauseLedger::saveState(nlohmann::json& out) const {
    if (ledger_ == nullptr) return;
    Totals totals;
    nlohmann::json processes = nlohmann::json::array();
    uint32_t listed = std::min(ledger_->claimed, ledger_->records);
    for (uint32_t i = 0; i < listed; ++i) {
        const pauses::ProcessPauses& record = ledger_->process[i];
        if (record.pid == 0) continue;  // a claim another thread of the process won
        totals.add(record);
        char program[pauses::kProgramNameBytes + 1] = {};
        std::memcpy(program, record.program, sizeof record.program);
        processes.push_back({{"pid", record.pid},
                             {"program", program},
                             {"count", record.count},
                             {"requested_us", record.requestedUs},
                             {"slept_us", record.sleptUs}});
    }
    totals.add(ledger_->overflow);
    out["count"] = totals.count;
    out["requested_us"] = totals.requestedUs;
    out["slept_us"] = totals.sleptUs;
    out["processes"] = processes;
    if (ledger_->claimed > ledger_->records)
        out["unlisted_processes"] = ledger_->claimed - ledger_->records;
}

std::string SharedPauseLedger::summary() const {
    nlohmann::json state;
    saveState(state);
    if (state.empty()) return "pauses: no ledger";
    size_t processes = state["processes"].size() + state.value("unlisted_processes", uint64_t(0));
    std::string line = "pauses skipped: " + std::to_string(state["count"].get<uint64_t>()) +
                       " requested by " + std::to_string(processes) +
                       (processes == 1 ? " process, " : " processes, ") +
                       seconds(state["requested_us"].get<uint64_t>()) + " in all";
    uint64_t slept = state["slept_us"].get<uint64_t>();
    if (slept > 0) line += "; " + seconds(slept) + " slept by processes with a second thread";
    return line;
}

}  // namespace qrtsim
