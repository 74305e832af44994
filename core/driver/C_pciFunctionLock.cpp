#include "core/driver/C_pciFunctionLock.h"

#include "QRT_Types.h"
#include "core/common/C_ObjectLock.h"
#include "core/driver/I_pciMap.h"

int C_pciFunctionLock::lockDevice() {
    const int status = m_map.tryLock();
    // The map still holds a key the driver would not take back at the last release: the
    // function is still this process's.
    return status == QRT_ERR_INVALID_PARAM ? QRT_SUCCESS : status;
}

int C_pciFunctionLock::unlockDevice() {
    return m_map.unLock();
}

A_deviceAccessLock* C_pciFunctionLock::sharedOf(I_pciMap* map) {
    return map != nullptr ? map->deviceAccessLock() : nullptr;
}

namespace {

// Takes (`take`) or gives back the map's lock under the chip's object lock: the map's shared
// lock, or the driver's for a map without one.
int underChipLock(const C_ObjectSemaphore& chipLock, I_pciMap* map, bool take) {
    C_ObjectLock lock(chipLock);
    if (!lock.held()) return QRT_ERR_BUSY;
    if (map == nullptr) return QRT_ERR_NOT_INITIALIZED;
    A_deviceAccessLock* shared = map->deviceAccessLock();
    if (shared != nullptr) return take ? shared->acquire() : shared->release();
    return take ? map->tryLock() : map->unLock();
}

}  // namespace

int C_pciFunctionLock::acquireFor(const C_ObjectSemaphore& chipLock, I_pciMap* map) {
    return underChipLock(chipLock, map, true);
}

int C_pciFunctionLock::releaseFor(const C_ObjectSemaphore& chipLock, I_pciMap* map) {
    return underChipLock(chipLock, map, false);
}
