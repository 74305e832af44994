#include "tools/qrt-sim/Runner.h"

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "sim/bridge/BridgeProtocol.h"
#include "sim/bridge/BridgeServer.h"
#include "sim/bridge/ControlClient.h"
#include "sim/bridge/NamespaceHost.h"
#include "sim/bridge/Sandbox.h"
#include "sim/chips/Violations.h"
#include "sim/rig/JsonText.h"
#include "sim/rig/PcapWriter.h"
#include "sim/rig/Rig.h"
#include "sim/rig/RigFile.h"
#include "sim/rig/SharedPauseLedger.h"
#include "sim/rig/TraceLog.h"

#ifndef QRT_SIM_LIBDIR
#define QRT_SIM_LIBDIR "lib"
#endif

namespace qrtsim {

namespace {

constexpr const char kBridgeLibrary[] = "libqrt_simbridge.so";

volatile sig_atomic_t commandPid = 0;

void note(const std::string& message) {
    std::fprintf(stderr, "qrt-sim: %s\n", message.c_str());
}

// Signals sent to qrt-sim go on to the command; those the terminal sends reach the command by
// itself (same process group), so they are not sent twice.
void forwardSignal(int signal, siginfo_t* info, void*) {
    if (commandPid > 0 && info != nullptr && info->si_code <= 0) ::kill(commandPid, signal);
}

void installSignalForwarding() {
    struct sigaction action {};
    action.sa_sigaction = forwardSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

std::string executableDirectory() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string text(path);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

// The preload library: QRT_SIM_BRIDGE_LIBRARY, else beside qrt-sim's library directory, in the
// build tree or installed.
std::string findBridgeLibrary() {
    if (const char* forced = std::getenv("QRT_SIM_BRIDGE_LIBRARY")) return forced;
    std::string bin = executableDirectory();
    for (const std::string& dir : {bin + "/../lib", bin + "/../" QRT_SIM_LIBDIR, bin}) {
        std::string candidate = dir + "/" + kBridgeLibrary;
        if (::access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return "";
}

std::string appendList(const char* current, const std::string& item, const char* separator) {
    if (current == nullptr || *current == '\0') return item;
    return std::string(current) + separator + item;
}

// Child side: the rig's environment, then the command.
[[noreturn]] void execCommand(const RunOptions& options, const std::string& socket,
                              const std::string& bridge, const Sandbox& sandbox,
                              const std::string& pauseLedger) {
    ::setenv(bridge::kSocketVariable, socket.c_str(), 1);
    // Without a ledger of our own, a ledger of an enclosing rig must not be used either.
    if (pauseLedger.empty())
        ::unsetenv(pauses::kLedgerVariable);
    else
        ::setenv(pauses::kLedgerVariable, pauseLedger.c_str(), 1);
    // The bridge goes first so that its open and ioctl are the ones the program binds.
    const char* preload = std::getenv("LD_PRELOAD");
    std::string preloads = bridge + (preload && *preload ? std::string(" ") + preload : "");
    ::setenv("LD_PRELOAD", preloads.c_str(), 1);
    // A program built with AddressSanitizer insists on its runtime coming first among the
    // loaded libraries; the bridge interposes nothing the runtime needs to see first.
    ::setenv("ASAN_OPTIONS",
             appendList(std::getenv("ASAN_OPTIONS"), "verify_asan_link_order=0", ":").c_str(), 1);
    ::setenv("QRT_SIM_NAMESPACES", sandbox.namespaces().c_str(), 1);
    // Programs reach the far end of a port's cable through its network namespace.
    for (const Sandbox::FarEnd& end : sandbox.farEnds())
        ::setenv(("QRT_SIM_FAR_END_" + end.interface).c_str(), end.netns.c_str(), 1);

    std::vector<char*> argv;
    for (const auto& argument : options.command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    int error = errno;
    std::fprintf(stderr, "qrt-sim: %s: %s\n", argv[0], std::strerror(error));
    ::_exit(error == ENOENT ? 127 : 126);
}

int exitStatusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// Serves the rig until the command has ended; returns its wait status. Between requests the
// pause records of ended processes are given back; the rig also looks when nothing else happens,
// for processes that pause without ever asking the rig for anything.
int serveUntilExit(BridgeServer& server, pid_t child, SharedPauseLedger& pauseLedger) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    const int idleMs = pauseLedger.ledger() != nullptr ? SharedPauseLedger::kIdleLookMs : -1;
    int status = 0;
    for (;;) {
        bool ended = server.serve(pidfd, pidfd >= 0 ? idleMs : 50);
        pauseLedger.retireEnded();
        if (ended || pidfd < 0) {
            pid_t done = ::waitpid(child, &status, pidfd >= 0 ? 0 : WNOHANG);
            if (done == child) break;
            if (done < 0 && errno != EINTR) break;
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    return status;
}

bool loadPlugins(const std::vector<std::string>& plugins) {
    for (const std::string& plugin : plugins) {
        if (::dlopen(plugin.c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) {
            note(std::string("cannot load ") + plugin + ": " + ::dlerror());
            return false;
        }
    }
    return true;
}

// The files a run writes: the trace, the frame capture and the state document.
struct RunOutputs {
    TraceLog trace;
    PcapWriter frames;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> state{nullptr, std::fclose};
};

bool openOutputs(const RunOptions& options, RunOutputs& outputs) {
    std::string error;
    if (!options.traceFile.empty() && !outputs.trace.open(options.traceFile, error)) {
        note("cannot write the trace: " + error);
        return false;
    }
    if (!options.pcapFile.empty() && !outputs.frames.open(options.pcapFile, error)) {
        note("cannot write the frame capture: " + error);
        return false;
    }
    if (!options.stateFile.empty()) {
        // Not inherited by COMMAND.
        outputs.state.reset(std::fopen(options.stateFile.c_str(), "we"));
        if (!outputs.state) {
            note("cannot write the state: " + options.stateFile + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

// The rig of the rig file (or the built-in one); null, with the reason told, when it is not
// one.
std::unique_ptr<Rig> buildRig(const RunOptions& options, RunOutputs& outputs) {
    try {
        RigDescription description =
            options.rigFile.empty() ? defaultRig() : loadRigFile(options.rigFile);
        description.seed = options.seed;
        Rig::Trace traceLine;
        TraceLog& trace = outputs.trace;
        if (trace.isOpen()) traceLine = [&trace](const std::string& line) { trace.line(line); };
        return std::make_unique<Rig>(description, traceLine, outputs.frames);
    } catch (const RigError& e) {
        note(e.what());
        return nullptr;
    }
}

// The namespaces and the ports' network interfaces; what the machine does not allow is told
// and left out.
void enterSandbox(Sandbox& sandbox, Rig& rig) {
    std::string error;
    sandbox.enter();
    for (const std::string& missing : sandbox.missing()) note("no " + missing);
    if (!sandbox.addInterfaces(rig.hostPorts(), error))
        note("no network interfaces for the rig's ports (" + error + ")");
    // Frames the boards send out of a camera port go onto its cable.
    rig.setPortEgress([&sandbox](const Rig::HostPort& port, const std::vector<uint8_t>& frame) {
        sandbox.sendFrame(port.interface, frame);
    });
}

// Runs the command in the rig until it has ended; its wait status, or -1 when it could not be
// started.
int runCommand(const RunOptions& options, BridgeServer& server, const std::string& bridge,
               const Sandbox& sandbox, SharedPauseLedger& pauseLedger) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        note(std::string("fork: ") + std::strerror(errno));
        return -1;
    }
    if (child == 0) execCommand(options, server.address(), bridge, sandbox, pauseLedger.path());
    commandPid = child;
    installSignalForwarding();
    int status = serveUntilExit(server, child, pauseLedger);
    commandPid = 0;
    return status;
}

void writeState(const RunOptions& options, nlohmann::json& document, RunOutputs& outputs,
                int status, SharedPauseLedger& pauseLedger) {
    document["frames"] = outputs.frames.frames();
    document["exit_status"] = exitStatusOf(status);
    if (options.skipPauses) pauseLedger.saveState(document["pauses"]);
    // Section names, the rig path and program names are bytes from outside.
    escapeInvalidUtf8(document);
    std::string text = document.dump(2) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), outputs.state.get()) != text.size() ||
        std::fflush(outputs.state.get()) != 0)
        note("cannot write the state: " + options.stateFile + ": " + std::strerror(errno));
}

void reportViolations(const nlohmann::json& document) {
    note("protocol violations: " + std::to_string(document.value("violations", uint64_t(0))));
    std::string details = Violations::describe(document);
    for (size_t at = 0; at < details.size();) {
        size_t end = details.find('\n', at);
        note("  " + details.substr(at, end - at));
        at = end + 1;
    }
}

// What the run leaves: the state document, the pause summary, the violation count.
void reportRun(const RunOptions& options, Rig& rig, RunOutputs& outputs, int status,
               SharedPauseLedger& pauseLedger) {
    nlohmann::json document;
    if (outputs.state || options.reportViolations) rig.saveState(document);
    if (outputs.state) writeState(options, document, outputs, status, pauseLedger);
    if (options.skipPauses) note(pauseLedger.summary());
    if (options.reportViolations) reportViolations(document);
}

}  // namespace

int runInRig(const RunOptions& options) {
    RunOutputs outputs;
    if (!loadPlugins(options.plugins) || !openOutputs(options, outputs)) return kSetupFailure;
    std::unique_ptr<Rig> rig = buildRig(options, outputs);
    if (!rig) return kSetupFailure;

    std::string bridge = findBridgeLibrary();
    if (bridge.empty()) {
        note(std::string("cannot find ") + kBridgeLibrary + " (set QRT_SIM_BRIDGE_LIBRARY)");
        return kSetupFailure;
    }

    Sandbox sandbox;
    enterSandbox(sandbox, *rig);
    BridgeServer server(*rig);
    NamespaceHost host(sandbox, server);
    std::vector<std::string> leftOut;
    rig->attachHost(host, leftOut);
    for (const std::string& part : leftOut) note("no " + part);
    // The rig's uevents stand for the kernel's: the bridge shows their sender as the kernel.
    if (uint32_t port = host.ueventPort())
        ::setenv(bridge::kUeventPortVariable, std::to_string(port).c_str(), 1);
    else
        ::unsetenv(bridge::kUeventPortVariable);

    std::string error;
    SharedPauseLedger pauseLedger;
    if (options.skipPauses && !pauseLedger.create(error)) {
        note("cannot skip pauses: " + error);
        return kSetupFailure;
    }
    rig->clock().followLedger(pauseLedger.ledger());
    if (!server.listen(error)) {
        note("cannot serve the rig: " + error);
        return kSetupFailure;
    }

    const int status = runCommand(options, server, bridge, sandbox, pauseLedger);
    if (status < 0) return kSetupFailure;
    // The command's processes are gone: their device files close (locks are dropped), and
    // what they left in the rig's files is taken in.
    server.closeConnections();
    server.serve(-1, 0);
    rig->settle();
    reportRun(options, *rig, outputs, status, pauseLedger);
    return exitStatusOf(status);
}

int sendControlLine(const std::string& line) {
    char reply[4096];
    int result = bridge::sendControl(line.c_str(), reply, sizeof reply);
    if (result != 0 && result != -EINVAL) {
        note(std::string("no rig to control: ") +
             (result == -ENOENT ? "QRT_SIM_SOCKET names none" : std::strerror(-result)));
        return kSetupFailure;
    }
    std::fprintf(result == 0 ? stdout : stderr, "%s%s\n", result == 0 ? "" : "qrt-sim: ", reply);
    return result == 0 ? 0 : 1;
}

}  // namespace qrtsim
