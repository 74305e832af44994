#include "sim/bridge/Sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
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

bool Sandbox::addInterfaces(const std::vector<Rig::HostPort>& ports, std::string& error) {
    if (!network_ || ports.empty()) return true;
    // One "ip" for all of them: its batch mode stops at the first command that fails.
    std::string batch;
    for (const auto& port : ports) {
        std::string peer = port.interface + "x";
        batch += "link add " + port.interface + " address " + macText(port.mac) +
                 " type veth peer name " + peer + "\n";
        if (!port.ipv4.empty())
            batch += "addr add " + port.ipv4 + "/" + std::to_string(port.prefixLength) + " dev " +
                     port.interface + "\n";
        batch += "link set " + peer + " up\n";
        batch += "link set " + port.interface + " up\n";
    }
    return runProgram({"ip", "-batch", "-"}, error, batch);
}

std::string Sandbox::namespaces() const {
    if (mounts_ && network_) return "mount,net";
    if (mounts_) return "mount";
    if (network_) return "net";
    return "";
}

}  // namespace qrtsim
