#pragma once

// The pauses a test program requested, as support/PauseRecorder.h records them. Include this
// header where the records are read; include PauseRecorder.h (which interposes usleep) in
// exactly one .cpp of the program.

#include <cstdint>
#include <mutex>
#include <vector>

namespace qrttest {

struct PauseRecorder {
    std::mutex mutex;
    std::vector<uint64_t> pauses;  // requested pauses in microseconds, in call order
    uint64_t elapsedUs = 0;        // every pause ever requested, never cleared

    static PauseRecorder& instance() {
        static PauseRecorder recorder;
        return recorder;
    }
    static void clear() {
        std::lock_guard<std::mutex> g(instance().mutex);
        instance().pauses.clear();
    }
    static std::vector<uint64_t> taken() {
        std::lock_guard<std::mutex> g(instance().mutex);
        return instance().pauses;
    }
    // Number of recorded pauses of exactly `us` microseconds.
    static size_t count(uint64_t us) {
        size_t n = 0;
        for (uint64_t p : taken()) n += (p == us);
        return n;
    }
    // The time the program would have slept so far: the program's time line.
    static uint64_t elapsed() {
        std::lock_guard<std::mutex> g(instance().mutex);
        return instance().elapsedUs;
    }
};

}  // namespace qrttest
