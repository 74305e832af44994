// Runs inside the virtual rig: loads the C API library (which detects the rig's products) and
// answers one request per run as a JSON document on standard output.
//
//   embedded_probe list                   SDK text and every product: type, info, SN, features
//   embedded_probe poe V0,V1,V2,V3        PoE enables set and read back, port classes, budgets
//   embedded_probe dio DO,... DI:EDGE,... DIO lines: counts, capabilities, states, edges
//   embedded_probe callback SECTION       the DI trigger callback against input changes that
//                                         the rig board of SECTION raises, and a uevent the
//                                         probe forges itself
//   embedded_probe unplug                 the DIO driver removed while the monitor runs
//   embedded_probe libudev SECTION        an unmodified libudev kernel monitor (when the machine
//                                         has libudev.so.1) against an input change and a
//                                         uevent the probe forges
//   embedded_probe uevents SECTION        the monitor against the rig's garbage, an overrun,
//                                         callbacks that re-register, concurrent registrations
//   embedded_probe protect P,R N          N times the PoE protection range P, R: the statuses
//   embedded_probe enum-range             statuses of every enumeration argument given numbers
//                                         outside its enumeration, on every product

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"
#include "sim/bridge/ControlClient.h"

namespace {

using nlohmann::json;

constexpr int kUntouched = 7;

std::vector<int> parseList(const char* text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
    return values;
}

json product(unsigned index) {
    void* handle = QRT_GetProductHandle(index);
    json p;
    p["type"] = QRT_GetProductType(handle);
    char info[512] = {};
    p["info_status"] = QRT_GetProductInfo(handle, info, sizeof info);
    p["info"] = info;
    char sn[64] = {};
    p["sn_status"] = QRT_GetProductSN(handle, sn, sizeof sn);
    p["sn"] = sn;
    int id = kUntouched;
    p["card_id_status"] = QRT_GetCardID(handle, &id);
    QRT_FEATURE_TYPE features[8];
    int count = QRT_GetFeatureList(handle, features, 8);
    p["features"] = json::array();
    for (int i = 0; i < count && i < 8; ++i) p["features"].push_back(int(features[i]));
    return p;
}

json poe(void* handle, std::vector<int> enables) {
    json out;
    std::vector<int> shortList(enables.begin(), enables.end() - 1);
    out["short_status"] =
        QRT_PoESetPortEnable(handle, shortList.data(), unsigned(shortList.size()));
    out["set_status"] = QRT_PoESetPortEnable(handle, enables.data(), unsigned(enables.size()));
    out["after_set"] = enables;
    std::vector<int> back(enables.size(), kUntouched);
    out["get_status"] = QRT_PoEGetPortEnable(handle, back.data(), unsigned(back.size()));
    out["get"] = back;
    out["classes"] = json::array();
    for (unsigned port = 0; port < 4; ++port) {
        float value = -9;
        int status = QRT_PoEGetPortProperty(handle, port, QRT_POEPORT_PROP_POWER_CLASS, &value);
        out["classes"].push_back(status == 0 ? json(value) : json(status));
    }
    float value = -9;
    out["flag0_status"] = QRT_PoEGetProperty(handle, QRT_POE_PROP_STATE_FLAG0, &value);
    out["budget_status"] = QRT_PoEGetProperty(handle, QRT_POE_PROP_TOTAL_BUDGET, &value);
    out["budget"] = value;
    return out;
}

template <class Capability>
json capabilityList(unsigned count, const Capability* list) {
    return json(std::vector<int>(list, list + count));
}

json dio(void* handle, const std::vector<int>& outputs, const char* edges) {
    json out;
    unsigned di = 0, dout = 0;
    out["di_status"] = QRT_DIOGetDINums(handle, &di);
    out["do_status"] = QRT_DIOGetDONums(handle, &dout);
    out["di"] = di;
    out["do"] = dout;
    QRT_DIOCAPABILITY_TYPE block[4];
    out["block"] = capabilityList(QRT_DIOGetCapability(handle, block, 4), block);
    out["di_caps"] = json::array();
    for (unsigned i = 0; i <= di; ++i) {  // one beyond the count: nothing
        QRT_DIODICAPABILITY_TYPE caps[8];
        out["di_caps"].push_back(capabilityList(QRT_DIOGetDICapability(handle, i, caps, 8), caps));
    }
    out["do_caps"] = json::array();
    for (unsigned i = 0; i < dout; ++i) {
        QRT_DIODOCAPABILITY_TYPE caps[8];
        out["do_caps"].push_back(capabilityList(QRT_DIOGetDOCapability(handle, i, caps, 8), caps));
    }
    std::vector<int> states(di + 1, kUntouched);
    out["di_states_status"] = QRT_DIOGetDIStates(handle, states.data(), di + 1);
    out["di_states"] = states;
    std::vector<int> levels = outputs;
    out["set_do_status"] = QRT_DIOSetDOStates(handle, levels.data(), unsigned(levels.size()));
    out["do_read"] = json::array();
    for (unsigned i = 0; i < dout; ++i) {
        int level = kUntouched;
        int status = QRT_DIOGetDOState(handle, i, &level);
        out["do_read"].push_back(status == 0 ? json(level) : json(status));
    }
    out["edges"] = json::array();
    std::stringstream in(edges);
    for (std::string item; std::getline(in, item, ',');) {
        unsigned line = unsigned(std::atoi(item.c_str()));
        int edge = std::atoi(item.c_str() + item.find(':') + 1);
        // Untouched: the one unused value within the enumeration's range.
        QRT_EDGETRIGGER_TYPE back = QRT_EDGETRIGGER_TYPE(3);
        int set = QRT_DIOSetDIEdgeTrigger(handle, line, QRT_EDGETRIGGER_TYPE(edge));
        int get = QRT_DIOGetDIEdgeTrigger(handle, line, &back);
        out["edges"].push_back({{"set", set}, {"get", get}, {"edge", int(back)}});
    }
    return out;
}

// ---- trigger callback -------------------------------------------------------------------------

struct Call {
    int callback;
    unsigned index;
    int state;
    bool onMonitorThread;
};

std::mutex g_mutex;
std::condition_variable g_called;
std::vector<Call> g_calls;
pthread_t g_mainThread;
void* g_handle;
bool g_holdCallback;  // a callback waits (bounded) while it is set, so that the socket fills
json g_reregistrations = json::array();  // registrations made from inside callbacks

template <int Which>
void callback(unsigned int index, int state) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_calls.push_back({Which, index, state, !pthread_equal(pthread_self(), g_mainThread)});
    g_called.notify_all();
    g_called.wait_for(lock, std::chrono::seconds(10), [] { return !g_holdCallback; });
}

