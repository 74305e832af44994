#include "core/bus/C_nkDTSI2C.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/common/C_TransactionLock.h"

namespace {

constexpr unsigned long kHighestSlave = 0xFF;
// 1 first attempt + 10 retries, 30 ms after every attempt that was not transferred.
constexpr int kMessageAttempts = 11;
constexpr int kRetryPauseMs = 30;
// Between the register-address write and the data read of a register read.
constexpr int kAddressToReadPauseMs = 10;
// The address argument is 64 bits wide; address bytes beyond it are sent as zero.
constexpr unsigned int kAddressArgumentBytes = sizeof(unsigned long);

}  // namespace

C_nkDTSI2C::C_nkDTSI2C() = default;

C_nkDTSI2C::~C_nkDTSI2C() {
    // Waits (bounded) for a transfer on another thread to end; closes the adapter either way.
    C_ObjectLock lock(m_lock);
    closeAdapter();
}

void C_nkDTSI2C::closeAdapter() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

int C_nkDTSI2C::initial(unsigned int busNumber) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    closeAdapter();
    char path[32];
    std::snprintf(path, sizeof(path), "/dev/i2c-%u", busNumber);
    m_fd = ::open(path, O_RDWR);
    m_bound = true;
    return QRT_SUCCESS;
}

int C_nkDTSI2C::setI2CSlave(unsigned long slave) {
    if (slave > kHighestSlave) return QRT_ERR_INVALID_PARAM;
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_slave = slave;
    return QRT_SUCCESS;
}

void C_nkDTSI2C::putRegisterAddress(unsigned long regAddr, unsigned int size) {
    for (unsigned int i = 0; i < size; ++i) {
        m_buffer[i] =
            i < kAddressArgumentBytes ? static_cast<unsigned char>(regAddr >> (8 * i)) : 0;
    }
}

int C_nkDTSI2C::writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                         unsigned int length) {
    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (!m_bound) return QRT_ERR_NOT_INITIALIZED;
    // A write always carries a register address; the whole message fits the transfer buffer.
    if (regAddrSize == 0 || regAddrSize > kTransferBytes || length > kTransferBytes - regAddrSize)
        return QRT_ERR_INVALID_PARAM;
    if (data == nullptr && length > 0) return QRT_ERR_INVALID_PARAM;
    putRegisterAddress(regAddr, regAddrSize);
    if (length > 0) std::memcpy(m_buffer + regAddrSize, data, length);
    return writeDTSI2Cdata(m_fd, m_buffer, static_cast<int>(regAddrSize + length));
}

int C_nkDTSI2C::readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                        unsigned int regAddrSize) {
    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (!m_bound) return QRT_ERR_NOT_INITIALIZED;
    if (regAddrSize > kTransferBytes || length == 0 || length > kTransferBytes || buffer == nullptr)
        return QRT_ERR_INVALID_PARAM;
    if (regAddrSize > 0) {
        putRegisterAddress(regAddr, regAddrSize);
        if (writeDTSI2Cdata(m_fd, m_buffer, static_cast<int>(regAddrSize)) != QRT_SUCCESS)
            return QRT_ERR_FAILED;
        I_CommonDef::Sleep(kAddressToReadPauseMs);
    }
    return readDTSI2Cdata(m_fd, buffer, static_cast<int>(length));
}

A_deviceAccessLock* C_nkDTSI2C::deviceAccessLock() {
    return m_fd >= 0 ? &m_adapterLock : nullptr;
}

int C_nkDTSI2C::getI2CDataBlockSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = 1;
    return QRT_SUCCESS;
}

int C_nkDTSI2C::writeDTSI2Cdata(int fd, unsigned char* buf, int count) {
    return transferMessage(fd, 0, buf, count) ? QRT_SUCCESS : QRT_ERR_FAILED;
}

int C_nkDTSI2C::readDTSI2Cdata(int fd, unsigned char* buf, int count) {
    return transferMessage(fd, I2C_M_RD, buf, count) ? QRT_SUCCESS : QRT_ERR_FAILED;
}

bool C_nkDTSI2C::transferMessage(int fd, unsigned short flags, unsigned char* buf, int count) {
    i2c_msg message{};
    message.addr = static_cast<__u16>(m_slave & 0xFF);  // 7-bit addressing, no 10-bit flag
    message.flags = flags;
    message.len = static_cast<__u16>(count);
    message.buf = buf;
    i2c_rdwr_ioctl_data transfer{};
    transfer.msgs = &message;
    transfer.nmsgs = 1;

    for (int attempt = 0; attempt < kMessageAttempts; ++attempt) {
        const int result = ::ioctl(fd, I2C_RDWR, &transfer);
        if (result == 1) return true;
        I_CommonDef::Sleep(kRetryPauseMs);
        // Only a refused message (no acknowledge, adapter error) is worth another attempt; an
        // adapter that reports a partial transfer will not do better next time.
        if (result >= 0) return false;
    }
    return false;
}
