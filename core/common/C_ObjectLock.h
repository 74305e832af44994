#pragma once

#include "core/common/I_CommonDef.h"

// The per-object semaphore of a product, controller or bus object. Created free in the owner's
// constructor and destroyed with it; cannot be copied, so no two owners can destroy one
// semaphore. A semaphore that could not be created stays null and is never obtained, so every
// guarded operation of its owner answers busy instead of touching the hardware unguarded.
class C_ObjectSemaphore {
  public:
    C_ObjectSemaphore() { I_CommonDef::sem_init(m_sem); }
    ~C_ObjectSemaphore() {
        if (m_sem != nullptr) I_CommonDef::sem_destroy(m_sem);
    }
    C_ObjectSemaphore(const C_ObjectSemaphore&) = delete;
    C_ObjectSemaphore& operator=(const C_ObjectSemaphore&) = delete;

    void* handle() const { return m_sem; }

  private:
    void* m_sem = nullptr;
};

// Holds an object's semaphore for one scope: taken with the bounded wait (at most ten seconds,
// served in arrival order) on construction, released on destruction, only if it was taken. The
// caller checks held() and answers QRT_ERR_BUSY (-100) without touching the hardware when it is
// false:
//
//     C_ObjectLock lock(m_lock);
//     if (!lock.held()) return QRT_ERR_BUSY;
class C_ObjectLock {
  public:
    explicit C_ObjectLock(void* sem)
        : m_sem(sem), m_held(sem != nullptr && I_CommonDef::sem_trywait(sem) == 1) {}
    explicit C_ObjectLock(const C_ObjectSemaphore& sem) : C_ObjectLock(sem.handle()) {}
    ~C_ObjectLock() {
        if (m_held) I_CommonDef::sem_post(m_sem);
    }
    C_ObjectLock(const C_ObjectLock&) = delete;
    C_ObjectLock& operator=(const C_ObjectLock&) = delete;

    bool held() const { return m_held; }

  private:
    void* const m_sem;
    const bool m_held;
};
