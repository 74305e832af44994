// One round trip through the rig's device bridge, with the SDK's own classes: a register read
// (C_pciMap over C_linuxDriverIO on "/dev/___nk_pcimap") and one I2C_RDWR message (C_nkDTSI2C
// on "/dev/i2c-N"). Under qrt-sim each is an ioctl that the preloaded bridge carries to the rig
// server and back; the figure is what the virtual rig costs a call, not what a card costs.
//
// The I2C message needs a device that acknowledges: QRT_BENCH_I2C=ADAPTER:ADDRESS names one
// (for example "5:0x50"); without it the embedded system's EEPROM is used when the rig has the
// embedded system's file ("EEPROM.I2CBUS", device 0x50). Otherwise that benchmark is skipped.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/RequestedPauses.h"
#include "core/bus/C_nkDTSI2C.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/ZEPPCIManager.h"
#include "utilities/SModifyConfig.h"

namespace {

// The PCI functions the SDK scans for, in the order it registers them.
constexpr int kScannedFunctions[][2] = {{0x8086, 0x1563}, {0x10B5, 0x8608}, {0x10B5, 0x8718}};

constexpr unsigned long kEepromAddress = 0x50;

// The driver channel and a map bound to the first function the scan finds.
struct FirstFunction {
    C_linuxDriverIO io;
    C_pciMap map;
    std::string found;  // "vendor:device", empty when the rig has none
    std::string error;

    FirstFunction() {
        if (!io.open("___nk_pcimap")) {
            error = "cannot open /dev/___nk_pcimap (run under qrt-sim)";
            return;
        }
        unsigned char newScan = 1;
        for (const auto& pair : kScannedFunctions) {
            int first = -1, count = 0;
            int status =
                ZEPPCIManager::addScanDevice(&io, pair[0], pair[1], &first, &count, newScan);
            newScan = 0;
            if (status != QRT_SUCCESS || count < 1 || !found.empty()) continue;
            map.initial(&io, unsigned(first));
            char text[16];
            std::snprintf(text, sizeof text, "%04x:%04x", pair[0], pair[1]);
            found = text;
        }
        if (found.empty()) error = "the rig has no PCI function the SDK scans for";
    }
};

void BM_RegisterRead(benchmark::State& state) {
    static FirstFunction function;
    if (function.found.empty()) {
        state.SkipWithError(function.error.c_str());
        return;
    }
    state.SetLabel(function.found);
    unsigned char bytes[4] = {};
    RequestedPauses pauses;
    for (auto _ : state) {
        if (function.map.readRegister(0x0, 4, bytes, 4) != QRT_SUCCESS) {
            state.SkipWithError("register read failed");
            break;
        }
        benchmark::DoNotOptimize(bytes);
    }
    pauses.report(state);
}
BENCHMARK(BM_RegisterRead);

// Where the I2C benchmark sends its message: true with adapter and address when there is a
// device to address.
bool i2cTarget(unsigned* adapter, unsigned long* address, std::string* why) {
    if (const char* named = std::getenv("QRT_BENCH_I2C")) {
        if (std::sscanf(named, "%u:%li", adapter, address) == 2) return true;
        *why = "QRT_BENCH_I2C is not ADAPTER:ADDRESS";
        return false;
    }
    SModifyConfig system;
    if (system.loadConfig("/etc/tulankqx/system.ini") && system.hasKey("EEPROM.I2CBUS")) {
        *adapter = unsigned(system.getIntValue("EEPROM.I2CBUS", 10));
        *address = kEepromAddress;
        return true;
    }
    *why =
        "no I2C adapter: set QRT_BENCH_I2C=ADAPTER:ADDRESS or use a rig with the embedded system";
    return false;
}

// One I2C_RDWR message: a write of the one-byte register address (the device's pointer).
void BM_I2cMessage(benchmark::State& state) {
    unsigned adapter = 0;
    unsigned long address = 0;
    std::string why;
    if (!i2cTarget(&adapter, &address, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    C_nkDTSI2C bus;
    bus.initial(adapter);
    bus.setI2CSlave(address);
    // A device that does not answer would turn every message into eleven attempts 30 ms apart.
    if (bus.writeI2C(0x00, 1, nullptr, 0) != QRT_SUCCESS) {
        state.SkipWithError("no device acknowledges on the adapter");
        return;
    }
    char label[32];
    std::snprintf(label, sizeof label, "i2c-%u 0x%02lx", adapter, address);
    state.SetLabel(label);
    RequestedPauses pauses;
    for (auto _ : state) {
        if (bus.writeI2C(0x00, 1, nullptr, 0) != QRT_SUCCESS) {
            state.SkipWithError("I2C message failed");
            break;
        }
    }
    pauses.report(state);
}
BENCHMARK(BM_I2cMessage);

}  // namespace

BENCHMARK_MAIN();
