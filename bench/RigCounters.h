#pragma once

// The rig's traffic this process caused, counted from the rig's trace (qrt-sim --trace FILE,
// with QRT_BENCH_TRACE=FILE in the environment): driver requests ("pcimap ..." lines) and I2C
// messages (lines of a CPLD's or a pin-driven I2C master and of Linux I2C adapters). The trace
// is flushed line by line, so the counts are complete when a call has returned. Without the
// variable nothing is counted.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

class RigCounters {
  public:
    struct Counts {
        unsigned long long requests = 0;
        unsigned long long i2cMessages = 0;
    };

    RigCounters() {
        const char* path = std::getenv("QRT_BENCH_TRACE");
        if (path != nullptr) file_ = std::fopen(path, "r");
        if (file_ != nullptr) std::fseek(file_, 0, SEEK_END);
    }
    ~RigCounters() {
        if (file_ != nullptr) std::fclose(file_);
    }
    RigCounters(const RigCounters&) = delete;
    RigCounters& operator=(const RigCounters&) = delete;

    bool counting() const { return file_ != nullptr; }

    // What was traced since the previous call (or since construction).
    Counts take() {
        Counts counts;
        if (file_ == nullptr) return counts;
        std::clearerr(file_);
        char line[1024];
        while (std::fgets(line, sizeof line, file_) != nullptr) {
            if (isRequest(line)) ++counts.requests;
            if (isI2cMessage(line)) ++counts.i2cMessages;
            // A line longer than the buffer is counted once, by its head.
            while (std::strchr(line, '\n') == nullptr &&
                   std::fgets(line, sizeof line, file_) != nullptr) {
            }
        }
        return counts;
    }

    // Adds "requests" and "i2c" per iteration since the last take().
    void report(benchmark::State& state) {
        if (file_ == nullptr) return;
        const Counts counts = take();
        state.counters["requests"] =
            benchmark::Counter(double(counts.requests), benchmark::Counter::kAvgIterations);
        state.counters["i2c"] =
            benchmark::Counter(double(counts.i2cMessages), benchmark::Counter::kAvgIterations);
    }

    static bool isRequest(const char* line) {
        return std::strncmp(line, "pcimap ", 7) == 0 &&
               std::strncmp(line, "pcimap release", 14) != 0;
    }
    static bool isI2cMessage(const char* line) {
        // "[card1] i2c-master read ...", "i2c-gpio write ...", "i2c-8 write addr=...".
        const char* at = std::strstr(line, "i2c-");
        if (at == nullptr || std::strstr(at, "violation") != nullptr) return false;
        const char* verb = std::strchr(at, ' ');
        return verb != nullptr &&
               (std::strncmp(verb, " read ", 6) == 0 || std::strncmp(verb, " write ", 7) == 0);
    }

  private:
    std::FILE* file_ = nullptr;
};
