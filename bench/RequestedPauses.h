#pragma once

// The pauses this process asks for, as the rig's preloaded bridge counts them in a run with
// skipped pauses (qrt-sim --skip-pauses). A benchmark reports them per call beside its CPU
// cost: the waiting the hardware protocol prescribes, which a real card would add to every
// call. Outside such a run nothing is counted, the pauses are slept and end up in the time.

#include <dlfcn.h>

#include <benchmark/benchmark.h>

class RequestedPauses {
  public:
    // Starts counting from now.
    RequestedPauses()
        : query_(reinterpret_cast<Query>(::dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"))) {
        read(&count_, &microseconds_);
    }

    // Adds "pauses" and "pause_ms" per iteration since construction, or labels the benchmark
    // when the pauses were slept.
    void report(benchmark::State& state) const {
        unsigned long long count = 0, microseconds = 0;
        if (!read(&count, &microseconds)) {
            state.SetLabel("pauses slept (run under qrt-sim --skip-pauses to count them)");
            return;
        }
        state.counters["pauses"] =
            benchmark::Counter(double(count - count_), benchmark::Counter::kAvgIterations);
        state.counters["pause_ms"] = benchmark::Counter(double(microseconds - microseconds_) / 1e3,
                                                        benchmark::Counter::kAvgIterations);
    }

  private:
    using Query = int (*)(unsigned long long*, unsigned long long*);

    bool read(unsigned long long* count, unsigned long long* microseconds) const {
        return query_ != nullptr && query_(count, microseconds) == 1;
    }

    Query query_;
    unsigned long long count_ = 0;
    unsigned long long microseconds_ = 0;
};
