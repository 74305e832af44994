// qrt-sim: runs a program inside a virtual rig of the kit's products.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/qrt-sim/Runner.h"

int main(int argc, char** argv) {
    qrtsim::RunOptions options;
    CLI::App app{
        "Runs COMMAND inside a virtual rig: the kit's kernel driver, the boards' I2C adapters and\n"
        "network interfaces, as described by a rig file (without --rig: a built-in rig).\n"
        "Exits with COMMAND's status; 2 when the rig cannot be set up."};
    app.set_version_flag("--version", "qrt-sim 1.7.7");
    app.add_option("--rig", options.rigFile, "rig file describing the boards")
        ->check(CLI::ExistingFile);
    app.add_option("--state", options.stateFile,
                   "write the rig's hardware state as JSON when COMMAND has ended");
    app.add_option("--trace", options.traceFile,
                   "write one decoded line per driver request and I2C message");
    app.add_option("--pcap", options.pcapFile, "write the Ethernet frames the boards emit");
    app.add_flag("--skip-pauses", options.skipPauses,
                 "count the pauses (usleep) programs ask for instead of sleeping them; a "
                 "process keeps real time once it starts a second thread");
    app.add_flag("--violations", options.reportViolations,
                 "when COMMAND has ended, print the rig's total of protocol violations and the "
                 "chips that counted them");
    app.add_option("--seed", options.seed,
                   "seed of the chips' latencies, each drawn from its chip's range (default 1; "
                   "the state reports it)");
    app.add_option("--plugin", options.plugins, "load a library of further board models")
        ->check(CLI::ExistingFile);
    std::string control;
    app.add_option("--control", control,
                   "from a program running in a rig: send one control line, \"SECTION COMMAND "
                   "[ARGS]\", to that rig and print its answer (no COMMAND)");
    app.add_option("command", options.command, "COMMAND [ARGS...], after --");
    app.positionals_at_end();
    try {
        app.parse(argc, argv);
        if (control.empty() && options.command.empty())
            throw CLI::RequiredError("COMMAND (or --control)");
    } catch (const CLI::ParseError& e) {
        int status = app.exit(e);
        return status == 0 ? 0 : qrtsim::kSetupFailure;
    }
    if (!control.empty()) return qrtsim::sendControlLine(control);
    // Whatever the rig's input, qrt-sim ends with a message and a status, never an abort.
    try {
        return qrtsim::runInRig(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrt-sim: %s\n", e.what());
        return qrtsim::kSetupFailure;
    }
}
