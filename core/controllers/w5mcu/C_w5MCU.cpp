#include "core/controllers/w5mcu/C_w5MCU.h"

#include "core/bus/I_nkSPI.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_TransactionLock.h"

namespace {

constexpr unsigned int kWordBytes = 4;
// The microcontroller needs this long to place a mailbox answer.
constexpr int kMailboxAnswerPauseMs = 50;

}  // namespace

C_w5MCU::C_w5MCU() = default;

C_w5MCU::~C_w5MCU() {
    C_ObjectLock lock(m_lock);
    m_spi = nullptr;
}

int C_w5MCU::initial(I_nkSPI* spi) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_spi = spi;
    return QRT_SUCCESS;
}

// ---- transport ------------------------------------------------------------------------------

A_deviceAccessLock* C_w5MCU::cardLock() {
    return deviceAccessLockOf(m_spi);
}

int C_w5MCU::readWord(unsigned long address, W5MCU_READDATA* word) {
    unsigned char bytes[kWordBytes] = {};
    const int status = m_spi->readSPI(address, bytes, kWordBytes);
    if (status != QRT_SUCCESS) return status;
    *word = W5MCU_READDATA{bytes[0]} | W5MCU_READDATA{bytes[1]} << 8 |
            W5MCU_READDATA{bytes[2]} << 16 | W5MCU_READDATA{bytes[3]} << 24;
    return QRT_SUCCESS;
}

int C_w5MCU::writeWord(unsigned long address, W5MCU_WRITEDATA word) {
    unsigned char bytes[kWordBytes] = {
        static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
        static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
    return m_spi->writeSPI(address, bytes, kWordBytes);
}

int C_w5MCU::mailboxRead(unsigned long address, W5MCU_WRITEDATA command, W5MCU_READDATA* word) {
    const int status = writeWord(address, command);
    if (status != QRT_SUCCESS) return status;
    I_CommonDef::Sleep(kMailboxAnswerPauseMs);
    return readWord(address, word);
}

int C_w5MCU::readData(unsigned long address, W5MCU_READDATA* word) {
    if (word == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, cardLock());
    if (!lock.held()) return lock.status();
    if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return readWord(address, word);
}

int C_w5MCU::writeData(unsigned long address, W5MCU_WRITEDATA* word) {
    if (word == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, cardLock());
    if (!lock.held()) return lock.status();
    if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return writeWord(address, *word);
}

int C_w5MCU::readDataFromFlash(unsigned long address, unsigned long command, W5MCU_READDATA* word) {
    if (word == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, cardLock());
    if (!lock.held()) return lock.status();
    if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return mailboxRead(address, static_cast<W5MCU_WRITEDATA>(command), word);
}

// ---- operations -----------------------------------------------------------------------------

int C_w5MCU::getVersion(char* text, unsigned int size) {
    if (text == nullptr && size > 0) return QRT_ERR_INVALID_PARAM;
    // Once read, the version is answered without the locks: the card is not asked again.
    if (versionCached.load(std::memory_order_acquire) == 0) {
        // The cache is filled under the lock so that two first callers do not race on it.
        C_TransactionLock lock(m_lock, cardLock());
        if (!lock.held()) return lock.status();
        if (versionCached == 0) {
            if (m_spi == nullptr) return QRT_ERR_NOT_INITIALIZED;
            W5MCU_READDATA word = 0;
            const int status = mailboxRead(kVersionMailbox, kVersionCommand, &word);
            if (status != QRT_SUCCESS) return status;
            versionWord = word;
            versionCached.store(1, std::memory_order_release);
        }
    }
    parseVersion(versionWord, text, size);
    return QRT_SUCCESS;
}

int C_w5MCU::setPowerPortEnable(int* enables, unsigned int count) {
    if (count < powerChannels || enables == nullptr) return QRT_ERR_INVALID_PARAM;
    W5MCU_WRITEDATA word = genPowerSwitch(enables, count);
    return writeData(kPowerSwitchAddress, &word);
}

int C_w5MCU::getPowerPortEnable(int* enables, unsigned int count) {
    if (count < powerChannels || enables == nullptr) return QRT_ERR_INVALID_PARAM;
    W5MCU_READDATA word = 0;
    const int status = readDataFromFlash(kPowerStateMailbox, kBoardStateCommand, &word);
    if (status != QRT_SUCCESS) return status;
    parsePowerSwitch(word, enables, powerChannels);
    return QRT_SUCCESS;
}

int C_w5MCU::getCardID(int* id) {
    if (id == nullptr) return QRT_ERR_INVALID_PARAM;
    W5MCU_READDATA word = 0;
    const int status = readDataFromFlash(kCardIDMailbox, kBoardStateCommand, &word);
    if (status != QRT_SUCCESS) return status;
    return parseCradID(word, id);
}

// A whole flash text as one transaction: four words and the check word, or four mailbox reads.
int C_w5MCU::flashText(const FlashField& field, bool write, char* text, unsigned int length) {
    C_TransactionLock lock(m_flashLock, cardLock());
    if (!lock.held()) return lock.status();
    return write ? writeFlash(field, text, length) : readFlash(field, text, length);
}

int C_w5MCU::setPN(char* text, unsigned int length) {
    return flashText(kPartNumberField, true, text, length);
}

int C_w5MCU::setSN(char* text, unsigned int length) {
    return flashText(kSerialNumberField, true, text, length);
}

int C_w5MCU::getPN(char* text, unsigned int length) {
    return flashText(kPartNumberField, false, text, length);
}

int C_w5MCU::getSN(char* text, unsigned int length) {
    return flashText(kSerialNumberField, false, text, length);
}
