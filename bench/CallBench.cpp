// Every C API operation on every product of the rig, through the whole SDK down to the rig's
// chip models. For each call the table shows its CPU cost with the pauses skipped (the time),
// the pauses the protocol asks for ("pause_ms", counted by interposing the sleep call), the
// driver requests and I2C messages it causes ("requests", "i2c", counted from the rig's trace),
// the protocol's minimum of requests and messages ("min_*", from the table below), and
// "bound": the estimated time on a card, (time + pauses), over the least the protocol allows,
// (pauses + minimum requests x the rig's cost of one request). Run it with bench/run.sh.
//
// A call is registered for a product when its first call does not answer "not supported".

#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "QRT_SDK.h"
#include "bench/RequestedPauses.h"
#include "bench/RigCounters.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/DriverRecords.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

using Call = int (*)(void* handle);

struct Operation {
    const char* name;
    Call call;
};

// Arguments the calls share; the setters write what the getters read back.
int g_enables[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
int g_states[64];
char g_text[512];
unsigned g_count;
int g_value;
unsigned g_uvalue;
unsigned long g_a, g_b, g_c;
float g_float;
QRT_EDGETRIGGER_TYPE g_edge;
QRT_FEATURE_TYPE g_features[16];

// clang-format off
#define OP(name, body) {name, [](void* h) -> int { return body; }}
// clang-format on

// One row per C API operation that takes a product handle.
const Operation kOperations[] = {
    OP("QRT_GetProductInfo", QRT_GetProductInfo(h, g_text, sizeof g_text)),
    OP("QRT_GetProductType", QRT_GetProductType(h) < 0 ? QRT_GetProductType(h) : 0),
    OP("QRT_GetProductSN", QRT_GetProductSN(h, g_text, sizeof g_text)),
    OP("QRT_GetFeatureList", QRT_GetFeatureList(h, g_features, 16) > 0 ? 0 : -5),
    OP("QRT_GetCardID", QRT_GetCardID(h, &g_value)),
    OP("QRT_PowCtrlGetPortNums", QRT_PowCtrlGetPortNums(h, &g_count)),
    OP("QRT_PowCtrlSetPortEnable", QRT_PowCtrlSetPortEnable(h, g_enables, 12)),
    OP("QRT_PowCtrlGetPortEnable", QRT_PowCtrlGetPortEnable(h, g_states, 12)),
    OP("QRT_ExPowSupGetNums", QRT_ExPowSupGetNums(h, &g_count)),
    OP("QRT_ExPowSupGetState", QRT_ExPowSupGetState(h, g_states, 4)),
    OP("QRT_ToEGetPortNums", QRT_ToEGetPortNums(h, &g_count)),
    OP("QRT_ToESendActionCommand", QRT_ToESendActionCommand(h, 0)),
    OP("QRT_ToESetActionCommand", QRT_ToESetActionCommand(h, 0, 0x12345678, 1, 0xffffffff)),
    OP("QRT_ToEGetActionCommand", QRT_ToEGetActionCommand(h, 0, &g_a, &g_b, &g_c)),
    OP("QRT_ToESetTriggerSource", QRT_ToESetTriggerSource(h, 0)),
    OP("QRT_ToEGetTriggerSource", QRT_ToEGetTriggerSource(h, &g_value)),
    OP("QRT_ToESetTriggerEnable", QRT_ToESetTriggerEnable(h, 0)),
    OP("QRT_ToEGetTriggerEnable", QRT_ToEGetTriggerEnable(h, &g_value)),
    OP("QRT_ToESetTriggerActivation", QRT_ToESetTriggerActivation(h, QRT_EDGE_TRIGGER_EDGE1)),
    OP("QRT_ToEGetTriggerActivation", QRT_ToEGetTriggerActivation(h, &g_edge)),
    OP("QRT_ToESetOneTriggerAllMode", QRT_ToESetOneTriggerAllMode(h, 0)),
    OP("QRT_ToEGetOneTriggerAllMode", QRT_ToEGetOneTriggerAllMode(h, &g_value)),
    OP("QRT_ToESetExTriggerDebounce", QRT_ToESetExTriggerDebounce(h, 10)),
    OP("QRT_ToEGetExTriggerDebounce", QRT_ToEGetExTriggerDebounce(h, &g_a)),
    OP("QRT_ToEGetExTriggerDebounceUnit", QRT_ToEGetExTriggerDebounceUnit(h, &g_a)),
    OP("QRT_ToEGetTriggerCount", QRT_ToEGetTriggerCount(h, 0, &g_uvalue, &g_count)),
    OP("QRT_ToEResetTriggerCount", QRT_ToEResetTriggerCount(h)),
    OP("QRT_PoEGetPortNums", QRT_PoEGetPortNums(h, &g_count)),
    OP("QRT_PoESetPortEnable", QRT_PoESetPortEnable(h, g_enables, 4)),
    OP("QRT_PoEGetPortEnable", QRT_PoEGetPortEnable(h, g_states, 4)),
    OP("QRT_PoESetPowConsumCalcModel", QRT_PoESetPowConsumCalcModel(h, 0)),
    OP("QRT_PoEGetPowConsumCalcModel", QRT_PoEGetPowConsumCalcModel(h, &g_value)),
    OP("QRT_PoESetProtectTempRange", QRT_PoESetProtectTempRange(h, 90, 80)),
    OP("QRT_PoEGetProtectTempRange", QRT_PoEGetProtectTempRange(h, &g_value, &g_states[0])),
    OP("QRT_PoEGetProperty/temperature", QRT_PoEGetProperty(h, QRT_POE_PROP_TEMPERATURE, &g_float)),
    OP("QRT_PoEGetProperty/consumed_budget",
       QRT_PoEGetProperty(h, QRT_POE_PROP_CONSUMED_BUDGET, &g_float)),
    OP("QRT_PoEGetProperty/total_budget",
       QRT_PoEGetProperty(h, QRT_POE_PROP_TOTAL_BUDGET, &g_float)),
    OP("QRT_PoEGetPortProperty/current",
       QRT_PoEGetPortProperty(h, 0, QRT_POEPORT_PROP_CURRENT, &g_float)),
    OP("QRT_PoEGetPortProperty/power_class",
       QRT_PoEGetPortProperty(h, 0, QRT_POEPORT_PROP_POWER_CLASS, &g_float)),
    OP("QRT_FanGetNums", QRT_FanGetNums(h, &g_count)),
    OP("QRT_FanGetSpeed", QRT_FanGetSpeed(h, 0, &g_uvalue)),
    OP("QRT_FanSetPWM", QRT_FanSetPWM(h, 0, 50)),
    OP("QRT_FanGetPWM", QRT_FanGetPWM(h, 0, &g_value)),
    OP("QRT_FanSetSmartFanEnable", QRT_FanSetSmartFanEnable(h, 0, 0)),
    OP("QRT_FanGetSmartFanEnable", QRT_FanGetSmartFanEnable(h, 0, &g_value)),
    OP("QRT_DIOGetDINums", QRT_DIOGetDINums(h, &g_count)),
    OP("QRT_DIOGetDONums", QRT_DIOGetDONums(h, &g_count)),
    OP("QRT_DIOSetDOState", QRT_DIOSetDOState(h, 0, 1)),
    OP("QRT_DIOGetDOState", QRT_DIOGetDOState(h, 0, &g_value)),
    OP("QRT_DIOSetDOStates", QRT_DIOSetDOStates(h, g_enables, 4)),
    OP("QRT_DIOGetDOStates", QRT_DIOGetDOStates(h, g_states, 4)),
    OP("QRT_DIOGetDIState", QRT_DIOGetDIState(h, 0, &g_value)),
    OP("QRT_DIOGetDIStates", QRT_DIOGetDIStates(h, g_states, 4)),
    OP("QRT_DIOSetDIEdgeTrigger", QRT_DIOSetDIEdgeTrigger(h, 0, QRT_EDGE_TRIGGER_BOTH)),
    OP("QRT_DIOGetDIEdgeTrigger", QRT_DIOGetDIEdgeTrigger(h, 0, &g_edge)),
    OP("QRT_DIOSetDITriggerEnable", QRT_DIOSetDITriggerEnable(h, 0, 0)),
    OP("QRT_DIOGetDITriggerEnable", QRT_DIOGetDITriggerEnable(h, 0, &g_uvalue)),
};
#undef OP

// The least a call can ask of the hardware: the exchanges its protocol needs for the answer,
// with identity read once at detection (or at the first call) and kept. An exchange costs the
// driver requests its chips take at the rig's default settings: every exchange runs under the
// card's driver lock (a lock and an unlock request; the exchanges of one call share it), a
// serial transfer of a PEX switch meets its port busy for two polls, a CPLD's I2C master for
// as many polls as its transfer takes. The pauses are not in the table: every pause the SDK
// makes is one its protocol prescribes, counted as it is asked for.
struct Minimum {
    const char* call;   // call name, or a prefix ending in '*'
    const char* model;  // model string, or a prefix ending in '*'; the first match counts
    double requests;
    double i2c;
};

// Exchanges of one call: `reads` and `writes` of a card microcontroller, whose read costs
// `read` requests and two I2C messages and whose write costs `write` requests and one message,
// with one lock pair for the whole call (`lockPair` requests; none on a Linux I2C adapter).
constexpr Minimum mcu(const char* call, const char* model, int reads, int writes, double read,
                      double write, double lockPair = 2) {
    return {call, model, reads * read + writes * write - lockPair * (reads + writes - 1),
            2.0 * reads + writes};
}
// PoE cards on the PEX 8608: CPLD on the switch's serial port, microcontroller behind its I2C
// master; PCIe-RHX10T: CPLD on the X550's I2C master.
constexpr double kPexRead = 247, kPexWrite = 134, kX550Read = 71, kX550Write = 41;
// USB3 cards: a mailbox read (command word, answer 50 ms later) 13 requests with the lock
// pair; the power word 7 (its port still busy from the previous command); one switch register
// 3; the pin directions (read, then written with the chip's bits kept) 4.
constexpr double kMailbox = 13, kPowerWord = 7, kPinRegister = 3, kPinDirections = 4;

#define MCU_CALLS(model, read, write, lock)                                          \
    mcu("QRT_ExPowSupGetState", model, 1, 0, read, write, lock),                     \
        mcu("QRT_PoEGetPortEnable", model, 1, 0, read, write, lock),                 \
        mcu("QRT_PoESetPortEnable", model, 0, 1, read, write, lock),                 \
        mcu("QRT_PoEGetPowConsumCalcModel", model, 1, 0, read, write, lock),         \
        mcu("QRT_PoESetPowConsumCalcModel", model, 0, 1, read, write, lock),         \
        mcu("QRT_PoEGetProtectTempRange", model, 2, 0, read, write,                  \
            lock), /* current thresholds, the changed one written, both read back */ \
        mcu("QRT_PoESetProtectTempRange", model, 3, 1, read, write,                  \
            lock), /* two samples, compared */                                       \
        mcu("QRT_PoEGetProperty/temperature", model, 2, 0, read, write, lock),       \
        mcu("QRT_PoEGetProperty/consumed_budget", model, 1, 0, read, write, lock),   \
        mcu("QRT_PoEGetProperty/total_budget", model, 1, 0, read, write,             \
            lock), /* the relay select, then the reading */                          \
        mcu("QRT_PoEGetPortProperty/current", model, 1, 1, read, write, lock),       \
        mcu("QRT_PoEGetPortProperty/power_class", model, 1, 1, read, write, lock),   \
        mcu("QRT_FanGetSpeed", model, 1, 0, read, write, lock),                      \
        mcu("QRT_FanGetPWM", model, 1, 0, read, write, lock),                        \
        mcu("QRT_FanSetPWM", model, 0, 1, read, write, lock),                        \
        mcu("QRT_FanGetSmartFanEnable", model, 1, 0, read, write, lock),             \
        mcu("QRT_FanSetSmartFanEnable", model, 0, 1, read, write, lock)

// Trigger over Ethernet: register accesses of the CPLD, one lock pair per call. On the PEX 8608
// cards the CPLD sits on the switch's serial port: a write is the port's busy check, the data
// and the command (3 requests), a read the busy check, the command, the port busy for two more
// polls and the data (6, with the 1 ms the data takes to settle); after either the CPLD shows
// its status busy once, so two status reads (12) follow: 17 per write, 18 per read. On the
// PCIe-RHX10T the CPLD is an I2C device of the X550: a 2-byte register write 3 requests (and the
// 5 ms the CPLD takes to carry it out), a 4-byte read 6. A stored action command is 64 frame
// bytes and 2 closing writes, one DPRAM word each; reading it back asks for the 12 key bytes,
// each a DPRAM address write and a read. Setters read the control word and write it only when
// the value changes; the read-back flag changes only between storing and reading back.
constexpr double kSpiCpldWrite = 17, kSpiCpldRead = 18, kI2cCpldWrite = 3, kI2cCpldRead = 6;
constexpr int kFrameWrites = 66, kKeyBytes = 12;
#define TOE_CALLS(model, read, write)                                                        \
    Minimum{"QRT_ToESendActionCommand", model, 2 + write, 0},                                \
        Minimum{"QRT_ToESetActionCommand", model, 2 + read + kFrameWrites * write, 0},       \
        Minimum{"QRT_ToEGetActionCommand", model, 2 + read + kKeyBytes * (write + read), 0}, \
        Minimum{"QRT_ToESetTriggerSource", model, 2 + read, 0},                              \
        Minimum{"QRT_ToEGetTriggerSource", model, 2 + read, 0},                              \
        Minimum{"QRT_ToESetTriggerEnable", model, 2 + read, 0},                              \
        Minimum{"QRT_ToEGetTriggerEnable", model, 2 + read, 0},                              \
        Minimum{"QRT_ToESetTriggerActivation", model, 2 + read, 0},                          \
        Minimum{"QRT_ToEGetTriggerActivation", model, 2 + read, 0},                          \
        Minimum{"QRT_ToESetOneTriggerAllMode", model, 2 + read, 0},                          \
        Minimum{"QRT_ToEGetOneTriggerAllMode", model, 2 + read, 0},                          \
        Minimum{"QRT_ToESetExTriggerDebounce", model, 2 + read, 0},                          \
        Minimum{"QRT_ToEGetExTriggerDebounce", model, 2 + read, 0},                          \
        Minimum{"QRT_ToEGetTriggerCount", model, 2 + read, 0}, Minimum {                     \
        "QRT_ToEResetTriggerCount", model, 2 + write, 0                                      \
    }

// PCIe-RHX44+: one transaction of 5 bytes to the power chip, every pin change one queued write:
// the start (both lines high for the bus-free time, data low, clock low: 3), per byte a data
// step and a clock pulse per bit and the acknowledge clock (26), the stop (data low, clock high,
// data high: 3), the execution of the queue and the lock pair (3). Each step is the bus's own,
// also where the data line keeps its level: the power chip samples what the pins show.
constexpr double kRhx44PortEnable = 3 + 5 * 26 + 3 + 3;

const Minimum kMinimums[] = {
    // Identity and constants: kept or known, nothing to ask.
    {"QRT_GetProductInfo", "*", 0, 0},
    {"QRT_GetProductType", "*", 0, 0},
    {"QRT_GetProductSN", "*", 0, 0},
    {"QRT_GetFeatureList", "*", 0, 0},
    {"QRT_PowCtrlGetPortNums", "*", 0, 0},
    {"QRT_ExPowSupGetNums", "*", 0, 0},
    {"QRT_ToEGetPortNums", "*", 0, 0},
    {"QRT_ToEGetExTriggerDebounceUnit", "*", 0, 0},
    {"QRT_PoEGetPortNums", "*", 0, 0},
    {"QRT_FanGetNums", "*", 0, 0},
    {"QRT_DIOGetDINums", "*", 0, 0},
    {"QRT_DIOGetDONums", "*", 0, 0},
    // USB3 cards.
    {"QRT_GetCardID", "PCIe-W5*", kMailbox, 0},
    {"QRT_PowCtrlGetPortEnable", "PCIe-W512*", kMailbox + kPinRegister, 0},
    {"QRT_PowCtrlGetPortEnable", "PCIe-W5*", kMailbox, 0},
    {"QRT_PowCtrlSetPortEnable", "PCIe-W512*", kPowerWord + kPinDirections, 0},
    {"QRT_PowCtrlSetPortEnable", "PCIe-W5*", kPowerWord, 0},
    {"QRT_ExPowSupGetState", "PCIe-W5*", kPinRegister, 0},
    // PoE cards: microcontroller exchanges.
    MCU_CALLS("PCIe-RHX10T", kX550Read, kX550Write, 2),
    MCU_CALLS("PCIe-RHX5*", kPexRead, kPexWrite, 2),
    MCU_CALLS("PCIe-RHXGPU*", kPexRead, kPexWrite, 2),
    MCU_CALLS("TULAN-KQX", 0, 0, 0),
    // Trigger over Ethernet and the card identifier of the PCIe-RHX10T (a CPLD register); the
    // other PoE cards' identifiers are straps read at detection.
    TOE_CALLS("PCIe-RHX10T", kI2cCpldRead, kI2cCpldWrite),
    TOE_CALLS("PCIe-RHX5*", kSpiCpldRead, kSpiCpldWrite),
    TOE_CALLS("PCIe-RHXGPU*", kSpiCpldRead, kSpiCpldWrite),
    {"QRT_GetCardID", "PCIe-RHX10T", 2 + kI2cCpldRead, 0},
    {"QRT_GetCardID", "PCIe-RHX*", 0, 0},
    {"QRT_PoESetPortEnable", "PCIe-RHX44+", kRhx44PortEnable, 1},
    // The embedded system: its microcontroller on a Linux I2C adapter (no driver request, the
    // same messages as on the cards); each digital line is one file of the DIO driver.
    {"QRT_DIO*", "TULAN-KQX", 0, 0},
};
#undef MCU_CALLS
#undef TOE_CALLS

bool matches(const char* pattern, const std::string& text) {
    const size_t length = std::strlen(pattern);
    if (length > 0 && pattern[length - 1] == '*')
        return text.compare(0, length - 1, pattern, length - 1) == 0;
    return text == pattern;
}

Minimum minimumOf(const char* call, const std::string& model) {
    for (const Minimum& row : kMinimums)
        if (matches(row.call, call) && matches(row.model, model)) return row;
    return {call, "", -1, -1};  // not analysed
}

// The rig's cost of one driver request, in microseconds: register reads on the first PCI
// function the SDK scans for, as bare requests on the driver channel.
double costPerRequestUs() {
    C_linuxDriverIO io;
    if (!io.open("___nk_pcimap")) return 0;
    static const int kScanned[][2] = {{0x8086, 0x1563}, {0x10B5, 0x8608}, {0x10B5, 0x8718}};
    int device = -1;
    unsigned char newScan = 1;
    for (const auto& pair : kScanned) {
        int first = -1, count = 0;
        if (ZEPPCIManager::addScanDevice(&io, pair[0], pair[1], &first, &count, newScan) ==
                QRT_SUCCESS &&
            count > 0 && device < 0)
            device = first;
        newScan = 0;
    }
    if (device < 0) return 0;
    // The best of several samples: on a shared machine the other programs only ever add.
    constexpr int kSamples = 10, kReads = 200;
    double best = 0;
    for (int sample = 0; sample < kSamples; ++sample) {
        nkpcimap::RegisterAccessRecord record = {};
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kReads; ++i) {
            record = {};
            record.deviceIndex = unsigned(device);
            record.operation = nkpcimap::kOperationRead;
            record.width = record.length = 4;
            nkpcimap::issueRequest(&io, nkpcimap::kRegisterAccess, record);
        }
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        if (sample == 0 || took.count() / kReads < best) best = took.count() / kReads;
    }
    return best;
}

