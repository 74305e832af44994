#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// The binary semaphore behind every object's lock. A thread that finds it taken waits, and is
// woken by the release that hands the semaphore to it: waiters are served in the order they
// came, and a thread that arrives while others wait queues behind them even if the semaphore is
// free at that instant, so a caller that releases and takes again in a loop cannot starve the
// others. A waiter gives up when its bound has passed; it then leaves the queue untouched by
// the semaphore.
class C_FairSemaphore {
  public:
    C_FairSemaphore() = default;
    C_FairSemaphore(const C_FairSemaphore&) = delete;
    C_FairSemaphore& operator=(const C_FairSemaphore&) = delete;

    // True once taken, false when it was not handed over within `bound`.
    bool take(std::chrono::milliseconds bound);
    // Hands it to the longest waiter, or frees it. False when it was not taken.
    bool give();
    // Whether a thread holds it or waits for it.
    bool inUse() const;

  private:
    struct Waiter {
        std::condition_variable handedOver;
        bool granted = false;
    };

    mutable std::mutex m_mutex;
    bool m_taken = false;
    std::deque<Waiter*> m_waiters;  // arrival order; each lives on its waiting thread's stack
};
