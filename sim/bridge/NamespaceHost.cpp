#include "sim/bridge/NamespaceHost.h"

#include <linux/netlink.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sim/bridge/BridgeServer.h"
#include "sim/bridge/Sandbox.h"

namespace qrtsim {

namespace {

// The kernel's uevent multicast group.
constexpr uint32_t kUeventGroup = 1;

// The system directories a board may have, and how the namespace provides each.
struct MountRoot {
    const char* path;
    bool overlay;  // the host's files show through; otherwise an empty tmpfs
};
constexpr MountRoot kMountRoots[] = {
    {"/sys/class", false},
    {"/etc", true},
};

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

NamespaceHost::NamespaceHost(const Sandbox& sandbox, BridgeServer& server)
    : sandbox_(sandbox), server_(server) {}

NamespaceHost::~NamespaceHost() {
    if (ueventSocket_ >= 0) ::close(ueventSocket_);
}

std::string NamespaceHost::directory(const std::string& systemPath, std::string& error) {
    const MountRoot* root = nullptr;
    for (const MountRoot& candidate : kMountRoots) {
        std::string prefix = std::string(candidate.path) + "/";
        if (systemPath.compare(0, prefix.size(), prefix) == 0) root = &candidate;
    }
    if (root == nullptr) {
        error = systemPath + " is not below /sys/class or /etc";
        return "";
    }
    if (!sandbox_.privateMounts()) {
        error = "no private mount namespace";
        return "";
    }
    if (!mounted_.count(root->path)) {
        bool ok = root->overlay ? mountOverlay(root->path, error) : mountTmpfs(root->path, error);
        if (!ok) return "";
        mounted_.insert(root->path);
    }
    std::error_code made;
    std::filesystem::create_directories(systemPath, made);
    if (made) {
        error = systemPath + ": " + made.message();
        return "";
    }
    return systemPath;
}

bool NamespaceHost::mountTmpfs(const std::string& root, std::string& error) {
    if (::mount("qrt-sim", root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755") ==
        0)
        return true;
    error = failure("tmpfs on " + root);
    return false;
}

// The overlay's upper and work directories live on a tmpfs of their own, mounted at a fresh
// directory under /tmp only long enough to mount the overlay: the overlay keeps its own hold
// on them, and the empty directory goes again.
bool NamespaceHost::mountOverlay(const std::string& root, std::string& error) {
    char staging[] = "/tmp/qrt-sim-overlay-XXXXXX";
    if (::mkdtemp(staging) == nullptr) {
        error = failure("staging directory for " + root);
        return false;
    }
    std::string base = staging;
    std::string upper = base + "/upper", work = base + "/work";
    std::string options = "lowerdir=" + root + ",upperdir=" + upper + ",workdir=" + work;
    bool ok = ::mount("qrt-sim", staging, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") == 0;
    if (!ok) error = failure("tmpfs for the overlay of " + root);
    if (ok && (::mkdir(upper.c_str(), 0755) != 0 || ::mkdir(work.c_str(), 0755) != 0)) {
        error = failure("overlay directories");
        ok = false;
    }
    if (ok && ::mount("qrt-sim", root.c_str(), "overlay", 0, options.c_str()) != 0) {
        error = failure("overlay on " + root);
        ok = false;
    }
    ::umount2(staging, MNT_DETACH);
    ::rmdir(staging);
    return ok;
}

bool NamespaceHost::serveAttributes(const std::string& systemPath, SysfsDirectory& attributes,
                                    std::string& error) {
    if (systemPath.compare(0, 11, "/sys/class/") != 0) {
        error = systemPath + " is not below /sys/class";
        return false;
    }
    if (directory(systemPath, error).empty()) return false;
    auto mount = std::make_unique<SysfsMount>(attributes);
    if (!mount->mount(systemPath, error)) return false;
    SysfsMount* served = mount.get();
    attributeMounts_.push_back(std::move(mount));
    server_.watch(served->descriptor(), [served] { served->serve(); });
    return true;
}

// The socket is bound before the programs start, so that they can be told its port id.
bool NamespaceHost::openUeventSocket(std::string& error) {
    if (ueventSocket_ >= 0) return true;
    if (!sandbox_.privateNetwork()) {
        error = "no private network namespace (the uevent would reach the host's listeners)";
        return false;
    }
    ueventSocket_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl own{};
    own.nl_family = AF_NETLINK;
    socklen_t length = sizeof own;
    if (ueventSocket_ < 0 ||
        ::bind(ueventSocket_, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0 ||
        ::getsockname(ueventSocket_, reinterpret_cast<sockaddr*>(&own), &length) != 0) {
        error = failure("uevent socket");
        if (ueventSocket_ >= 0) ::close(ueventSocket_);
        ueventSocket_ = -1;
        return false;
    }
    ueventPort_ = own.nl_pid;
    return true;
}

uint32_t NamespaceHost::ueventPort() {
    std::string error;
    return openUeventSocket(error) ? ueventPort_ : 0;
}

bool NamespaceHost::sendUevent(const std::string& datagram, std::string& error) {
    if (!openUeventSocket(error)) return false;
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = kUeventGroup;
    if (::sendto(ueventSocket_, datagram.data(), datagram.size(), 0,
                 reinterpret_cast<sockaddr*>(&group),
                 sizeof group) != static_cast<ssize_t>(datagram.size())) {
        error = failure("uevent send");
        return false;
    }
    return true;
}

void NamespaceHost::watch(int fd, std::function<void()> onReadable) {
    server_.watch(fd, std::move(onReadable));
}

}  // namespace qrtsim
