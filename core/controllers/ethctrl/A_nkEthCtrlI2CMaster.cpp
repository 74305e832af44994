#include "core/controllers/ethctrl/A_nkEthCtrlI2CMaster.h"

#include <algorithm>
#include <cstring>

#include "core/common/C_TransactionLock.h"
#include "core/driver/C_pciFunctionLock.h"
#include "core/driver/PciRegister32.h"

namespace {

constexpr int kPollPauseMs = 1;

}  // namespace

A_nkEthCtrlI2CMaster::A_nkEthCtrlI2CMaster(const NK_ETHCTRLCHIP& chip) : m_chip(chip) {}

A_nkEthCtrlI2CMaster::~A_nkEthCtrlI2CMaster() {
    C_ObjectLock lock(m_lock);
    m_pciMap = nullptr;
}

int A_nkEthCtrlI2CMaster::readRegister32(uint64_t offset, uint32_t* value) {
    return readPciRegister32(*m_pciMap, offset, value);
}

int A_nkEthCtrlI2CMaster::writeRegister32(uint64_t offset, uint32_t value) {
    return writePciRegister32(*m_pciMap, offset, value);
}

// ---- identity and binding -------------------------------------------------------------------

int A_nkEthCtrlI2CMaster::initial(void* pciMap) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    if (pciMap == nullptr) {
        m_pciMap = nullptr;
        return QRT_ERR_INVALID_PARAM;
    }
    I_pciMap* map = static_cast<I_pciMap*>(pciMap);
    int vendor = 0;
    int device = 0;
    if (map->getDeviceInfo(&vendor, &device) != QRT_SUCCESS || vendor != m_chip.vendorId ||
        device != m_chip.deviceId)
        return QRT_ERR_FAILED;
    m_pciMap = map;
    C_TransactionLock transaction(map->deviceAccessLock());
    if (!transaction.held()) return transaction.status();
    return setupController() == QRT_SUCCESS ? QRT_SUCCESS : QRT_ERR_FAILED;
}

int A_nkEthCtrlI2CMaster::updateParameterRegister() {
    uint32_t word = 0;
    int status = readRegister32(m_chip.i2cParameterRegister, &word);
    if (status != QRT_SUCCESS) return status;
    return writeRegister32(m_chip.i2cParameterRegister, parameterWord(word));
}

int A_nkEthCtrlI2CMaster::getChipName(char* name, unsigned int size) {
    if (name == nullptr) return QRT_ERR_INVALID_PARAM;
    std::memcpy(name, m_chip.chipName, std::min<size_t>(size, std::strlen(m_chip.chipName)));
    return QRT_SUCCESS;
}

// ---- the kernel driver's device access lock --------------------------------------------------

A_deviceAccessLock* A_nkEthCtrlI2CMaster::deviceAccessLock() {
    return C_pciFunctionLock::sharedOf(m_pciMap);
}

int A_nkEthCtrlI2CMaster::tryLockOpation() {
    return C_pciFunctionLock::acquireFor(m_lock, m_pciMap);
}

int A_nkEthCtrlI2CMaster::unLockOpation() {
    return C_pciFunctionLock::releaseFor(m_lock, m_pciMap);
}

// ---- sizes ----------------------------------------------------------------------------------

int A_nkEthCtrlI2CMaster::getI2CDataBlockSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = 1;
    return QRT_SUCCESS;
}

int A_nkEthCtrlI2CMaster::getI2CRegisterAdrSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = 1;
    return QRT_SUCCESS;
}

int A_nkEthCtrlI2CMaster::getI2CDataAccessSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = kDataBytesPerCommand;
    return QRT_SUCCESS;
}

// ---- transfers ------------------------------------------------------------------------------

int A_nkEthCtrlI2CMaster::waitForCommand(int polls, uint32_t* word, int* used) {
    for (*used = 0; *used < polls;) {
        // A register that cannot be read says nothing about the transfer: its failure is the
        // outcome, never a success.
        const int status = readRegister32(m_chip.i2cCommandRegister, word);
        ++*used;
        if (status != QRT_SUCCESS) return status;
        if ((*word & kReadyBit) != 0) {
            m_masterIdle = true;
            return (*word & kErrorBit) != 0 ? QRT_ERR_FAILED : QRT_SUCCESS;
        }
        I_CommonDef::Sleep(kPollPauseMs);
    }
    return QRT_ERR_BUSY;
}