unsigned threadCount() {
    unsigned count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
    return count;
}

// Registers the next callback from inside itself; the last one of the chain clears it.
template <int Which>
void reregistering(unsigned int index, int state) {
    callback<Which>(index, state);
    int status = QRT_DIOSetDITriggerCallback(g_handle, Which == 5 ? reregistering<6> : nullptr);
    unsigned threads = threadCount();  // the monitor goes on alone: no second one beside it
    std::lock_guard<std::mutex> lock(g_mutex);
    g_reregistrations.push_back({{"status", status}, {"threads", threads}});
}

json callRecord(const Call& c) {
    return {{"callback", c.callback},
            {"index", c.index},
            {"state", c.state},
            {"on_monitor_thread", c.onMonitorThread}};
}

// Waits (bounded, so that a lost event cannot hang the run) for the next call.
json nextCall(size_t seen) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_called.wait_for(lock, std::chrono::seconds(10), [seen] { return g_calls.size() > seen; });
    return g_calls.size() > seen ? callRecord(g_calls[seen]) : json();
}

size_t callCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls.size();
}

// Waits (bounded) until the process has `count` threads: a monitor that ends by itself, or one
// just joined (the kernel lists an exiting task for a moment after the join returns).
unsigned threadsSettleAt(unsigned count) {
    for (int i = 0; i < 1000 && threadCount() != count; ++i) usleep(10000);
    return threadCount();
}

// A uevent of the DIO driver's form sent by this process to the uevent group (root may send
// there): it is no kernel's.
bool forgeUevent(const std::string& inputKey) {
    int sock = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (sock < 0) return false;
    const std::string path = "/devices/platform/vorel_dio";
    std::string datagram = "change@" + path + '\0' + "ACTION=change" + '\0' + "DEVPATH=" + path +
                           '\0' + "SUBSYSTEM=platform" + '\0' + inputKey + '\0' +
                           "DRIVER=vorel_dio" + '\0' + "SEQNUM=1" + '\0';
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = 1;
    bool sent =
        sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group) == static_cast<ssize_t>(datagram.size());
    close(sock);
    return sent;
}

