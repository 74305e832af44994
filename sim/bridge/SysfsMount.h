#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/bridge/SysfsDirectory.h"

namespace qrtsim {

// A driver's attribute directory mounted in the rig's mount namespace as a filesystem in user
// space: the kernel hands every open, read, write and directory listing of the mount to this
// object (through /dev/fuse), which answers from the driver's SysfsDirectory with sysfs's
// rules. The kernel checks no permissions itself (no "default_permissions"): an open is allowed
// by the attribute's mode alone, so root cannot read a write-only attribute, as on sysfs. Files
// are opened for direct I/O: each write() of a program is one store, with its own result, and
// each read() one show.
//
// The mount lives as long as the namespace; the object answers requests on the rig's serving
// thread whenever its descriptor is readable (serve()), and nothing on that thread may touch
// the mount itself. When the object goes, the kernel fails whatever the mount is still asked.
class SysfsMount {
  public:
    explicit SysfsMount(SysfsDirectory& directory);
    ~SysfsMount();
    SysfsMount(const SysfsMount&) = delete;
    SysfsMount& operator=(const SysfsMount&) = delete;

    // Mounts the directory at `path` (an existing directory). False with `error`.
    bool mount(const std::string& path, std::string& error);
    // The descriptor that is readable while the kernel has requests waiting.
    int descriptor() const { return fd_; }
    // Answers every request that is waiting.
    void serve();

  private:
    struct Open {
        uint64_t node;
        bool read;
        bool write;
    };

    void handle(const std::vector<uint8_t>& request);
    void reply(uint64_t unique, int error, const void* payload = nullptr, size_t size = 0);
    bool fillAttributes(uint64_t node, void* attributes) const;
    const std::string* nameOf(uint64_t node) const;

    SysfsDirectory& directory_;
    std::vector<std::string> names_;  // node id of names_[i] is i + 2 (1 is the directory)
    std::map<uint64_t, Open> open_;   // by file handle
    uint64_t nextHandle_ = 1;
    int64_t mountTime_ = 0;
    int fd_ = -1;
};

}  // namespace qrtsim
