#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// The lock that keeps other processes off one device while a transaction runs on it: the kernel
// driver's per-function lock of a card, an advisory lock on a Linux I2C adapter. The system
// grants it to a process, not to a thread, so this process holds it as a whole: the first of
// its threads that needs it takes it from the system, the others join in while it is held, and
// the last one to finish gives it back. It never keeps two threads of this process apart; their
// object locks do that.
//
// A transaction owner takes its own object lock first and this lock second (C_TransactionLock);
// the objects below it take theirs while this one is held. That cannot deadlock: a thread only
// ever waits here while no thread of its process holds the device, that is, for another
// process, and no other process waits for this one's object locks.
//
// Waiting for another process is polling, since the system's lock request does not block:
// every kPollIntervalMs in real time (the wait is for another process, not a pause of a device
// protocol), for at most the object lock's bound. A process that releases the device and at
// once takes it again would leave a poller only a chance in many of finding it free; so after a
// long hold (more than kLongHoldMs), or while others have lately held the device against this
// process, it leaves the device alone for kCourtesyMs after giving it back: a waiting process
// gets its turn between two transactions of this one. Short holds, which pollers do find free,
// pay nothing.
class A_deviceAccessLock {
  public:
    static constexpr int kPollIntervalMs = 1;
    static constexpr int kCourtesyMs = 2;
    static constexpr int kLongHoldMs = 2;
    static constexpr int kContentionMemoryMs = 1000;

    virtual ~A_deviceAccessLock() = default;
    A_deviceAccessLock(const A_deviceAccessLock&) = delete;
    A_deviceAccessLock& operator=(const A_deviceAccessLock&) = delete;

    // Holds the device for the calling thread: at once while this process holds it, else when
    // the system grants it. 0; QRT_ERR_BUSY when other processes kept it for the whole bound;
    // or the failure of the system's lock request.
    int acquire();
    // Ends one acquire; the last one gives the device back: 0 or the failure of giving it back.
    // QRT_ERR_INVALID_PARAM when this process does not hold it.
    int release();

  protected:
    A_deviceAccessLock() = default;

    // One request to the system, without waiting: 0 when it granted the lock, QRT_ERR_BUSY when
    // another process holds it, else the failure. Called with this object's mutex held.
    virtual int lockDevice() = 0;
    virtual int unlockDevice() = 0;

  private:
    using Clock = std::chrono::steady_clock;

    // The earliest moment of this process's next request to the system.
    Clock::time_point nextRequestAt() const;

    std::mutex m_mutex;
    std::condition_variable m_changed;  // the device became held by this process
    unsigned m_holders = 0;
    Clock::time_point m_takenAt{};
    Clock::time_point m_releasedAt{};
    bool m_courteous = false;  // the next take waits kCourtesyMs after the last release
    Clock::time_point m_lastRequest{};
    bool m_lastRefused = false;
    Clock::time_point m_lastRefusal{};
    bool m_everRefused = false;
};
