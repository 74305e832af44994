#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/bridge/preload/PauseLedger.h"

namespace qrtsim {

// qrt-sim's side of the pause ledger (sim/bridge/preload/PauseLedger.h): a shared memory file
// in which the programs of a run with skipped pauses count the pauses they ask for. It lives as
// long as this object; programs reach it by the path in QRT_SIM_PAUSES.
//
// The records of processes that have ended are given back for new processes (retireEnded),
// their counts kept here for the state document and in the ledger's retired record for the
// rig's clock, so that a rig serves any number of processes over its life.
class SharedPauseLedger {
  public:
    SharedPauseLedger() = default;
    ~SharedPauseLedger();
    SharedPauseLedger(const SharedPauseLedger&) = delete;
    SharedPauseLedger& operator=(const SharedPauseLedger&) = delete;

    // Creates an empty ledger; false with `error` set when it cannot.
    bool create(std::string& error);
    // The value of QRT_SIM_PAUSES for the programs of the rig (a path under /proc).
    const std::string& path() const { return path_; }
    // The shared records themselves, for the rig's clock (null before create()).
    const pauses::PauseLedger* ledger() const { return ledger_; }

    // Gives back the records of processes that have ended, once enough new ones were claimed
    // since the last look for it to matter (or when `now` is set). Runs on the rig's thread,
    // between requests, so the rig's clock never sees a record half moved.
    void retireEnded(bool now = false);

    // {"count", "requested_us", "slept_us", "path_us", "processes": [{"pid", "program",
    // "count", "requested_us", "slept_us", "path_us"}]}: the first kListedProcesses processes
    // in the order of their first pause, and "unlisted_processes" for the others (and those
    // that found no record); the totals include every process.
    void saveState(nlohmann::json& out) const;
    // One line for standard error: how many pauses were asked for, by how many processes, their
    // total length, the part along the processes' longest paths when threads overlapped, and
    // what was slept for real.
    std::string summary() const;

    static constexpr size_t kListedProcesses = 512;
    static constexpr uint64_t kClaimsPerLook = 64;
    // The longest qrt-sim leaves between two looks for ended processes.
    static constexpr int kIdleLookMs = 100;

  private:
    struct Listed {
        uint64_t serial;
        pauses::ProcessPauses record;
    };
    void keepEnded(const pauses::ProcessPauses& record);

    // The records of processes that ended, in claim order, up to kListedProcesses of them.
    std::vector<Listed> ended_;
    uint64_t unlistedEnded_ = 0;
    uint64_t claimsAtLastLook_ = 0;

    int fd_ = -1;
    pauses::PauseLedger* ledger_ = nullptr;
    std::string path_;
};

}  // namespace qrtsim
