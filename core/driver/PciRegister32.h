#pragma once

#include <cstdint>

#include "QRT_Types.h"
#include "core/driver/I_pciMap.h"

// One 32-bit register of a PCI function through its map: the chips' register spaces are
// little-endian, and the access is the register's own width (4 bytes as width and length).
inline int readPciRegister32(I_pciMap& map, uint64_t offset, uint32_t* value) {
    unsigned char bytes[4] = {};
    const int status = map.readRegister(offset, 4, bytes, 4);
    if (status != QRT_SUCCESS) return status;
    *value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
             uint32_t{bytes[3]} << 24;
    return QRT_SUCCESS;
}

inline int writePciRegister32(I_pciMap& map, uint64_t offset, uint32_t value) {
    unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return map.writeRegister(offset, 4, bytes, 4);
}