// An input change or a raised uevent: on the rig a control line to the board of `section`; where
// QRT_DIO_CONTROL names a file (the kernel's simulated DIO block), the command written to it.
json rigControl(const std::string& section, const std::string& command) {
    char reply[512] = {};
    int status = 0;
    if (const char* file = std::getenv("QRT_DIO_CONTROL")) {
        int fd = open(file, O_WRONLY | O_CLOEXEC);
        bool written = fd >= 0 && write(fd, command.data(), command.size()) ==
                                      static_cast<ssize_t>(command.size());
        status = written ? 0 : -errno;
        if (fd >= 0) close(fd);
    } else {
        status =
            qrtsim::bridge::sendControl((section + " " + command).c_str(), reply, sizeof reply);
    }
    return {{"command", command}, {"status", status}, {"reply", reply}};
}

json callbacks(void* handle, const std::string& section) {
    g_mainThread = pthread_self();
    json out;
    json steps = json::array();
    auto control = [&](const std::string& command) {
        steps.push_back(rigControl(section, command));
    };

    out["first_status"] = QRT_DIOSetDITriggerCallback(handle, callback<1>);
    out["threads_running"] = threadCount();
    size_t seen = callCount();
    control("di 1 1");
    out["first"] = nextCall(seen++);
    // Events the callback must not see, then one it must: the first call is the last one.
    for (const char* other : {"uevent DRIVER=gpio_keys DI_1=0", "uevent ACTION=add DI_1=0",
                              "uevent DI_9=1", "uevent DI_2=5"})
        control(other);
    control("di 2 1");
    out["after_others"] = nextCall(seen++);
    // Another process's uevent on the group is dropped; the kernel's that follows is taken.
    out["forged_sent"] = forgeUevent("DI_3=0");
    control("di 3 1");
    out["after_forged"] = nextCall(seen++);

    out["second_status"] = QRT_DIOSetDITriggerCallback(handle, callback<2>);
    control("di 1 0");
    out["second"] = nextCall(seen++);

    out["stop_status"] = QRT_DIOSetDITriggerCallback(handle, nullptr);
    out["threads_stopped"] = threadsSettleAt(1);
    control("di 1 1");
    out["calls_after_stop"] = callCount() - seen;

    // An application's own uevent monitor holds the process id as its port id.
    int other = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<__u32>(getpid());
    address.nl_groups = 1;
    out["own_monitor_bound"] =
        other >= 0 && bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    out["beside_own_monitor_status"] = QRT_DIOSetDITriggerCallback(handle, callback<3>);
    control("di 0 1");
    out["beside_own_monitor"] = nextCall(seen++);
    QRT_DIOSetDITriggerCallback(handle, nullptr);
    if (other >= 0) close(other);

    std::lock_guard<std::mutex> lock(g_mutex);
    out["calls"] = json::array();
    for (const Call& c : g_calls) out["calls"].push_back(callRecord(c));
    out["steps"] = steps;
    return out;
}

// The DIO driver removed while the monitor runs, by the command QRT_DIO_REMOVE names: the
// lines' calls fail, and the monitor still stops.
json unplug(void* handle) {
    g_mainThread = pthread_self();
    json out;
    const char* remove = std::getenv("QRT_DIO_REMOVE");
    out["removable"] = remove != nullptr;
    if (remove == nullptr) return out;
    out["start_status"] = QRT_DIOSetDITriggerCallback(handle, callback<1>);
    out["threads_running"] = threadCount();
    out["remove_status"] = std::system(remove);
    int state = kUntouched;
    out["di_status"] = QRT_DIOGetDIState(handle, 0, &state);
    out["do_status"] = QRT_DIOSetDOState(handle, 0, 1);
    QRT_EDGETRIGGER_TYPE edge = QRT_EDGETRIGGER_TYPE(3);
    out["edge_status"] = QRT_DIOGetDIEdgeTrigger(handle, 0, &edge);
    out["stop_status"] = QRT_DIOSetDITriggerCallback(handle, nullptr);
    out["threads_stopped"] = threadsSettleAt(1);
    out["calls"] = callCount();
    return out;
}

