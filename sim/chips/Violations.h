#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace qrtsim {

// The protocol violations a chip model has seen, counted by kind: everything the real chip
// would refuse, ignore or get wrong (an unknown command, a non-zero byte where zeros are due, a
// read before the reply is ready, a command while busy, bits that had to be preserved and were
// not). A model goes on as the chip would (it answers stale data, busy, no acknowledge, 0xFF);
// the count is what tells a test that the program on the other side of the wire is at fault.
//
// A model keeps one of these and shows it in its state object as
// `"violations": {"<kind>": count, ...}` (toJson()); the rig adds every such object up into the
// top-level `"violations"` total of its state document (total()). Not thread-safe: the model
// counts under its own lock.
class Violations {
  public:
    using Trace = std::function<void(const std::string&)>;

    // `chip` names the model in trace lines ("mcu", "cpld", "switch").
    explicit Violations(std::string chip = "chip") : chip_(std::move(chip)) {}

    // One trace line per violation, "<chip> violation <kind>: <detail>".
    void setTrace(Trace trace) { trace_ = std::move(trace); }

    // Counts one violation of `kind` (a short hyphenated name, "unknown-command"); `detail`
    // says what arrived, for the trace.
    void count(const std::string& kind, const std::string& detail = std::string());

    unsigned of(const std::string& kind) const;
    unsigned total() const;
    nlohmann::json toJson() const;

    // The sum of every "violations" object of {kind: count} anywhere in a state document; a
    // "violations" integer (an earlier total) is not counted again.
    static uint64_t total(const nlohmann::json& state);
    // "section/chip: kind=count, ..." for every non-empty "violations" object, one per line,
    // for qrt-sim's report on exit and for test failure messages.
    static std::string describe(const nlohmann::json& state);

  private:
    std::string chip_;
    std::map<std::string, unsigned> counts_;
    Trace trace_;
};

}  // namespace qrtsim
