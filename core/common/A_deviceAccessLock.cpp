#include "core/common/A_deviceAccessLock.h"

#include <algorithm>

#include "QRT_Types.h"
#include "core/common/I_CommonDef.h"

A_deviceAccessLock::Clock::time_point A_deviceAccessLock::nextRequestAt() const {
    using std::chrono::milliseconds;
    // One request per poll interval while the system refuses, whichever thread makes it.
    Clock::time_point at =
        m_lastRefused ? m_lastRequest + milliseconds(kPollIntervalMs) : Clock::time_point{};
    if (m_courteous) at = std::max(at, m_releasedAt + milliseconds(kCourtesyMs));
    return at;
}

int A_deviceAccessLock::acquire() {
    std::unique_lock<std::mutex> guard(m_mutex);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(I_CommonDef::kLockWaitMs);
    for (;;) {
        if (m_holders > 0) {
            ++m_holders;
            return QRT_SUCCESS;
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point requestAt = nextRequestAt();
        if (now < requestAt) {
            if (now >= deadline) return QRT_ERR_BUSY;
            m_changed.wait_until(guard, std::min(requestAt, deadline));
            continue;
        }
        m_lastRequest = now;
        const int status = lockDevice();
        m_lastRefused = status == QRT_ERR_BUSY;
        if (status == QRT_SUCCESS) {
            m_holders = 1;
            m_takenAt = now;
            m_changed.notify_all();
            return QRT_SUCCESS;
        }
        if (status != QRT_ERR_BUSY) return status;
        m_everRefused = true;
        m_lastRefusal = now;
        if (now >= deadline) return QRT_ERR_BUSY;
    }
}

int A_deviceAccessLock::release() {
    using std::chrono::milliseconds;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_holders == 0) return QRT_ERR_INVALID_PARAM;
    if (--m_holders > 0) return QRT_SUCCESS;
    m_releasedAt = Clock::now();
    m_courteous =
        m_releasedAt - m_takenAt > milliseconds(kLongHoldMs) ||
        (m_everRefused && m_releasedAt - m_lastRefusal < milliseconds(kContentionMemoryMs));
    return unlockDevice();
}
