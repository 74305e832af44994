#include "core/driver/C_pciFunctionLock.h"

#include "QRT_Types.h"
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

int C_pciFunctionLock::acquireOn(I_pciMap& map) {
    A_deviceAccessLock* shared = map.deviceAccessLock();
    return shared != nullptr ? shared->acquire() : map.tryLock();
}

int C_pciFunctionLock::releaseOn(I_pciMap& map) {
    A_deviceAccessLock* shared = map.deviceAccessLock();
    return shared != nullptr ? shared->release() : map.unLock();
}
