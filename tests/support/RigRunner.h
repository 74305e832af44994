#pragma once

// Runs shell command lines under `qrt-sim` with a rig file, for end-to-end tests (or under the
// program that QRT_E2E_SIM names, which takes the same options and writes the same files, such
// as the kernel machine's tests/e2e_embedded/kernel-rig.sh): the probe
// programs print one JSON document per line; the run collects them with the exit status,
// standard error, the trace and the rig's state document. Test programs define QRT_SIM_PATH.
//
// Every run ends by checking that the rig's chip models counted no protocol violation (the
// state document's "violations" total); a test that provokes violations on purpose says so
// with RigRunner::kProvokesViolations and checks the counts it expects itself.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qrttest {

struct RigRun {
    int status = -1;
    std::vector<nlohmann::json> outputs;  // one JSON document per line of standard output
    std::string output;                   // standard output as it came
    std::string errors;
    std::string trace;
    nlohmann::json state;

    // The state document of the board of a rig section, or null.
    const nlohmann::json& board(const std::string& section) const {
        static const nlohmann::json none;
        if (!state.contains("boards")) return none;
        for (const nlohmann::json& b : state["boards"])
            if (b.value("section", "") == section) return b;
        return none;
    }
};

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A scratch directory and the qrt-sim runs made in it.
class RigRunner {
  public:
    // `programs`: environment variables naming the probe programs for the command lines.
    explicit RigRunner(std::map<std::string, std::string> programs)
        : programs_(std::move(programs)) {
        char pattern[] = "/tmp/qrt-e2e-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir_ = made != nullptr ? made : "";
    }
    ~RigRunner() {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    RigRunner(const RigRunner&) = delete;
    RigRunner& operator=(const RigRunner&) = delete;

    bool usable() const { return !dir_.empty(); }
    // The scratch directory, for further output files of a run.
    const std::string& dir() const { return dir_; }
    // Later runs sleep every pause: for several single-threaded processes on the same chips,
    // whose skipped pauses would put each on a time line of its own.
    void keepRealTime() { skipPauses_ = false; }

    enum Violations { kNoViolations, kProvokesViolations };

    // Runs `command` (a shell command line) under qrt-sim with the rig text, or with the
    // built-in rig when `rig` is empty; `options` are further qrt-sim options.
    RigRun run(const std::string& rig, const std::string& command,
               Violations violations = kNoViolations, const std::string& options = "") const {
        std::string rigFile = dir_ + "/test.rig", state = dir_ + "/state.json";
        std::string out = dir_ + "/out", err = dir_ + "/err", trace = dir_ + "/trace";
        std::ofstream(rigFile) << rig;
        std::remove(state.c_str());
        std::string line;
        for (const auto& [name, path] : programs_) line += name + "='" + path + "' ";
        // The probes are single-threaded: their pauses are counted, not slept.
        line += "'" + simulator() + "' " + (skipPauses_ ? "--skip-pauses " : "") + options + " ";
        if (!rig.empty()) line += "--rig '" + rigFile + "' ";
        line += "--state '" + state + "' --trace '" + trace + "' -- /bin/sh -c '" + command +
                "' >'" + out + "' 2>'" + err + "'";
        RigRun result;
        int raw = std::system(line.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.errors = readWholeFile(err);
        result.trace = readWholeFile(trace);
        result.output = readWholeFile(out);
        std::istringstream lines(result.output);
        for (std::string text; std::getline(lines, text);)
            if (!text.empty())
                result.outputs.push_back(nlohmann::json::parse(text, nullptr, false));
        std::string stateText = readWholeFile(state);
        if (!stateText.empty()) result.state = nlohmann::json::parse(stateText, nullptr, false);
        if (violations == kNoViolations && result.state.is_object()) {
            EXPECT_EQ(result.state.value("violations", -1), 0)
                << "the rig's chips counted protocol violations:\n"
                << violationLines(result.trace) << "in: " << command;
        }
        return result;
    }

  private:
    // qrt-sim, or the program that QRT_E2E_SIM names to stand in for it (with its options).
    static std::string simulator() {
        const char* standIn = std::getenv("QRT_E2E_SIM");
        return standIn != nullptr && *standIn != '\0' ? standIn : QRT_SIM_PATH;
    }

    // The trace lines in which a chip model reported a violation.
    static std::string violationLines(const std::string& trace) {
        std::istringstream lines(trace);
        std::string found;
        for (std::string line; std::getline(lines, line);)
            if (line.find(" violation ") != std::string::npos) found += line + "\n";
        return found;
    }

    std::map<std::string, std::string> programs_;
    std::string dir_;
    bool skipPauses_ = true;
};

}  // namespace qrttest