// The first uevent of the DIO device that libudev's kernel monitor hands over after a uevent
// this process forged and an input change: libudev takes uevents from the kernel only.
json libudevMonitor(const std::string& section) {
    json out;
    void* library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    out["present"] = library != nullptr;
    if (library == nullptr) return out;
    using New = void* (*)();
    using MonitorNew = void* (*)(void*, const char*);
    using Enable = int (*)(void*);
    using Fd = int (*)(void*);
    using Receive = void* (*)(void*);
    using Text = const char* (*)(void*);
    using Property = const char* (*)(void*, const char*);
    using Unref = void* (*)(void*);
    auto udevNew = reinterpret_cast<New>(dlsym(library, "udev_new"));
    auto monitorNew = reinterpret_cast<MonitorNew>(dlsym(library, "udev_monitor_new_from_netlink"));
    auto enable = reinterpret_cast<Enable>(dlsym(library, "udev_monitor_enable_receiving"));
    auto monitorFd = reinterpret_cast<Fd>(dlsym(library, "udev_monitor_get_fd"));
    auto receive = reinterpret_cast<Receive>(dlsym(library, "udev_monitor_receive_device"));
    auto devpath = reinterpret_cast<Text>(dlsym(library, "udev_device_get_devpath"));
    auto action = reinterpret_cast<Text>(dlsym(library, "udev_device_get_action"));
    auto property = reinterpret_cast<Property>(dlsym(library, "udev_device_get_property_value"));
    auto deviceUnref = reinterpret_cast<Unref>(dlsym(library, "udev_device_unref"));
    auto monitorUnref = reinterpret_cast<Unref>(dlsym(library, "udev_monitor_unref"));
    auto udevUnref = reinterpret_cast<Unref>(dlsym(library, "udev_unref"));
    void* udev = udevNew != nullptr ? udevNew() : nullptr;
    void* monitor = udev != nullptr && monitorNew != nullptr ? monitorNew(udev, "kernel") : nullptr;
    out["enabled"] = monitor != nullptr && enable(monitor) == 0;
    // The monitor and its context go back to the library whatever happened.
    auto release = [&] {
        if (monitor != nullptr && monitorUnref != nullptr) monitorUnref(monitor);
        if (udev != nullptr && udevUnref != nullptr) udevUnref(udev);
    };
    if (!out["enabled"]) {
        release();
        return out;
    }
    out["forged_sent"] = forgeUevent("DI_2=0");
    out["step"] = rigControl(section, "di 0 1");
    // Other devices' uevents come in between; a bounded number of waits.
    for (int i = 0; i < 64; ++i) {
        pollfd wait{monitorFd(monitor), POLLIN, 0};
        if (poll(&wait, 1, 5000) < 1) break;
        void* device = receive(monitor);
        if (device == nullptr) continue;
        const char* path = devpath(device);
        if (path != nullptr && std::string(path) == "/devices/platform/vorel_dio") {
            auto value = [&](const char* key) {
                const char* text = property(device, key);
                return text != nullptr ? json(text) : json();
            };
            out["device"] = {{"action", action(device) != nullptr ? action(device) : ""},
                             {"DI_0", value("DI_0")},
                             {"DI_2", value("DI_2")}};
            deviceUnref(device);
            break;
        }
        deviceUnref(device);
    }
    release();
    return out;
}

