#pragma once

// Command lines for the generic probe (tests/support/qrt_call_probe.cpp, "$CALL" in a rig
// fixture's command lines) and lookups in its answers.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/RigRunner.h"

namespace qrttest {

// "$CALL call + call + ...": one process, so one detection, makes the calls in order.
inline std::string callLine(const std::vector<std::string>& calls) {
    std::string line = "$CALL";
    for (size_t i = 0; i < calls.size(); ++i) line += (i == 0 ? " " : " + ") + calls[i];
    return line;
}

// The answer to the `nth` call of `function` on product `index` (any product: -1) in a run's
// output; null when there is none.
inline const nlohmann::json& answerOf(const RigRun& run, const std::string& function,
                                      int index = -1, int nth = 0) {
    static const nlohmann::json none;
    for (const nlohmann::json& out : run.outputs) {
        if (!out.is_object() || out.value("call", "") != function) continue;
        if (index >= 0 && out.value("index", -1) != index) continue;
        if (nth-- == 0) return out;
    }
    return none;
}

// {status, an argument's value after the call (a single entry as itself)}: a reading's
// answer in one line.
inline nlohmann::json reading(const nlohmann::json& answer, size_t argument = 0) {
    if (!answer.is_object() || !answer.contains("args")) return nullptr;
    const nlohmann::json& args = answer["args"];
    if (argument >= args.size()) return {answer["status"], nullptr};
    const nlohmann::json& value = args[argument];
    return {answer["status"], value.is_array() && value.size() == 1 ? value[0] : value};
}

}  // namespace qrttest
