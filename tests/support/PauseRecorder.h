#pragma once

// Include in exactly one .cpp of a test program to make that program's pauses instant.
//
// The SDK never measures time: every wait is a fixed pause through I_CommonDef::Sleep, which
// calls usleep(). Defining usleep in the test executable interposes the libc one for the SDK
// libraries too, so a test can run retry loops (30 attempts with 100 ms back-off, 11 attempts
// with 30 ms pauses) at full speed and still check exactly which pauses were requested.
// Do not use it in programs whose tests need real time (lock contention between threads).

#include <unistd.h>

#include "support/PauseLog.h"

extern "C" int usleep(useconds_t us) {
    auto& r = qrttest::PauseRecorder::instance();
    std::lock_guard<std::mutex> g(r.mutex);
    r.pauses.push_back(us);
    r.elapsedUs += us;
    return 0;
}
