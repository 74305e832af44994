#include "core/driver/C_pciMap.h"

#include <cstring>

#include "QRT_Types.h"
#include "core/driver/DriverRecords.h"
#include "core/driver/ZEPPCIManager.h"

using nkpcimap::issueRequest;

namespace {

bool validBlock(const unsigned char* data, unsigned length) {
    return length <= nkpcimap::kMaxDataBytes && (data != nullptr || length == 0);
}

}  // namespace

C_pciMap::C_pciMap() = default;

C_pciMap::~C_pciMap() {
    unLock();
    m_io = nullptr;
}

int C_pciMap::initial(I_driverIO* io, unsigned index) {
    unLock();
    // A key belongs to the device it was issued for; it means nothing for the next one, even
    // if the driver refused to release it.
    m_lockKey = 0;
    m_io = io;
    m_index = index;
    m_identity.clear();
    return QRT_SUCCESS;
}

int C_pciMap::getDeviceInfo(int* a, int* b) {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    nkpcimap::DeviceInformationRecord record = {};
    record.deviceIndex = m_index;
    if (!issueRequest(m_io, nkpcimap::kDeviceInformation, record)) return QRT_ERR_FAILED;
    if (record.status == nkpcimap::kStatusOk) {
        if (a != nullptr) *a = record.firstValue;
        if (b != nullptr) *b = record.secondValue;
    }
    return ZEPPCIManager::returnZEPVal(record.status);
}

int C_pciMap::accessRegister(uint32_t operation, unsigned long offset, unsigned width,
                             unsigned char* data, unsigned length) {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (!validBlock(data, length)) return QRT_ERR_INVALID_PARAM;
    nkpcimap::RegisterAccessRecord record = {};
    record.offset = offset;
    record.length = length;
    record.width = width;
    record.deviceIndex = m_index;
    record.operation = operation;
    record.lockKey = m_lockKey;
    if (operation == nkpcimap::kOperationWrite && length != 0)
        std::memcpy(record.data, data, length);
    if (!issueRequest(m_io, nkpcimap::kRegisterAccess, record)) return QRT_ERR_FAILED;
    if (operation == nkpcimap::kOperationRead && length != 0)
        std::memcpy(data, record.data, length);
    return ZEPPCIManager::returnZEPVal(record.status);
}

int C_pciMap::readRegister(unsigned long offset, unsigned width, unsigned char* data,
                           unsigned length) {
    return accessRegister(nkpcimap::kOperationRead, offset, width, data, length);
}

int C_pciMap::writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                            unsigned length) {
    return accessRegister(nkpcimap::kOperationWrite, offset, width, data, length);
}

int C_pciMap::cacheWriteCmds(unsigned long offset, unsigned width, unsigned char* data,
                             unsigned char* second, unsigned length, unsigned last) {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (!validBlock(data, length) || !validBlock(second, length)) return QRT_ERR_INVALID_PARAM;
    nkpcimap::CacheWriteCommandRecord record = {};
    record.offset = offset;
    record.length = length;
    record.width = width;
    record.deviceIndex = m_index;
    record.operation = nkpcimap::kOperationWrite;
    record.lockKey = m_lockKey;
    if (length != 0) {
        std::memcpy(record.data, data, length);
        std::memcpy(record.secondData, second, length);
    }
    record.last = last;
    if (!issueRequest(m_io, nkpcimap::kCacheWriteCommand, record)) return QRT_ERR_FAILED;
    return ZEPPCIManager::returnZEPVal(record.status);
}

const C_ObjectSemaphore* C_pciMap::commandCacheLock() {
    return m_io != nullptr ? m_io->commandCacheLock() : nullptr;
}

int C_pciMap::clearCmdCache() {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    nkpcimap::CommandCacheRecord record = {};
    if (!issueRequest(m_io, nkpcimap::kClearCommandCache, record)) return QRT_ERR_FAILED;
    return ZEPPCIManager::returnZEPVal(record.status);
}

int C_pciMap::exeCmdCache() {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    nkpcimap::CommandCacheRecord record = {};
    if (!issueRequest(m_io, nkpcimap::kExecuteCommandCache, record)) return QRT_ERR_FAILED;
    return ZEPPCIManager::returnZEPVal(record.status);
}

int C_pciMap::tryLock() {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (m_lockKey != 0) return QRT_ERR_INVALID_PARAM;
    nkpcimap::LockRecord record = {};
    record.deviceIndex = m_index;
    if (!issueRequest(m_io, nkpcimap::kLock, record)) return QRT_ERR_FAILED;
    if (record.status == nkpcimap::kStatusOk) m_lockKey = record.lockKey;
    return ZEPPCIManager::returnZEPVal(record.status);
}

int C_pciMap::unLock() {
    if (m_io == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (m_lockKey == 0) return QRT_SUCCESS;
    nkpcimap::LockRecord record = {};
    record.deviceIndex = m_index;
    record.lockKey = m_lockKey;
    if (!issueRequest(m_io, nkpcimap::kUnlock, record)) return QRT_ERR_FAILED;
    if (record.status == nkpcimap::kStatusOk) m_lockKey = 0;
    return ZEPPCIManager::returnZEPVal(record.status);
}
