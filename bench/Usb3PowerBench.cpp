// USB3 port power through the C API on a 12-port card (PCIe-W512 or -W512P) of the rig: the
// whole path of a power call, from QRT_PowCtrl* through the card, its microcontroller and the
// PCIe switch's serial port down to the driver. Run under qrt-sim --skip-pauses, the time is
// the CPU cost of a call and the "pause_ms" counter is the pause the hardware protocol
// prescribes per call, which a real card adds on top.

#include <benchmark/benchmark.h>

#include "QRT_SDK.h"
#include "bench/RequestedPauses.h"

namespace {

constexpr unsigned kPorts = 12;

// The first 12-port card of the rig; null, with the benchmark skipped, when there is none.
void* twelvePortCard(benchmark::State& state) {
    for (unsigned index = 0; index < QRT_GetProductNums(); ++index) {
        void* handle = QRT_GetProductHandle(index);
        int type = QRT_GetProductType(handle);
        if (type == QRT_PRODUCT_W512 || type == QRT_PRODUCT_W512P) return handle;
    }
    state.SkipWithError("no PCIe-W512 in the rig (run under qrt-sim --rig bench/bench.rig)");
    return nullptr;
}

// Every call switches the ports, alternately all on and all off.
void BM_QRT_PowCtrlSetPortEnable(benchmark::State& state) {
    void* card = twelvePortCard(state);
    if (card == nullptr) return;
    int enables[kPorts];
    int on = 0;
    RequestedPauses pauses;
    for (auto _ : state) {
        on = !on;
        for (int& enable : enables) enable = on;
        if (QRT_PowCtrlSetPortEnable(card, enables, kPorts) != QRT_SUCCESS) {
            state.SkipWithError("QRT_PowCtrlSetPortEnable failed");
            break;
        }
    }
    pauses.report(state);
}
BENCHMARK(BM_QRT_PowCtrlSetPortEnable)->Unit(benchmark::kMicrosecond);

void BM_QRT_PowCtrlGetPortEnable(benchmark::State& state) {
    void* card = twelvePortCard(state);
    if (card == nullptr) return;
    int enables[kPorts];
    RequestedPauses pauses;
    for (auto _ : state) {
        if (QRT_PowCtrlGetPortEnable(card, enables, kPorts) != QRT_SUCCESS) {
            state.SkipWithError("QRT_PowCtrlGetPortEnable failed");
            break;
        }
        benchmark::DoNotOptimize(enables);
    }
    pauses.report(state);
}
BENCHMARK(BM_QRT_PowCtrlGetPortEnable)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
