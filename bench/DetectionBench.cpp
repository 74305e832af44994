// Detection: loads and unloads libQRT_SDK, which finds every product while it loads, and
// prints one line for the rig it runs in:
//     products=N load_ms=... pause_ms=... path_ms=... pauses=... requests=... i2c=... rss_kb=...
// per load (averages over the loads), with load_ms the time of a load (the CPU cost when the
// pauses are skipped), pause_ms the pauses asked for, path_ms those along the longest path (the
// slowest card's, when the cards are probed at once), and rss_kb the resident memory the loaded
// library adds to the process. bench/detection.sh runs it in
// rigs of 0 to 32 boards. Arguments: the number of loads (default 5). QRT_BENCH_LIBRARY names
// another libQRT_SDK.so to load.

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/RigCounters.h"

namespace {

using PauseQuery = int (*)(unsigned long long*, unsigned long long*);
using PathQuery = int (*)(unsigned long long*);
using ProductNums = unsigned (*)();

// Pauses requested so far and their length in microseconds; zeros outside a rig that counts.
void requestedPauses(unsigned long long* count, unsigned long long* microseconds) {
    static const auto query =
        reinterpret_cast<PauseQuery>(::dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"));
    *count = *microseconds = 0;
    if (query != nullptr) query(count, microseconds);
}

// The pauses so far along the process's longest path, in microseconds; 0 outside such a rig.
unsigned long long pausePath() {
    static const auto query =
        reinterpret_cast<PathQuery>(::dlsym(RTLD_DEFAULT, "qrtsim_pause_path"));
    unsigned long long microseconds = 0;
    if (query != nullptr) query(&microseconds);
    return microseconds;
}

long residentKb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return kb;
}

}  // namespace

int main(int argc, char** argv) {
    const int loads = argc > 1 ? std::atoi(argv[1]) : 5;
    if (loads < 1) {
        std::fprintf(stderr, "usage: %s [LOADS]\n", argv[0]);
        return 2;
    }
    // QRT_BENCH_LIBRARY loads another build of the library (for a before/after comparison).
    const char* path = std::getenv("QRT_BENCH_LIBRARY");
    if (path == nullptr) path = QRT_SDK_LIBRARY;
    RigCounters traffic;
    unsigned long long pauses0 = 0, us0 = 0;
    requestedPauses(&pauses0, &us0);
    const unsigned long long pathUs0 = pausePath();
    const long residentBefore = residentKb();
    long residentLoaded = 0;
    unsigned products = 0;
    double loadMs = 0;
    for (int load = 0; load < loads; ++load) {
        const auto start = std::chrono::steady_clock::now();
        void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (library == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path, ::dlerror());
            return 1;
        }
        loadMs += took.count();
        const auto nums = reinterpret_cast<ProductNums>(::dlsym(library, "QRT_GetProductNums"));
        products = nums != nullptr ? nums() : 0;
        if (load == 0) residentLoaded = residentKb();
        ::dlclose(library);
    }
    unsigned long long pauses = 0, us = 0;
    requestedPauses(&pauses, &us);
    const unsigned long long pathUs = pausePath();
    const RigCounters::Counts counts = traffic.take();
    std::printf(
        "products=%u load_ms=%.3f pause_ms=%.1f path_ms=%.1f pauses=%.1f requests=%.1f i2c=%.1f "
        "rss_kb=%ld\n",
        products, loadMs / loads, double(us - us0) / 1e3 / loads,
        double(pathUs - pathUs0) / 1e3 / loads, double(pauses - pauses0) / loads,
        double(counts.requests) / loads, double(counts.i2cMessages) / loads,
        residentLoaded - residentBefore);
    return 0;
}
