#pragma once

#include <string>
#include <vector>

#include "sim/rig/Rig.h"

namespace qrtsim {

// The kernel objects a rig gets for real, in private namespaces of the calling process (and
// so of every program it starts afterwards), leaving the host untouched:
//   - a mount namespace whose mounts do not propagate back, where the rig's sysfs class files
//     and system file can later be placed;
//   - a network namespace with one veth pair per rig port that has a MAC in the rig file: the
//     rig's end carries the port's MAC and IPv4 address, the peer ("<name>x") none; loopback
//     is brought up.
// Without the privilege to create them, the rig runs with the device-node bridge alone and
// `missing()` says what is not provided.
class Sandbox {
  public:
    // Enters the namespaces. Never fails: what could not be created is listed in missing().
    void enter();
    bool privateMounts() const { return mounts_; }
    bool privateNetwork() const { return network_; }

    // Creates the rig's host interfaces in the private network namespace (nothing without
    // one). False with `error` set when a command fails.
    bool addInterfaces(const std::vector<Rig::HostPort>& ports, std::string& error);

    // What the rig lacks, for a note on standard error; empty when nothing.
    const std::vector<std::string>& missing() const { return missing_; }
    // For programs of the rig (QRT_SIM_NAMESPACES): "mount,net", "mount", "net" or "".
    std::string namespaces() const;

  private:
    bool mounts_ = false;
    bool network_ = false;
    std::vector<std::string> missing_;
};

// Runs a program (searched like execvp, plus /usr/sbin and /sbin) with `arguments` and `input`
// on its standard input, and waits for it; false with `error` holding its status or failure.
bool runProgram(const std::vector<std::string>& arguments, std::string& error,
                const std::string& input = "");

}  // namespace qrtsim
