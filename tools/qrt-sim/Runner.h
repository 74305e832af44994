#pragma once

#include <string>
#include <vector>

namespace qrtsim {

// What one qrt-sim invocation asks for.
struct RunOptions {
    std::string rigFile;    // empty: the built-in default rig
    std::string stateFile;  // empty: none
    std::string traceFile;
    std::string pcapFile;
    std::vector<std::string> plugins;  // board libraries to load before the rig is built
    // Pauses (usleep) of single-threaded programs are counted and answered at once instead of
    // slept; the counts go to the state file and a summary line on standard error.
    bool skipPauses = false;
    // When the command has ended, print the rig's total of protocol violations (and which chip
    // counted what) on standard error.
    bool reportViolations = false;
    // Seeds the chips' latency draws (each busy state within its chip's range); the state
    // document reports it.
    unsigned long long seed = 1;
    std::vector<std::string> command;
};

// Exit status of qrt-sim's own failures before COMMAND runs (a bad rig file included).
constexpr int kSetupFailure = 2;

// Builds the rig, runs the command inside it and writes the requested files. Returns the
// command's exit status (128 + signal number when a signal ended it), or kSetupFailure.
int runInRig(const RunOptions& options);

// Sends one control line to the rig this process runs in (QRT_SIM_SOCKET) and prints the
// rig's answer: 0 when the rig carried it out, 1 when it refused, kSetupFailure when no rig
// can be reached.
int sendControlLine(const std::string& line);

}  // namespace qrtsim
