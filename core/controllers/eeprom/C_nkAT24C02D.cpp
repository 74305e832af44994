#include "core/controllers/eeprom/C_nkAT24C02D.h"

C_nkAT24C02D::C_nkAT24C02D() = default;

C_nkAT24C02D::~C_nkAT24C02D() {
    C_ObjectLock lock(m_lock);
    m_bus = nullptr;
}

int C_nkAT24C02D::initial(I_nkI2C* bus) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_bus = bus;
    return QRT_SUCCESS;
}

// One sequential read: the device auto-increments its word address.
int C_nkAT24C02D::readData(unsigned long address, unsigned char* buf, unsigned int len) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (buf == nullptr || len == 0 || address > kLastAddress) return QRT_ERR_INVALID_PARAM;
    return m_bus->readI2C(buf, len, address, kWordAddressSize);
}

// Page writes: the device latches at most one 8-byte page per write and wraps inside the page,
// so a chunk never crosses a page end (a write starting mid-page first fills up that page).
// A write that would run past the last byte is refused rather than wrapping onto the first
// bytes (the port MAC addresses). Each chunk waits for the write cycle, because the device
// does not acknowledge while it programs. The first failing chunk ends the write and is
// reported; the bytes after it are not written.
int C_nkAT24C02D::writeData(unsigned long address, unsigned char* data, unsigned int len) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (data == nullptr || len == 0 || address > kLastAddress) return QRT_ERR_INVALID_PARAM;
    if (len > kLastAddress + 1 - address) return QRT_ERR_INVALID_PARAM;
    for (unsigned int done = 0; done < len;) {
        const unsigned long at = address + done;
        const unsigned int pageRoom = kWriteChunk - static_cast<unsigned int>(at % kWriteChunk);
        const unsigned int chunk = len - done < pageRoom ? len - done : pageRoom;
        int status = m_bus->writeI2C(at, kWordAddressSize, data + done, chunk);
        if (status != QRT_SUCCESS) return status;
        I_CommonDef::Sleep(kWriteCycleMs);
        done += chunk;
    }
    return QRT_SUCCESS;
}
