// Runs inside the virtual rig: loads the C API library (which detects the rig's PoE cards) and
// answers one request as a JSON document on standard output.
//
//   poe_api_probe list                        every product: identity, components, readings
//   poe_api_probe toe I PORT DEV GROUP MASK [FAR_END_INTERFACE]
//                                             store and send an action command; with an
//                                             interface, receive it at that cable's far end
//   poe_api_probe threads I N                 N threads on product I at once
//
// Plain sequences of calls go to the generic probe (tests/support/qrt_call_probe.cpp).

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

using nlohmann::json;

constexpr int kUntouched = 7;  // entries the library must not write start with this
constexpr int kGvcpPort = 3956;
constexpr int kReceiveTimeoutMs = 5000;

json reading(int status, float value) {
    return {{"status", status}, {"value", status == 0 ? json(value) : json()}};
}

json product(unsigned index) {
    void* h = QRT_GetProductHandle(index);
    json p;
    p["type"] = QRT_GetProductType(h);
    char text[1024] = {};
    p["info_status"] = QRT_GetProductInfo(h, text, sizeof text);
    p["info"] = text;
    int id = -1;
    p["card_id_status"] = QRT_GetCardID(h, &id);
    p["card_id"] = id;
    QRT_FEATURE_TYPE features[8];
    int count = QRT_GetFeatureList(h, features, 8);
    p["features"] = json::array();
    for (int i = 0; i < count && i < 8; ++i) p["features"].push_back(int(features[i]));
    unsigned n = 0;
    p["poe_ports"] = QRT_PoEGetPortNums(h, &n) == 0 ? json(n) : json();
    n = 0;
    p["toe_ports"] = QRT_ToEGetPortNums(h, &n) == 0 ? json(n) : json();
    n = 0;
    p["fans"] = QRT_FanGetNums(h, &n) == 0 ? json(n) : json();
    unsigned inputs = 0;
    QRT_ExPowSupGetNums(h, &inputs);
    p["inputs"] = inputs;
    std::vector<int> states(inputs + 1, kUntouched);
    p["input_states_status"] = QRT_ExPowSupGetState(h, states.data(), inputs);
    p["input_states"] = states;
    p["properties"] = json::array();
    for (int prop = 0; prop <= 6; ++prop) {
        float value = 0;
        int status = QRT_PoEGetProperty(h, QRT_POEPROPERTY_TYPE(prop), &value);
        p["properties"].push_back(reading(status, value));
    }
    unsigned ports = p["poe_ports"].is_null() ? 0 : p["poe_ports"].get<unsigned>();
    p["port_properties"] = json::array();
    for (unsigned port = 0; port < ports; ++port) {
        json row = json::array();
        for (int prop = 0; prop <= 4; ++prop) {
            float value = 0;
            int status = QRT_PoEGetPortProperty(h, port, QRT_POEPORTPROPERTY_TYPE(prop), &value);
            row.push_back(reading(status, value));
        }
        p["port_properties"].push_back(row);
    }
    return p;
}

// A UDP socket on the GVCP port in the network namespace at the far end of a port's cable.
int farEndSocket(const std::string& interface, std::string& error) {
    const char* path = std::getenv(("QRT_SIM_FAR_END_" + interface).c_str());
    if (path == nullptr) {
        error = "no far end for " + interface;
        return -1;
    }
    int here = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int there = open(path, O_RDONLY | O_CLOEXEC);
    int sock = -1;
    if (here >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0) {
        sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kGvcpPort);
        if (sock >= 0 && bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(sock);
            sock = -1;
        }
        setns(here, CLONE_NEWNET);
    }
    if (sock < 0) error = "cannot listen at the far end of " + interface;
    if (here >= 0) close(here);
    if (there >= 0) close(there);
    return sock;
}

json receive(int sock) {
    pollfd wait{sock, POLLIN, 0};
    if (poll(&wait, 1, kReceiveTimeoutMs) != 1) return {{"received", false}};
    unsigned char data[256];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n =
        recvfrom(sock, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    char hex[3];
    std::string payload;
    for (ssize_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        payload += hex;
    }
    char source[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
    return {{"received", n > 0},
            {"payload", payload},
            {"source", source},
            {"source_port", ntohs(from.sin_port)}};
}

json toe(void* h, unsigned port, unsigned long device, unsigned long group, unsigned long mask,
         const char* farEnd) {
    json out;
    int sock = -1;
    if (farEnd != nullptr) {
        std::string error;
        sock = farEndSocket(farEnd, error);
        if (sock < 0) out["far_end_error"] = error;
    }
    out["set_status"] = QRT_ToESetActionCommand(h, port, device, group, mask);
    out["send_status"] = QRT_ToESendActionCommand(h, int(port));
    unsigned long d = 0, g = 0, m = 0;
    out["get_status"] = QRT_ToEGetActionCommand(h, port, &d, &g, &m);
    out["get"] = {d, g, m};
    if (sock >= 0) {
        out["far_end"] = receive(sock);
        close(sock);
    }
    return out;
}

// Threads that each switch the ports, read identity texts and EEPROM-backed numbers.
json threads(void* h, int count) {
    std::vector<json> results(size_t(count), json::array());
    std::vector<std::thread> workers;
    for (int t = 0; t < count; ++t) {
        workers.emplace_back([h, t, &results]() {
            int enables[4] = {t & 1, 1, (t >> 1) & 1, 1};
            char text[512];
            unsigned long d, g, m;
            results[size_t(t)].push_back(QRT_PoESetPortEnable(h, enables, 4));
            results[size_t(t)].push_back(QRT_GetProductInfo(h, text, sizeof text));
            results[size_t(t)].push_back(QRT_GetProductSN(h, text, sizeof text));
            results[size_t(t)].push_back(QRT_PoEGetPortEnable(h, enables, 4));
            results[size_t(t)].push_back(QRT_ToEGetActionCommand(h, unsigned(t % 4), &d, &g, &m));
        });
    }
    for (auto& w : workers) w.join();
    // The card lock is free again: a further call gets it at once.
    int enables[4];
    return {{"workers", results}, {"after", QRT_PoEGetPortEnable(h, enables, 4)}};
}

int usage() {
    std::fprintf(stderr, "usage: see the head of poe_api_probe.cpp\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string request = argv[1];
    json out;
    out["products"] = QRT_GetProductNums();
    void* h = argc > 2 ? QRT_GetProductHandle(unsigned(std::atoi(argv[2]))) : nullptr;
    if (request == "list") {
        out["list"] = json::array();
        for (unsigned i = 0; i < QRT_GetProductNums(); ++i) out["list"].push_back(product(i));
    } else if (request == "toe" && (argc == 7 || argc == 8)) {
        out["toe"] = toe(h, unsigned(std::atoi(argv[3])), std::strtoul(argv[4], nullptr, 0),
                         std::strtoul(argv[5], nullptr, 0), std::strtoul(argv[6], nullptr, 0),
                         argc == 8 ? argv[7] : nullptr);
    } else if (request == "threads" && argc == 4) {
        out["threads"] = threads(h, std::atoi(argv[3]));
    } else {
        return usage();
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
