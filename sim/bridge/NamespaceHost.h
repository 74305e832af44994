#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/bridge/HostSystem.h"
#include "sim/bridge/SysfsMount.h"

namespace qrtsim {

class BridgeServer;
class Sandbox;

// The host a system board of the rig gets in qrt-sim's private namespaces:
//   - "/sys/class" becomes an empty tmpfs the first time a directory below it is asked for
//     (the rig's class directories replace the host's there); a driver's attribute directory
//     is a filesystem in user space on it, served with sysfs's rules (SysfsMount);
//   - "/etc" gets an overlay the first time a directory below it is asked for: the host's
//     files show through, what the rig writes stays in the namespace;
//   - uevents go to the uevent multicast group of the private network namespace, where only
//     the rig's programs listen; the preloaded bridge shows them to programs as the kernel's;
//   - watched descriptors are served by the rig's bridge server.
// Without the private namespace a request fails instead of touching the host.
class NamespaceHost : public HostSystem {
  public:
    NamespaceHost(const Sandbox& sandbox, BridgeServer& server);
    ~NamespaceHost() override;
    NamespaceHost(const NamespaceHost&) = delete;
    NamespaceHost& operator=(const NamespaceHost&) = delete;

    std::string directory(const std::string& systemPath, std::string& error) override;
    bool serveAttributes(const std::string& systemPath, SysfsDirectory& attributes,
                         std::string& error) override;
    bool sendUevent(const std::string& datagram, std::string& error) override;
    void watch(int fd, std::function<void()> onReadable) override;
    // The port id the rig's uevents come from (the bridge shows programs the kernel's, 0, for
    // it); 0 when the rig sends none.
    uint32_t ueventPort();

  private:
    bool openUeventSocket(std::string& error);
    bool mountTmpfs(const std::string& root, std::string& error);
    bool mountOverlay(const std::string& root, std::string& error);

    const Sandbox& sandbox_;
    BridgeServer& server_;
    std::set<std::string> mounted_;
    std::vector<std::unique_ptr<SysfsMount>> attributeMounts_;
    int ueventSocket_ = -1;
    uint32_t ueventPort_ = 0;
};

}  // namespace qrtsim