// What only the rig can raise: datagrams that are no kernel uevent, an overrun of the socket,
// callbacks that register from inside themselves, registrations from two threads at once.
json uevents(void* handle, const std::string& section) {
    g_mainThread = pthread_self();
    g_handle = handle;
    json out;
    json steps = json::array();
    auto control = [&](const std::string& command) {
        steps.push_back(rigControl(section, command));
    };
    size_t seen = callCount();
    out["status"] = QRT_DIOSetDITriggerCallback(handle, callback<4>);
    // Cut, header-less and unterminated datagrams: the first call is the change after them.
    control("fault dio garbage");
    control("clear dio garbage");
    control("di 3 1");
    out["after_garbage"] = nextCall(seen++);

    // The callback holds the monitor while the socket overflows; the change lost in the
    // overrun is reported from the input's state.
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_holdCallback = true;
    }
    control("di 0 1");
    out["held"] = nextCall(seen++);
    control("burst 400");
    control("di 1 1");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_holdCallback = false;
        g_called.notify_all();
    }
    out["after_overrun"] = nextCall(seen++);

    // Callbacks that register the next one, then clear it, from inside themselves: the
    // monitor ends by itself, and nothing is left running.
    out["chain_status"] = QRT_DIOSetDITriggerCallback(handle, reregistering<5>);
    control("di 2 1");
    out["chain_first"] = nextCall(seen++);
    control("di 2 0");
    out["chain_second"] = nextCall(seen++);
    out["chain_threads"] = threadsSettleAt(1);
    control("di 2 1");
    out["calls_after_chain"] = callCount() - seen;

    // Two threads registering and clearing at once.
    std::mutex failedLock;
    json failed = json::array();  // the statuses of registrations that failed
    auto churn = [handle, &failed, &failedLock] {
        for (int i = 0; i < 20; ++i) {
            int status = QRT_DIOSetDITriggerCallback(handle, i % 2 ? nullptr : callback<8>);
            std::lock_guard<std::mutex> lock(failedLock);
            if (status != 0) failed.push_back(status);
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    out["churn_failures"] = failed;
    out["churn_clear"] = QRT_DIOSetDITriggerCallback(handle, nullptr);
    out["churn_threads"] = threadCount();

    std::lock_guard<std::mutex> lock(g_mutex);
    out["reregistrations"] = g_reregistrations;
    out["steps"] = steps;
    return out;
}

// The statuses of `rounds` writes of one protection range: status -> how often.
json protect(void* handle, const std::vector<int>& range, int rounds) {
    json statuses = json::object();
    for (int round = 0; round < rounds && range.size() == 2; ++round) {
        const std::string status =
            std::to_string(QRT_PoESetProtectTempRange(handle, range[0], range[1]));
        statuses[status] = statuses.value(status, 0) + 1;
    }
    return statuses;
}

int usage() {
    std::fprintf(stderr,
                 "usage: embedded_probe list | poe V,V,V,V | dio DO,... DI:EDGE,... | callback "
                 "SECTION | unplug | libudev SECTION | uevents SECTION | protect P,R N\n");
    return 2;
}

// A C caller may pass any 32-bit number where an enumeration is declared; each of these is
// outside its enumeration, and below or above the C API's own range checks.
json enumRange() {
    const int numbers[] = {-1, -100, 99, INT_MIN, INT_MAX};
    json statuses = json::array();
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* h = QRT_GetProductHandle(i);
        float value = 0;
        for (int n : numbers) {
            statuses.push_back(QRT_ToESetTriggerActivation(h, QRT_EDGETRIGGER_TYPE(n)));
            statuses.push_back(QRT_PoEGetProperty(h, QRT_POEPROPERTY_TYPE(n), &value));
            statuses.push_back(QRT_PoEGetPortProperty(h, 0, QRT_POEPORTPROPERTY_TYPE(n), &value));
            statuses.push_back(QRT_DIOSetDIEdgeTrigger(h, 0, QRT_EDGETRIGGER_TYPE(n)));
        }
    }
    return statuses;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string request = argv[1];
    json out;
    out["products"] = QRT_GetProductNums();
    void* handle = QRT_GetProductHandle(0);
    if (request == "list") {
        char sdk[256] = {};
        out["sdk_status"] = QRT_GetSDKInfo(sdk, sizeof sdk);
        out["sdk"] = sdk;
        out["list"] = json::array();
        for (unsigned i = 0; i < QRT_GetProductNums(); ++i) out["list"].push_back(product(i));
    } else if (request == "poe" && argc == 3) {
        out["poe"] = poe(handle, parseList(argv[2]));
    } else if (request == "dio" && argc == 4) {
        out["dio"] = dio(handle, parseList(argv[2]), argv[3]);
    } else if (request == "callback" && argc == 3) {
        out["callback"] = callbacks(handle, argv[2]);
    } else if (request == "unplug") {
        out["unplug"] = unplug(handle);
    } else if (request == "libudev" && argc == 3) {
        out["libudev"] = libudevMonitor(argv[2]);
    } else if (request == "uevents" && argc == 3) {
        out["uevents"] = uevents(handle, argv[2]);
    } else if (request == "protect" && argc == 4) {
        out["protect"] = protect(handle, parseList(argv[2]), std::atoi(argv[3]));
    } else if (request == "enum-range") {
        out["statuses"] = enumRange();
    } else {
        return usage();
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
