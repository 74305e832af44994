#include "sim/bridge/Sandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qrtsim {

namespace {

std::string macText(const std::array<uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    path += ":/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t colon = path.find(':', start);
        std::string dir =
            path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty()) {
            std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return "";
}

constexpr size_t kEthernetHeader = 14;
constexpr int kRunningPolls = 300;  // 3 s at most
constexpr useconds_t kRunningPollUs = 10000;

// The cable's far end gets the lowest host address of the port address's /24 network that is
// not the port's own: the action commands go to that network's broadcast address.
std::string farEndAddress(const std::string& portAddress) {
    in_addr parsed{};
    if (portAddress.empty() || ::inet_pton(AF_INET, portAddress.c_str(), &parsed) != 1) return "";
    uint32_t host = ntohl(parsed.s_addr);
    uint32_t far = (host & 0xFFFFFF00u) | ((host & 0xFFu) == 1 ? 2u : 1u);
    in_addr out{};
    out.s_addr = htonl(far);
    char text[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &out, text, sizeof text) != nullptr ? text : "";
}

// A link that has just come up gets its transmit queue only when the kernel's link watch has
// seen the carrier, which it may defer by up to a second; frames sent before are dropped.
void waitUntilRunning(int sock, const std::string& interface) {
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", interface.c_str());
    for (int poll = 0; poll < kRunningPolls; ++poll) {
        if (::ioctl(sock, SIOCGIFFLAGS, &request) != 0) return;
        if ((request.ifr_flags & IFF_RUNNING) != 0) {
            // The queue is attached right after the flag is raised.
            if (poll > 0) ::usleep(kRunningPollUs);
            return;
        }
        ::usleep(kRunningPollUs);
    }
}

}  // namespace

bool runProgram(const std::vector<std::string>& arguments, std::string& error,
                const std::string& input) {
    std::string program = findProgram(arguments.at(0));
    if (program.empty()) {
        error = arguments[0] + ": not found";
        return false;
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    pid_t child = ::fork();
    if (child < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::dup2(pipeFds[0], STDIN_FILENO);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    const char* at = input.data();
    size_t left = input.size();
    while (left > 0) {
        ssize_t written = ::write(pipeFds[1], at, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        at += written;
        left -= static_cast<size_t>(written);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    std::string command;
    for (const auto& argument : arguments) command += (command.empty() ? "" : " ") + argument;
    error = "\"" + command + "\" failed" +
            (WIFEXITED(status) ? " with status " + std::to_string(WEXITSTATUS(status))
                               : std::string(" by a signal"));
    return false;
}

void Sandbox::enter() {
    if (::unshare(CLONE_NEWNS) == 0) {
        // Nothing mounted in here may reach the host's mount table.
        mounts_ = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!mounts_)
            missing_.push_back(std::string("private mounts (") + std::strerror(errno) +
                               "): sysfs files and system file of the rig");
    } else {
        missing_.push_back(std::string("mount namespace (") + std::strerror(errno) +
                           "): sysfs files and system file of the rig");
    }
    if (::unshare(CLONE_NEWNET) == 0) {
        network_ = true;
        std::string error;
        if (!runProgram({"ip", "link", "set", "lo", "up"}, error))
            missing_.push_back("loopback interface: " + error);
    } else {
        missing_.push_back(std::string("network namespace (") + std::strerror(errno) +
                           "): the rig's network interfaces; programs see the host's");
    }
}

Sandbox::~Sandbox() {
    for (const auto& entry : packetSockets_) ::close(entry.second);
    for (int fd : farNetns_) ::close(fd);
    if (rigNetns_ >= 0) ::close(rigNetns_);
}

bool Sandbox::addInterfaces(const std::vector<Rig::HostPort>& ports, std::string& error) {
    if (!network_ || ports.empty()) return true;
    rigNetns_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (rigNetns_ < 0) {
        error = std::string("/proc/self/ns/net: ") + std::strerror(errno);
        return false;
    }
    // One "ip" for all of them: its batch mode stops at the first command that fails. Each
    // peer is made in its far end's namespace.
    std::string batch;
    for (const auto& port : ports) {
        FarEnd end;
        end.interface = port.interface;
        end.address = farEndAddress(port.ipv4);
        if (!createFarEnd(end, error)) return false;
        batch += "link add " + port.interface + " address " + macText(port.mac) +
                 " type veth peer name " + port.interface + "x netns " + end.netns + "\n";
        if (!port.ipv4.empty())
            batch += "addr add " + port.ipv4 + "/" + std::to_string(port.prefixLength) + " dev " +
                     port.interface + "\n";
        batch += "link set " + port.interface + " up\n";
        farEnds_.push_back(end);
    }
    if (!runProgram({"ip", "-batch", "-"}, error, batch)) return false;
    for (size_t i = 0; i < farEnds_.size(); ++i)
        if (!configureFarEnd(farEnds_[i], farNetns_[i], error)) return false;
    return true;
}

// A fresh network namespace, kept open by this process and named by its descriptor.
bool Sandbox::createFarEnd(FarEnd& end, std::string& error) {
    int fd = -1;
    if (::unshare(CLONE_NEWNET) == 0) fd = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int unshareError = errno;
    if (::setns(rigNetns_, CLONE_NEWNET) != 0) {
        error = std::string("back to the rig's network namespace: ") + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (fd < 0) {
        error = std::string("network namespace of a cable end: ") + std::strerror(unshareError);
        return false;
    }
    farNetns_.push_back(fd);
    end.netns = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
    return true;
}

bool Sandbox::configureFarEnd(const FarEnd& end, int netns, std::string& error) {
    if (::setns(netns, CLONE_NEWNET) != 0) {
        error = std::string("cable end of ") + end.interface + ": " + std::strerror(errno);
        return false;
    }
    std::string batch = "link set lo up\nlink set " + end.interface + "x up\n";
    if (!end.address.empty())
        batch += "addr add " + end.address + "/24 dev " + end.interface + "x\n";
    bool done = runProgram({"ip", "-batch", "-"}, error, batch);
    if (::setns(rigNetns_, CLONE_NEWNET) != 0) {
        error = std::string("back to the rig's network namespace: ") + std::strerror(errno);
        done = false;
    }
    return done;
}

bool Sandbox::sendFrame(const std::string& interface, const std::vector<uint8_t>& frame) {
    if (!network_ || frame.size() < kEthernetHeader) return false;
    auto found = packetSockets_.find(interface);
    if (found == packetSockets_.end()) {
        // Send-only: protocol 0 receives nothing.
        int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_ifindex = static_cast<int>(::if_nametoindex(interface.c_str()));
        if (fd >= 0 && (address.sll_ifindex == 0 ||
                        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)) {
            ::close(fd);
            fd = -1;
        }
        if (fd >= 0) waitUntilRunning(fd, interface);
        found = packetSockets_.emplace(interface, fd).first;
    }
    if (found->second < 0) return false;
    return ::send(found->second, frame.data(), frame.size(), 0) ==
           static_cast<ssize_t>(frame.size());
}

std::string Sandbox::namespaces() const {
    if (mounts_ && network_) return "mount,net";
    if (mounts_) return "mount";
    if (network_) return "net";
    return "";
}

}  // namespace qrtsim
