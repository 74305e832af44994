#pragma once

#include "core/common/A_deviceAccessLock.h"

class C_ObjectSemaphore;
class I_pciMap;

// The kernel driver's per-function lock, held by this process through one PCI map: the driver
// grants it to the map as a key that every register access of the map then carries, refuses
// the accesses of other processes meanwhile, and drops it when the process's file closes.
class C_pciFunctionLock : public A_deviceAccessLock {
  public:
    explicit C_pciFunctionLock(I_pciMap& map) : m_map(map) {}

    // The lock operations of a chip bound to `map` (tryLockOpation, unLockOpation), taken under
    // the chip's object lock: through the map's shared lock, or straight to the driver for a
    // map without one. QRT_ERR_BUSY without the object lock, QRT_ERR_NOT_INITIALIZED while the
    // chip has no map.
    static int acquireFor(const C_ObjectSemaphore& chipLock, I_pciMap* map);
    static int releaseFor(const C_ObjectSemaphore& chipLock, I_pciMap* map);
    // The shared lock of the chip's map (deviceAccessLock); null while it has none.
    static A_deviceAccessLock* sharedOf(I_pciMap* map);

  protected:
    int lockDevice() override;
    int unlockDevice() override;

  private:
    I_pciMap& m_map;
};
