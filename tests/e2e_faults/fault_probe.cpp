// Runs inside the virtual rig: takes steps from its arguments and prints one JSON document per
// step on standard output.
//
//   @LINE     sends LINE on the rig's control channel ("card0 fault mcu nack", "card0 clear")
//             -> {"control": LINE, "ok": bool, "reply": text}
//   NAME      runs the C API call NAME of the table below on product 0
//             (dio-monitor registers a DI trigger callback, dio-trigger waits for its next
//             call and answers 0 for exactly one)
//   +NAME     runs NAME's restoring form: the values the rig starts with, for a set call
//             -> {"call": NAME, "status": n, "guard": bool, "pauses_us": n}
//
// Every call writes into buffers followed by guard entries; "guard" is false when the library
// wrote beyond what the call was given. "pauses_us" are the pauses the call asked for (counted
// by the rig with --skip-pauses): how long the call would have taken on the hardware.

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"
#include "sim/bridge/ControlClient.h"

namespace {

constexpr unsigned kGuards = 4;

// `n` entries for the call, then guards.
template <typename T, unsigned N>
struct Guarded {
    T data[N + kGuards];
    explicit Guarded(T fill) {
        for (unsigned i = 0; i < N; ++i) data[i] = fill;
        std::memset(static_cast<void*>(data + N), 0x5A, sizeof(T) * kGuards);
    }
    bool intact() const {
        Guarded<T, N> clean(T{});
        return std::memcmp(data + N, clean.data + N, sizeof(T) * kGuards) == 0;
    }
};

// A call with its outcome: the status, whether every guard survived and the first value the
// call left in its buffer (null for calls without one).
struct Outcome {
    int status;
    bool guard;
    nlohmann::json value = nullptr;
};
using Call = std::function<Outcome(void* product, bool restore)>;

template <typename T, unsigned N, typename F>
Outcome guarded(T fill, F call) {
    Guarded<T, N> buffer(fill);
    int status = call(buffer.data);
    if constexpr (std::is_same_v<T, char>) return {status, buffer.intact()};
    return {status, buffer.intact(), buffer.data[0]};
}

unsigned ports(void* h, int (*count)(void*, unsigned*)) {
    unsigned n = 0;
    return count(h, &n) == QRT_SUCCESS && n <= 12 ? n : 0;
}

// The DI trigger callback's calls, from the monitor thread.
std::atomic<int> g_triggers{0};
int g_triggersSeen = 0;

void countTrigger(unsigned int, int) {
    ++g_triggers;
}

// Waits (bounded: a lost event must not hang the run) for the next trigger; 0 when exactly one
// came, the number of further ones otherwise, -1 when none came.
int nextTrigger() {
    for (int wait = 0; wait < 1000 && g_triggers.load() == g_triggersSeen; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int arrived = g_triggers.load() - g_triggersSeen;
    g_triggersSeen += arrived;
    return arrived - 1;
}

// The calls, by what they reach. Set calls write values other than those the rig starts with;
// their restoring form writes those back.
const std::map<std::string, Call>& calls() {
    static const std::map<std::string, Call> table = {
        {"info",
         [](void* h, bool) {
             return guarded<char, 64>('\x7F',
                                      [h](char* b) { return QRT_GetProductInfo(h, b, 64); });
         }},
        {"card-id",
         [](void* h, bool) {
             return guarded<int, 1>(-7, [h](int* id) { return QRT_GetCardID(h, id); });
         }},
        {"poe-get-enable",
         [](void* h, bool) {
             unsigned n = ports(h, QRT_PoEGetPortNums);
             return guarded<int, 4>(7, [h, n](int* e) { return QRT_PoEGetPortEnable(h, e, n); });
         }},
        {"poe-set-enable",
         [](void* h, bool restore) {
             unsigned n = ports(h, QRT_PoEGetPortNums);
             int e[4] = {restore ? 1 : 0, 1, restore ? 1 : 0, 1};
             return Outcome{QRT_PoESetPortEnable(h, e, n), true};
         }},
        {"poe-temperature",
         [](void* h, bool) {
             return guarded<float, 1>(-7.0f, [h](float* v) {
                 return QRT_PoEGetProperty(h, QRT_POE_PROP_TEMPERATURE, v);
             });
         }},
        {"poe-port-class",
         [](void* h, bool) {
             return guarded<float, 1>(-7.0f, [h](float* v) {
                 return QRT_PoEGetPortProperty(h, 0, QRT_POEPORT_PROP_POWER_CLASS, v);
             });
         }},
        {"poe-get-range",
         [](void* h, bool) {
             return guarded<int, 2>(
                 -7, [h](int* r) { return QRT_PoEGetProtectTempRange(h, r, r + 1); });
         }},
        {"toe-get-source",
         [](void* h, bool) {
             return guarded<int, 1>(-7, [h](int* s) { return QRT_ToEGetTriggerSource(h, s); });
         }},
        {"toe-set-debounce",
         [](void* h, bool restore) {
             return Outcome{QRT_ToESetExTriggerDebounce(h, restore ? 0 : 1234), true};
         }},
        {"toe-get-count",
         [](void* h, bool) {
             return guarded<unsigned, 2>(
                 7u, [h](unsigned* c) { return QRT_ToEGetTriggerCount(h, 0, c, c + 1); });
         }},
        {"pow-get-enable",
         [](void* h, bool) {
             unsigned n = ports(h, QRT_PowCtrlGetPortNums);
             return guarded<int, 12>(7,
                                     [h, n](int* e) { return QRT_PowCtrlGetPortEnable(h, e, n); });
         }},
        {"pow-set-enable",
         [](void* h, bool restore) {
             unsigned n = ports(h, QRT_PowCtrlGetPortNums);
             int e[12];
             for (unsigned i = 0; i < 12; ++i) e[i] = restore || i % 2 == 0;
             return Outcome{QRT_PowCtrlSetPortEnable(h, e, n), true};
         }},
        {"expow-state",
         [](void* h, bool) {
             return guarded<int, 1>(7, [h](int* s) { return QRT_ExPowSupGetState(h, s, 1); });
         }},
        {"dio-get-di",
         [](void* h, bool) {
             return guarded<int, 1>(7, [h](int* s) { return QRT_DIOGetDIState(h, 0, s); });
         }},
        {"dio-get-dis",
         [](void* h, bool) {
             return guarded<int, 4>(7, [h](int* s) { return QRT_DIOGetDIStates(h, s, 4); });
         }},
        {"dio-set-do",
         [](void* h, bool restore) {
             return Outcome{QRT_DIOSetDOState(h, 0, restore ? 0 : 1), true};
         }},
        {"dio-get-do",
         [](void* h, bool) {
             return guarded<int, 1>(7, [h](int* s) { return QRT_DIOGetDOState(h, 0, s); });
         }},
        {"dio-get-edge",
         [](void* h, bool) {
             return guarded<QRT_EDGETRIGGER_TYPE, 1>(
                 QRT_EDGE_TRIGGER_BOTH,
                 [h](QRT_EDGETRIGGER_TYPE* e) { return QRT_DIOGetDIEdgeTrigger(h, 0, e); });
         }},
        {"dio-monitor",
         [](void* h, bool) {
             return Outcome{QRT_DIOSetDITriggerCallback(h, countTrigger), true};
         }},
        {"dio-unmonitor",
         [](void* h, bool) {
             return Outcome{QRT_DIOSetDITriggerCallback(h, nullptr), true};
         }},
        {"dio-trigger",
         [](void*, bool) {
             return Outcome{nextTrigger(), true};
         }},
        {"dio-set-edge",
         [](void* h, bool restore) {
             return Outcome{QRT_DIOSetDIEdgeTrigger(
                                h, 0, restore ? QRT_EDGE_TRIGGER_BOTH : QRT_EDGE_TRIGGER_EDGE1),
                            true};
         }},
    };
    return table;
}

// The pauses this process has asked for so far, in microseconds (0 outside a rig that skips
// them).
unsigned long long pausedUs() {
    using Counter = int (*)(unsigned long long*, unsigned long long*);
    static Counter counter =
        reinterpret_cast<Counter>(dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"));
    unsigned long long count = 0, us = 0;
    if (counter == nullptr || counter(&count, &us) != 1) return 0;
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    using nlohmann::json;
    void* product = QRT_GetProductHandle(0);
    std::printf("%s\n", json{{"products", QRT_GetProductNums()}}.dump().c_str());
    for (int i = 1; i < argc; ++i) {
        std::string step = argv[i];
        json out;
        if (step[0] == '@') {
            char reply[256];
            int rc = qrtsim::bridge::sendControl(step.c_str() + 1, reply, sizeof reply);
            out = {{"control", step.substr(1)}, {"ok", rc == 0}, {"reply", reply}};
        } else {
            bool restore = step[0] == '+';
            std::string name = restore ? step.substr(1) : step;
            auto call = calls().find(name);
            if (call == calls().end()) {
                std::fprintf(stderr, "fault_probe: no call %s\n", name.c_str());
                return 2;
            }
            unsigned long long before = pausedUs();
            Outcome outcome = call->second(product, restore);
            out = {{"call", step},
                   {"status", outcome.status},
                   {"guard", outcome.guard},
                   {"pauses_us", pausedUs() - before}};
            if (!outcome.value.is_null()) out["value"] = outcome.value;
        }
        std::printf("%s\n", out.dump().c_str());
        std::fflush(stdout);
    }
    return 0;
}
