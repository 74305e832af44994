#pragma once

#include "core/common/C_ObjectLock.h"
#include "core/driver/I_pciMap.h"

// Holds the kernel driver's command cache for one sequence of queued writes and its execution.
// The driver keeps one cache per open file and every thread of the process queues through the
// same file, so another thread's writes must not fall among this sequence's, nor its execution
// run them. Taken after the device's locks, released once the sequence has run; nothing is
// locked while it is held. A map whose channel needs no lock is held at once.
//
//     C_commandCacheLock cache(*map);
//     if (!cache.held()) return QRT_ERR_BUSY;
class C_commandCacheLock {
  public:
    explicit C_commandCacheLock(I_pciMap& map)
        : m_lock(map.commandCacheLock()),
          m_held(m_lock == nullptr ||
                 (m_lock->handle() != nullptr && I_CommonDef::sem_trywait(m_lock->handle()) == 1)) {
    }
    ~C_commandCacheLock() {
        if (m_lock != nullptr && m_held) I_CommonDef::sem_post(m_lock->handle());
    }
    C_commandCacheLock(const C_commandCacheLock&) = delete;
    C_commandCacheLock& operator=(const C_commandCacheLock&) = delete;

    bool held() const { return m_held; }

  private:
    const C_ObjectSemaphore* const m_lock;
    const bool m_held;
};
