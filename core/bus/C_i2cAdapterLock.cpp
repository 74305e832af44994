#include "core/bus/C_i2cAdapterLock.h"

#include <errno.h>
#include <sys/file.h>

#include "QRT_Types.h"

int C_i2cAdapterLock::lockDevice() {
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return QRT_SUCCESS;
    // Held by another open file of the adapter; an interrupted request is simply asked again.
    return errno == EWOULDBLOCK || errno == EINTR ? QRT_ERR_BUSY : QRT_ERR_FAILED;
}

int C_i2cAdapterLock::unlockDevice() {
    return ::flock(m_fd, LOCK_UN) == 0 ? QRT_SUCCESS : QRT_ERR_FAILED;
}
