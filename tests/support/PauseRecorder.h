#pragma once

// Include in exactly one .cpp of a test program to make that program's pauses instant.
//
// The SDK never measures time: every wait is a fixed pause through I_CommonDef::Sleep, which
// calls usleep(). Defining usleep in the test executable interposes the libc one for the SDK
// libraries too, so a test can run retry loops (30 attempts with 100 ms back-off, 11 attempts
// with 30 ms pauses) at full speed and still check exactly which pauses were requested.
// Do not use it in programs whose tests need real time (lock contention between threads).

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qrttest {

struct PauseRecorder {
    std::mutex mutex;
    std::vector<uint64_t> pauses;  // requested pauses in microseconds, in call order

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
};

}  // namespace qrttest

extern "C" int usleep(useconds_t us) {
    auto& r = qrttest::PauseRecorder::instance();
    std::lock_guard<std::mutex> g(r.mutex);
    r.pauses.push_back(us);
    return 0;
}
