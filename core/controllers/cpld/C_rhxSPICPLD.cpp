#include "core/controllers/cpld/C_rhxSPICPLD.h"

#include <cstdio>

#include "QRT_Types.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_TransactionLock.h"

namespace {

// On the serial port the trigger-over-Ethernet block sits at 0x1000 and the I2C master block
// at 0x2000; every access moves a whole 4-byte block.
const RHXCPLD_LAYOUT kSPILayout = {0x1000, 0x2000, 4};

}  // namespace

C_rhxSPICPLD::C_rhxSPICPLD() : A_rhxCPLD(kSPILayout) {}

int C_rhxSPICPLD::initial(I_nkSPI* spi) {
    C_ObjectLock lock(m_registerLock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_spi = spi;
    return QRT_SUCCESS;
}

void C_rhxSPICPLD::release() {
    {
        C_ObjectLock lock(m_registerLock);
        if (lock.held()) m_spi = nullptr;
    }
    releaseBridge();
}

A_deviceAccessLock* C_rhxSPICPLD::deviceAccessLock() {
    return deviceAccessLockOf(m_spi);
}

// The CPLD raises its SPI-busy flag while it digests an access; the next access must wait for
// it. The poll does not sleep: the flag clears within a few serial-port transfers. A status
// read that fails counts as busy.
void C_rhxSPICPLD::waitWhileBusy() {
    for (int poll = 0; poll < kBusyPolls; ++poll) {
        RHXCPLD_READDATA status;
        if (m_spi->readSPI(kRegStatus, status.data, 4) != QRT_SUCCESS) continue;
        if ((wordValue(status) & kStatusSPIBusy) == 0) return;
    }
}

int C_rhxSPICPLD::readRegister(unsigned long reg, RHXCPLD_READDATA* word) {
    if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
    int status = m_spi->readSPI(reg, word->data, 4);
    if (status == QRT_SUCCESS) waitWhileBusy();
    return status;
}

int C_rhxSPICPLD::readData(unsigned long reg, RHXCPLD_READDATA* word) {
    if (word == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    return readRegister(reg, word);
}

// Every write moves a whole block; without a word it is a command-only access (a trigger).
int C_rhxSPICPLD::writeData(unsigned long reg, RHXCPLD_WRITEDATA* word, unsigned int) {
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
    int status =
        word != nullptr ? m_spi->writeSPI(reg, word->data, 4) : m_spi->writeSPI(reg, nullptr, 0);
    if (status == QRT_SUCCESS) waitWhileBusy();
    return status;
}

// Newer CPLDs answer the version register with a marker and keep the stamp in two words
// (date 0xYYYYMMDD, time 0x0000hhmm); older ones pack it into the version word itself, with
// the year as an offset from 2000 in the top four bits. The year of an old stamp is printed
// in decimal so that both forms read "YYYYMMDD_hhmm".
int C_rhxSPICPLD::getVersion(char* text, unsigned int size) {
    if (text == nullptr || size == 0) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_registerLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_versionText[0] == '\0') {
        RHXCPLD_READDATA version;
        if (readRegister(kRegVersionWord, &version) != QRT_SUCCESS) return QRT_ERR_FAILED;
        const unsigned long w = wordValue(version);
        if (w == kVersionAbsent) return QRT_ERR_FAILED;
        if (w == kVersionMarker) {
            RHXCPLD_READDATA timeWord, dateWord;
            if (readRegister(kRegVersionTime, &timeWord) != QRT_SUCCESS) return QRT_ERR_FAILED;
            if (readRegister(kRegVersionDate, &dateWord) != QRT_SUCCESS) return QRT_ERR_FAILED;
            const unsigned long t = wordValue(timeWord), d = wordValue(dateWord);
            std::snprintf(m_versionText, sizeof m_versionText, "%04lx%02lx%02lx_%02lx%02lx",
                          d >> 16, (d >> 8) & 0xFF, d & 0xFF, (t >> 8) & 0xFF, t & 0xFF);
            m_olderFlag = 0;
        } else {
            std::snprintf(m_versionText, sizeof m_versionText, "%04lu%02lx%02lx_%02lx%02lx",
                          2000 + (w >> 28), (w >> 24) & 0x0F, (w >> 16) & 0xFF, (w >> 8) & 0xFF,
                          w & 0xFF);
            m_olderFlag = 1;
        }
    }
    std::snprintf(text, size, "%s", m_versionText);
    return QRT_SUCCESS;
}
