// Runs inside the virtual rig: loads the C API library (which detects the rig's PoE cards) and
// answers one request as a JSON document on standard output.
//
//   poe_api_probe list                        every product: identity, components, readings
//   poe_api_probe poe I V0,V1,... P R M       set PoE enables, protection range, calculation
//                                             mode of product I, then read them back
//   poe_api_probe toe I PORT DEV GROUP MASK [FAR_END_INTERFACE]
//                                             store and send an action command; with an
//                                             interface, receive it at that cable's far end
//   poe_api_probe trigger I                   trigger settings, set one by one and read back
//   poe_api_probe fan I DUTY SMART            fan settings of product I, set and read back
//   poe_api_probe threads I N                 N threads on product I at once

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

std::vector<int> parseList(const char* text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
    return values;
}

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

json trigger(void* h) {
    json out;
    out["set"] = {QRT_ToESetExTriggerDebounce(h, 0x00ABCDEF),
                  QRT_ToESetTriggerActivation(h, QRT_EDGE_TRIGGER_EDGE0),
                  QRT_ToESetTriggerSource(h, 1),
                  QRT_ToESetOneTriggerAllMode(h, 9),
                  QRT_ToESetTriggerEnable(h, 1),
                  QRT_ToESetTriggerActivation(h, QRT_EDGE_TRIGGER_BOTH),
                  QRT_ToESetTriggerEnable(h, 0),
                  QRT_ToESetTriggerActivation(h, QRT_EDGETRIGGER_TYPE(3)),
                  QRT_ToESetExTriggerDebounce(h, 0x1000000)};
    int source = -1, enable = -1, all = -1;
    QRT_EDGETRIGGER_TYPE edge = QRT_EDGETRIGGER_TYPE(kUntouched);
    unsigned long debounce = 0, unit = 0;
    unsigned a = 0, b = 0;
    out["get_status"] = {
        QRT_ToEGetTriggerSource(h, &source),       QRT_ToEGetTriggerEnable(h, &enable),
        QRT_ToEGetOneTriggerAllMode(h, &all),      QRT_ToEGetTriggerActivation(h, &edge),
        QRT_ToEGetExTriggerDebounce(h, &debounce), QRT_ToEGetExTriggerDebounceUnit(h, &unit),
        QRT_ToEGetTriggerCount(h, 0, &a, &b),      QRT_ToEResetTriggerCount(h)};
    out["get"] = {source, enable, all, int(edge), debounce, unit};
    return out;
}

json fan(void* h, int duty, int smart) {
    json out;
    out["set"] = {QRT_FanSetPWM(h, 0, duty), QRT_FanSetSmartFanEnable(h, 0, smart),
                  QRT_FanSetPWM(h, 0, 100), QRT_FanSetPWM(h, 1, duty)};
    int pwm = -1, enabled = -1;
    unsigned rpm = 0;
    out["get_status"] = {QRT_FanGetPWM(h, 0, &pwm), QRT_FanGetSmartFanEnable(h, 0, &enabled),
                         QRT_FanGetSpeed(h, 0, &rpm)};
    out["get"] = {pwm, enabled, rpm};
    return out;
}

json poe(void* h, std::vector<int> enables, int protect, int recover, int mode) {
    json out;
    unsigned n = unsigned(enables.size());
    out["set"] = {QRT_PoESetPortEnable(h, enables.data(), n),
                  QRT_PoESetProtectTempRange(h, protect, recover),
                  QRT_PoESetPowConsumCalcModel(h, mode)};
    std::vector<int> back(n + 1, kUntouched);
    int p = 0, r = 0, m = -1;
    out["get_status"] = {QRT_PoEGetPortEnable(h, back.data(), n + 1),
                         QRT_PoEGetProtectTempRange(h, &p, &r),
                         QRT_PoEGetPowConsumCalcModel(h, &m)};
    out["get"] = {{"enables", back}, {"protect", p}, {"recover", r}, {"mode", m}};
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
    } else if (request == "poe" && argc == 7) {
        out["poe"] =
            poe(h, parseList(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    } else if (request == "toe" && (argc == 7 || argc == 8)) {
        out["toe"] = toe(h, unsigned(std::atoi(argv[3])), std::strtoul(argv[4], nullptr, 0),
                         std::strtoul(argv[5], nullptr, 0), std::strtoul(argv[6], nullptr, 0),
                         argc == 8 ? argv[7] : nullptr);
    } else if (request == "trigger" && argc == 3) {
        out["trigger"] = trigger(h);
    } else if (request == "fan" && argc == 5) {
        out["fan"] = fan(h, std::atoi(argv[3]), std::atoi(argv[4]));
    } else if (request == "threads" && argc == 4) {
        out["threads"] = threads(h, std::atoi(argv[3]));
    } else {
        return usage();
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
