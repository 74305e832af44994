#pragma once

#include "QRT_Types.h"
#include "core/common/A_deviceAccessLock.h"
#include "core/common/C_ObjectLock.h"

// Holds what one hardware transaction needs for one scope: the owner's object lock against the
// other threads of this process, then the device's access lock against other processes (see
// A_deviceAccessLock), always in that order; released in reverse order on destruction, each
// only if it was taken. Without a device lock (a bus that no other process can reach, a
// stand-in in a test) only the object lock is taken; without an object lock (a transaction
// made of calls that each take their object's lock) only the device lock.
//
//     C_TransactionLock lock(m_lock, deviceAccessLockOf(m_bus));
//     if (!lock.held()) return lock.status();
class C_TransactionLock {
  public:
    C_TransactionLock(const C_ObjectSemaphore& objectLock, A_deviceAccessLock* device)
        : m_object(objectLock.handle()) {
        if (I_CommonDef::sem_trywait(m_object) != 1) {
            m_object = nullptr;
            m_status = QRT_ERR_BUSY;
            return;
        }
        acquireDevice(device);
    }
    explicit C_TransactionLock(A_deviceAccessLock* device) { acquireDevice(device); }
    ~C_TransactionLock() {
        if (m_device != nullptr) m_device->release();
        if (m_object != nullptr) I_CommonDef::sem_post(m_object);
    }
    C_TransactionLock(const C_TransactionLock&) = delete;
    C_TransactionLock& operator=(const C_TransactionLock&) = delete;

    bool held() const { return m_status == QRT_SUCCESS; }
    // QRT_SUCCESS, QRT_ERR_BUSY (a lock not obtained in its bound) or the device lock request's
    // failure: what the caller answers without touching the hardware.
    int status() const { return m_status; }

  private:
    void acquireDevice(A_deviceAccessLock* device) {
        if (device == nullptr) return;
        m_status = device->acquire();
        if (m_status == QRT_SUCCESS) m_device = device;
    }

    void* m_object = nullptr;
    A_deviceAccessLock* m_device = nullptr;
    int m_status = QRT_SUCCESS;
};
