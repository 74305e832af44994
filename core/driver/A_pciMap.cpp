#include "core/driver/A_pciMap.h"

#include "QRT_Types.h"

A_pciMap::~A_pciMap() {}

int A_pciMap::initial(I_driverIO*, unsigned) {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::getDeviceInfo(int*, int*) {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::readRegister(unsigned long, unsigned, unsigned char*, unsigned) {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::writeRegister(unsigned long, unsigned, unsigned char*, unsigned) {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::cacheWriteCmds(unsigned long, unsigned, unsigned char*, unsigned char*, unsigned,
                             unsigned) {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::clearCmdCache() {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::exeCmdCache() {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::tryLock() {
    return QRT_ERR_NOT_SUPPORTED;
}
int A_pciMap::unLock() {
    return QRT_ERR_NOT_SUPPORTED;
}
A_deviceAccessLock* A_pciMap::deviceAccessLock() {
    return nullptr;
}
