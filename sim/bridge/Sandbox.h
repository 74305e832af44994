#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/rig/Rig.h"

namespace qrtsim {

// The kernel objects a rig gets for real, in private namespaces of the calling process (and
// so of every program it starts afterwards), leaving the host untouched:
//   - a mount namespace whose mounts do not propagate back, where the rig's sysfs class files
//     and system file can later be placed;
//   - a network namespace with one veth pair per rig port that has a MAC in the rig file: the
//     rig's end carries the port's MAC and IPv4 address; loopback is brought up;
//   - per port, the far end of its cable: a network namespace of its own holding the peer
//     ("<name>x"), where a camera would be, with an address in the port address's /24
//     network, so that the action commands the card sends reach programs there through the
//     kernel's own network stack.
// Without the privilege to create them, the rig runs with the device-node bridge alone and
// `missing()` says what is not provided.
class Sandbox {
  public:
    // The other end of a port's cable.
    struct FarEnd {
        std::string interface;  // the rig's end, "card1p0"
        std::string netns;      // the far end's network namespace, a path for setns/nsenter
        std::string address;    // the peer's IPv4 address; empty when the port has none
    };

    Sandbox() = default;
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Enters the namespaces. Never fails: what could not be created is listed in missing().
    void enter();
    bool privateMounts() const { return mounts_; }
    bool privateNetwork() const { return network_; }

    // Creates the rig's host interfaces in the private network namespace (nothing without
    // one). False with `error` set when a command fails.
    bool addInterfaces(const std::vector<Rig::HostPort>& ports, std::string& error);
    const std::vector<FarEnd>& farEnds() const { return farEnds_; }
    // Puts an Ethernet frame on the wire of a rig interface, as its network controller would;
    // false when it cannot be sent.
    bool sendFrame(const std::string& interface, const std::vector<uint8_t>& frame);

    // What the rig lacks, for a note on standard error; empty when nothing.
    const std::vector<std::string>& missing() const { return missing_; }
    // For programs of the rig (QRT_SIM_NAMESPACES): "mount,net", "mount", "net" or "".
    std::string namespaces() const;

  private:
    bool createFarEnd(FarEnd& end, std::string& error);
    bool configureFarEnd(const FarEnd& end, int netns, std::string& error);

    bool mounts_ = false;
    bool network_ = false;
    std::vector<std::string> missing_;
    int rigNetns_ = -1;
    std::vector<int> farNetns_;
    std::vector<FarEnd> farEnds_;
    std::map<std::string, int> packetSockets_;
};

// Runs a program (searched like execvp, plus /usr/sbin and /sbin) with `arguments` and `input`
// on its standard input, and waits for it; false with `error` holding its status or failure.
bool runProgram(const std::vector<std::string>& arguments, std::string& error,
                const std::string& input = "");

}  // namespace qrtsim
