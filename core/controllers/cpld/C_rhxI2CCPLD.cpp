#include "core/controllers/cpld/C_rhxI2CCPLD.h"

#include <cstdio>

#include "QRT_Types.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_TransactionLock.h"

namespace {

// As an I2C slave the CPLD numbers its registers from 0: the trigger-over-Ethernet block
// first, the I2C master block at 0x50; short writes carry the bus's two data bytes.
const RHXCPLD_LAYOUT kI2CLayout = {0x00, 0x50, 2};

}  // namespace

C_rhxI2CCPLD::C_rhxI2CCPLD() : A_rhxCPLD(kI2CLayout) {}

// The bus must answer the block-size probe to count as usable. Its register-address width
// sets how many address bytes precede each access and the highest register reachable.
int C_rhxI2CCPLD::initial(I_nkI2C* bus) {
    C_ObjectLock lock(m_registerLock);
    if (!lock.held()) return QRT_ERR_BUSY;
    unsigned int blockSize = 0;
    if (bus == nullptr || bus->getI2CDataBlockSize(&blockSize) != QRT_SUCCESS) {
        m_bus = nullptr;
        return QRT_ERR_FAILED;
    }
    m_bus = bus;
    unsigned int regAddrSize = 0;
    if (bus->getI2CRegisterAdrSize(&regAddrSize) != QRT_SUCCESS) regAddrSize = 0;
    m_regAddrSize = regAddrSize;
    m_maxRegister = 255 * regAddrSize;
    return QRT_SUCCESS;
}

void C_rhxI2CCPLD::release() {
    {
        C_ObjectLock lock(m_registerLock);
        if (lock.held()) m_bus = nullptr;
    }
    releaseBridge();
}

A_deviceAccessLock* C_rhxI2CCPLD::deviceAccessLock() {
    return deviceAccessLockOf(m_bus);
}

// A bus without a register-address width gives no bound to check.
bool C_rhxI2CCPLD::registerInRange(unsigned long reg) const {
    return m_regAddrSize == 0 || reg <= m_maxRegister;
}

void C_rhxI2CCPLD::settleFailedWrite() {
    if (!m_failedWrite) return;
    I_CommonDef::Sleep(kWritePauseMs);
    m_failedWrite = false;
}

int C_rhxI2CCPLD::writeOnBus(unsigned long reg, unsigned char* data) {
    settleFailedWrite();
    int status = m_bus->writeI2C(reg, m_regAddrSize, data, kBusWriteLength);
    if (status != QRT_SUCCESS) {
        m_failedWrite = true;
        return status;
    }
    I_CommonDef::Sleep(kWritePauseMs);
    return QRT_SUCCESS;
}

int C_rhxI2CCPLD::readRegister(unsigned long reg, RHXCPLD_READDATA* word) {
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (!registerInRange(reg)) return QRT_ERR_INVALID_PARAM;
    settleFailedWrite();
    return m_bus->readI2C(word->data, 4, reg, m_regAddrSize);
}

int C_rhxI2CCPLD::readData(unsigned long reg, RHXCPLD_READDATA* word) {
    if (word == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    return readRegister(reg, word);
}

// A word goes out as two 2-byte writes, at reg and reg + 2; the second only when the caller
// asked for more than two bytes. A null word is a command-only access: the bus sends two zero
// bytes.
int C_rhxI2CCPLD::writeData(unsigned long reg, RHXCPLD_WRITEDATA* word, unsigned int length) {
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (!registerInRange(reg) || length > sizeof(RHXCPLD_WRITEDATA)) return QRT_ERR_INVALID_PARAM;

    unsigned char* low = word != nullptr ? word->data : nullptr;
    int status = writeOnBus(reg, low);
    if (status != QRT_SUCCESS || length <= kBusWriteLength) return status;
    unsigned char* high = word != nullptr ? word->data + kBusWriteLength : nullptr;
    return writeOnBus(reg + kBusWriteLength, high);
}

// The stamp is kept in two registers: date 0xYYYYMMDD and time 0x0000hhmm.
int C_rhxI2CCPLD::getVersion(char* text, unsigned int size) {
    if (text == nullptr || size == 0) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_versionText[0] == '\0') {
        RHXCPLD_READDATA timeWord, dateWord;
        if (readRegister(kRegVersionTime, &timeWord) != QRT_SUCCESS) return QRT_ERR_FAILED;
        if (readRegister(kRegVersionDate, &dateWord) != QRT_SUCCESS) return QRT_ERR_FAILED;
        const unsigned long t = wordValue(timeWord), d = wordValue(dateWord);
        std::snprintf(m_versionText, sizeof m_versionText, "%04lx%02lx%02lx_%02lx%02lx", d >> 16,
                      (d >> 8) & 0xFF, d & 0xFF, (t >> 8) & 0xFF, t & 0xFF);
    }
    std::snprintf(text, size, "%s", m_versionText);
    return QRT_SUCCESS;
}
