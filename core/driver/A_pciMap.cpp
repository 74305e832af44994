#include "core/driver/A_pciMap.h"

#include "QRT_Types.h"

A_pciMap::~A_pciMap() {}

A_deviceAccessLock* A_pciMap::deviceAccessLock() {
    return nullptr;
}
