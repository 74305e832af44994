#include "core/driver/A_driverIO.h"

#include "QRT_Types.h"

A_driverIO::~A_driverIO() {}

unsigned A_driverIO::open(const char*) {
    return static_cast<unsigned>(QRT_ERR_NOT_SUPPORTED);
}

unsigned A_driverIO::ioctl(unsigned long, void*, unsigned int) {
    return static_cast<unsigned>(QRT_ERR_NOT_SUPPORTED);
}

unsigned A_driverIO::close() {
    return static_cast<unsigned>(QRT_ERR_NOT_SUPPORTED);
}
