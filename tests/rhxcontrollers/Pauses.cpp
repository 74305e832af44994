// The one place of this program that interposes the pause: every requested pause returns at
// once and is recorded.
#include "support/PauseRecorder.h"

#include "FakeBuses.h"

namespace rhxtest {

std::vector<unsigned> pausesMs() {
    std::vector<unsigned> ms;
    for (uint64_t us : qrttest::PauseRecorder::taken())
        ms.push_back(static_cast<unsigned>(us / 1000));
    return ms;
}

void clearPauses() {
    qrttest::PauseRecorder::clear();
}

size_t pauseCount(unsigned ms) {
    return qrttest::PauseRecorder::count(uint64_t{ms} * 1000);
}

}  // namespace rhxtest
