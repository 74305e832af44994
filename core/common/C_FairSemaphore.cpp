#include "core/common/C_FairSemaphore.h"

#include <algorithm>

bool C_FairSemaphore::take(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(m_mutex);
    if (!m_taken && m_waiters.empty()) {
        m_taken = true;
        return true;
    }
    Waiter me;
    m_waiters.push_back(&me);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!me.granted) {
        if (me.handedOver.wait_until(guard, deadline) == std::cv_status::timeout && !me.granted) {
            m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &me));
            return false;
        }
    }
    return true;
}

bool C_FairSemaphore::give() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_taken) return false;
    if (m_waiters.empty()) {
        m_taken = false;
        return true;
    }
    // Handed over without being freed in between: nobody can slip in ahead of the waiter.
    // The waiter cannot leave (and take its condition variable with it) before this mutex is
    // released.
    Waiter* next = m_waiters.front();
    m_waiters.pop_front();
    next->granted = true;
    next->handedOver.notify_one();
    return true;
}

bool C_FairSemaphore::inUse() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_taken || !m_waiters.empty();
}