int A_nkEthCtrlI2CMaster::waitUntilIdle(int polls) {
    if (m_masterIdle) return QRT_SUCCESS;
    uint32_t word = 0;
    int used = 0;
    const int status = waitForCommand(polls, &word, &used);
    // The earlier command's own outcome was reported with it; only its end matters here.
    return m_masterIdle ? QRT_SUCCESS : status;
}

// The new-slave mark is taken only for a command that is written; one whose write failed
// leaves it for the next, as the controller may not have seen it.
int A_nkEthCtrlI2CMaster::runCommand(bool read, unsigned long reg, uint16_t data, int polls,
                                     uint32_t* word) {
    int status = waitUntilIdle(kWritePolls);
    if (status != QRT_SUCCESS) return status;
    m_masterIdle = false;
    const bool newSlave = m_newSlave;
    status = issueCommand(commandByte(read), reg, data);
    if (status != QRT_SUCCESS) m_newSlave = newSlave;
    int used = 0;
    if (status == QRT_SUCCESS) status = waitForCommand(polls, word, &used);
    if (!m_masterIdle) waitUntilIdle(kWritePolls - used);
    return status;
}

int A_nkEthCtrlI2CMaster::issueCommand(uint8_t command, unsigned long reg, uint16_t data) {
    return writeRegister32(m_chip.i2cCommandRegister,
                           uint32_t{command} << 24 | uint32_t(reg & 0xFF) << 16 | data);
}

// The register address is always one byte: every register the transfer touches must be
// reachable with it.
int A_nkEthCtrlI2CMaster::checkTransfer(unsigned long regAddr, unsigned int length) const {
    if (m_slave == 0) return QRT_ERR_NOT_INITIALIZED;
    if (regAddr > kHighestRegister || length > kHighestRegister - regAddr)
        return QRT_ERR_INVALID_PARAM;
    return QRT_SUCCESS;
}

// One command per pair of bytes, at regAddr, regAddr + 2, ... Without data the commands carry
// zeros: the command-only access of a device that acts on the register address alone.
int A_nkEthCtrlI2CMaster::writeI2C(unsigned long regAddr, unsigned int, unsigned char* data,
                                   unsigned int length) {
    int status = checkTransfer(regAddr, length);
    if (status != QRT_SUCCESS) return status;
    if (data != nullptr && (length == 0 || length % kDataBytesPerCommand != 0))
        return QRT_ERR_INVALID_PARAM;

    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    unsigned int offset = 0;
    do {
        const uint16_t pair = data == nullptr ? 0 : uint16_t(data[offset] | data[offset + 1] << 8);
        uint32_t word = 0;
        // A device that did not acknowledge shows the error bit: the write did not happen. A
        // master still running after its polls is busy (-100).
        status = runCommand(false, regAddr + offset, pair, kWritePolls, &word);
        if (status != QRT_SUCCESS) return status;
        offset += kDataBytesPerCommand;
    } while (offset < length);
    return QRT_SUCCESS;
}

// One command per pair of bytes; each pair is stored only once its command has finished
// cleanly, so a failed read leaves the rest of the buffer as it was and reports the failure.
int A_nkEthCtrlI2CMaster::readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                                  unsigned int) {
    int status = checkTransfer(regAddr, length);
    if (status != QRT_SUCCESS) return status;
    if (buffer == nullptr || length == 0) return QRT_ERR_INVALID_PARAM;

    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    for (unsigned int offset = 0; offset < length; offset += kDataBytesPerCommand) {
        uint32_t word = 0;
        status = runCommand(true, regAddr + offset, 0, kReadPolls, &word);
        // A read that has not finished within its polls, or could not start because the master
        // is still running an earlier command, has no bytes: it failed. (Busy would tell the
        // CPLD behind this master that its own bus is held by another master.)
        if (status == QRT_ERR_BUSY) return QRT_ERR_FAILED;
        if (status != QRT_SUCCESS) return status;
        buffer[offset] = static_cast<unsigned char>(word);
        if (offset + 1 < length) buffer[offset + 1] = static_cast<unsigned char>(word >> 8);
    }
    return QRT_SUCCESS;
}