std::string modelOf(void* handle) {
    char info[512] = {};
    QRT_GetProductInfo(handle, info, sizeof info);
    const char* line = std::strstr(info, "Product:");
    if (line == nullptr) return "unknown";
    line += std::strlen("Product:");
    return std::string(line, std::strcspn(line, "\r\n"));
}

void runCall(benchmark::State& state, void* handle, const Operation* operation, Minimum minimum,
             double requestUs) {
    RigCounters traffic;
    RequestedPauses pauses;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const int status = operation->call(handle);
        if (status < 0 && status != QRT_ERR_FAILED) {
            state.SkipWithError(("status " + std::to_string(status)).c_str());
            break;
        }
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    pauses.report(state);
    traffic.report(state);
    // Every row gets the same columns (one table); "nan" where the call is not analysed.
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    const bool known = minimum.requests >= 0;
    state.counters["min_requests"] = known ? minimum.requests : unknown;
    state.counters["min_i2c"] = known ? minimum.i2c : unknown;
    // The time a card would take over the least its protocol allows: the pauses it asks for
    // are all prescribed, so the least is those pauses plus the minimum requests.
    const double iterations = double(state.iterations());
    const double pauseMs = state.counters.count("pause_ms") != 0
                               ? double(state.counters["pause_ms"].value) / iterations
                               : 0;
    const double least = pauseMs + (known ? minimum.requests : 0) * requestUs / 1e3;
    state.counters["bound"] = known && iterations > 0 && least > 0
                                  ? (took.count() / iterations + pauseMs) / least
                                  : unknown;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const double requestUs = costPerRequestUs();
    std::printf("rig cost per driver request: %.1f us\n", requestUs);
    std::vector<std::string> seen;
    for (unsigned index = 0; index < QRT_GetProductNums(); ++index) {
        void* handle = QRT_GetProductHandle(index);
        const std::string model = modelOf(handle);
        bool again = false;
        for (const std::string& other : seen) again = again || other == model;
        if (again) continue;
        seen.push_back(model);
        for (const Operation& operation : kOperations) {
            // A first call settles what is read once; a call the product does not offer is
            // not measured.
            if (operation.call(handle) == QRT_ERR_NOT_SUPPORTED) continue;
            const std::string name = std::string(operation.name) + "/" + model;
            benchmark::RegisterBenchmark(name.c_str(), runCall, handle, &operation,
                                         minimumOf(operation.name, model), requestUs)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
