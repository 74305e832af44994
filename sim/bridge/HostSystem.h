#pragma once

#include <functional>
#include <string>

#include "sim/bridge/SysfsDirectory.h"

namespace qrtsim {

// The pieces of Linux that a board gets when it is the computer the programs of the rig run
// on (the embedded vision system): real files in the rig's private mount namespace, kernel
// uevents in its private network namespace, and descriptors the rig's serving thread watches.
// Nothing of it reaches the host: without the namespaces the calls fail and say why.
class HostSystem {
  public:
    virtual ~HostSystem() = default;

    // The directory at which programs of the rig see the absolute system directory
    // `systemPath` (below "/sys/class" or "/etc"), created empty when missing. Empty with
    // `error` set when the rig cannot provide it.
    virtual std::string directory(const std::string& systemPath, std::string& error) = 0;
    // Serves `attributes` at the absolute system directory `systemPath` (below "/sys/class")
    // with sysfs's rules (SysfsDirectory), on the rig's serving thread. False with `error`
    // when the rig cannot provide it.
    virtual bool serveAttributes(const std::string& systemPath, SysfsDirectory& attributes,
                                 std::string& error) = 0;
    // Puts one datagram on the kernel uevent multicast group, as the kernel would.
    virtual bool sendUevent(const std::string& datagram, std::string& error) = 0;
    // Runs `onReadable` on the rig's serving thread whenever `fd` can be read.
    virtual void watch(int fd, std::function<void()> onReadable) = 0;
};

}  // namespace qrtsim
