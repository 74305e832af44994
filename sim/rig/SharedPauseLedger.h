#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "sim/bridge/preload/PauseLedger.h"

namespace qrtsim {

// qrt-sim's side of the pause ledger (sim/bridge/preload/PauseLedger.h): a shared memory file
// in which the programs of a run with skipped pauses count the pauses they ask for. It lives as
// long as this object; programs reach it by the path in QRT_SIM_PAUSES.
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

    // {"count", "requested_us", "slept_us", "processes": [{"pid", "program", "count",
    // "requested_us", "slept_us"}]} and "unlisted_processes" when records ran out; the totals
    // include every process.
    void saveState(nlohmann::json& out) const;
    // One line for standard error: how many pauses were asked for, by how many processes, their
    // total length, and what was slept for real.
    std::string summary() const;

  private:
    int fd_ = -1;
    pauses::PauseLedger* ledger_ = nullptr;
    std::string path_;
};

}  // namespace qrtsim
