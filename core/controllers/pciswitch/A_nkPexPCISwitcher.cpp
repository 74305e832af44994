#include "core/controllers/pciswitch/A_nkPexPCISwitcher.h"

#include <algorithm>
#include <cstring>

#include "core/common/C_TransactionLock.h"
#include "core/driver/C_pciFunctionLock.h"
#include "core/driver/PciRegister32.h"

namespace {

constexpr unsigned int kRegisterBytes = 4;
// A serial transfer shifts one word, which takes the port microseconds: the first
// kImmediatePolls reads of the busy flag follow one another without a pause, and only a port
// still busy then is polled kBusyPolls more times, 1 ms apart (about a second), before it counts
// as stuck; the transfer it would have started is then refused as busy.
constexpr int kImmediatePolls = 16;
constexpr int kBusyPolls = 1000;
constexpr int kBusyPollPauseMs = 1;
// After a read command has finished, the data register needs a moment to settle.
constexpr int kReadSettlePauseMs = 1;

}  // namespace

A_nkPexPCISwitcher::A_nkPexPCISwitcher(const NK_PEXCHIPCONSTANTS& chip)
    : m_chip(chip), m_directions(chip.gpioPins, APGPIO_INPUT), m_values(chip.gpioPins, 0) {}

A_nkPexPCISwitcher::~A_nkPexPCISwitcher() {
    C_ObjectLock lock(m_lock);
    m_pciMap = nullptr;
}

uint32_t A_nkPexPCISwitcher::directionMask(unsigned int pin) const {
    return uint32_t{1} << (m_chip.directionBitStride * pin + m_chip.directionBitOffset);
}

int A_nkPexPCISwitcher::readRegister32(uint64_t offset, uint32_t* value) {
    return readPciRegister32(*m_pciMap, offset, value);
}

int A_nkPexPCISwitcher::writeRegister32(uint64_t offset, uint32_t value) {
    return writePciRegister32(*m_pciMap, offset, value);
}

// ---- identity and binding -------------------------------------------------------------------

int A_nkPexPCISwitcher::initial(void* pciMap) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    if (pciMap == nullptr) {
        m_pciMap = nullptr;
        return QRT_ERR_NOT_INITIALIZED;
    }
    I_pciMap* map = static_cast<I_pciMap*>(pciMap);
    int vendor = 0;
    int device = 0;
    if (map->getDeviceInfo(&vendor, &device) != QRT_SUCCESS || vendor != m_chip.vendorId ||
        device != m_chip.deviceId)
        return QRT_ERR_NOT_INITIALIZED;
    m_pciMap = map;
    // The object lock is held already; the two reads form one transaction on the device.
    C_TransactionLock transaction(map->deviceAccessLock());
    if (!transaction.held()) return transaction.status();
    if (readDirections() != QRT_SUCCESS || readPins() != QRT_SUCCESS) return QRT_ERR_FAILED;
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::getChipName(char* name, unsigned int size) {
    if (name == nullptr) return QRT_ERR_INVALID_PARAM;
    const size_t length = std::strlen(m_chip.chipName);
    std::memcpy(name, m_chip.chipName, std::min<size_t>(size, length));
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::getGPOAddr(int* offset) {
    if (offset == nullptr) return QRT_ERR_INVALID_PARAM;
    *offset = static_cast<int>(m_chip.outputRegister);
    return QRT_SUCCESS;
}

// ---- the kernel driver's device access lock --------------------------------------------------

A_deviceAccessLock* A_nkPexPCISwitcher::deviceAccessLock() {
    return C_pciFunctionLock::sharedOf(m_pciMap);
}

int A_nkPexPCISwitcher::tryLockOpation() {
    return C_pciFunctionLock::acquireFor(m_lock, m_pciMap);
}

int A_nkPexPCISwitcher::unLockOpation() {
    return C_pciFunctionLock::releaseFor(m_lock, m_pciMap);
}

// ---- pin caches -----------------------------------------------------------------------------

int A_nkPexPCISwitcher::getGPIONums(unsigned int* count) {
    if (count == nullptr) return QRT_ERR_INVALID_PARAM;
    *count = m_chip.gpioPins;
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::setGPIODirection(unsigned int pin, APGPIO_DIRECTION dir) {
    if (pin >= m_chip.gpioPins) return QRT_ERR_INVALID_PARAM;
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_directions[pin] = dir;
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::getGPIODirection(unsigned int pin, APGPIO_DIRECTION* dir) {
    if (pin >= m_chip.gpioPins || dir == nullptr) return QRT_ERR_INVALID_PARAM;
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    *dir = m_directions[pin];
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::setGPO(unsigned int pin, int value) {
    if (pin >= m_chip.gpioPins) return QRT_ERR_INVALID_PARAM;
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    // An input pin has no output level to set.
    if (m_directions[pin] == APGPIO_INPUT) return QRT_ERR_FAILED;
    m_values[pin] = value;
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::getGPIO(unsigned int pin, int* value) {
    if (pin >= m_chip.gpioPins || value == nullptr) return QRT_ERR_INVALID_PARAM;
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    *value = m_values[pin];
    return QRT_SUCCESS;
}

// ---- pin transfers --------------------------------------------------------------------------

// A pin transfer under both locks; -13 without a PCI map.
int A_nkPexPCISwitcher::pinTransfer(int (A_nkPexPCISwitcher::*transfer)()) {
    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return (this->*transfer)();
}

int A_nkPexPCISwitcher::applyGPIODirection() {
    return pinTransfer(&A_nkPexPCISwitcher::writeDirections);
}

int A_nkPexPCISwitcher::updateGPIODirection() {
    return pinTransfer(&A_nkPexPCISwitcher::readDirections);
}

int A_nkPexPCISwitcher::applyGPO() {
    return pinTransfer(&A_nkPexPCISwitcher::writeOutputs);
}

int A_nkPexPCISwitcher::updateGPIO() {
    return pinTransfer(&A_nkPexPCISwitcher::readPins);
}

int A_nkPexPCISwitcher::updateGPIOInputs() {
    return pinTransfer(&A_nkPexPCISwitcher::readInputPins);
}

int A_nkPexPCISwitcher::writeDirections() {
    uint32_t word = 0;
    int status = readRegister32(m_chip.directionRegister, &word);
    if (status != QRT_SUCCESS) return status;
    for (unsigned int pin = 0; pin < m_chip.gpioPins; ++pin) {
        if (m_directions[pin] != APGPIO_INPUT)
            word |= directionMask(pin);
        else
            word &= ~directionMask(pin);
    }
    return writeRegister32(m_chip.directionRegister, word);
}

int A_nkPexPCISwitcher::readDirections() {
    uint32_t word = 0;
    int status = readRegister32(m_chip.directionRegister, &word);
    if (status != QRT_SUCCESS) return status;
    for (unsigned int pin = 0; pin < m_chip.gpioPins; ++pin)
        m_directions[pin] = (word & directionMask(pin)) != 0 ? APGPIO_OUTPUT : APGPIO_INPUT;
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::writeOutputs() {
    // The whole output register is written: inputs and low outputs as 0.
    uint32_t word = 0;
    for (unsigned int pin = 0; pin < m_chip.gpioPins; ++pin) {
        if (m_directions[pin] == APGPIO_OUTPUT && m_values[pin] != 0) word |= uint32_t{1} << pin;
    }
    return writeRegister32(m_chip.outputRegister, word);
}

int A_nkPexPCISwitcher::readPins() {
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    int status = readRegister32(m_chip.inputRegister, &inputs);
    if (status != QRT_SUCCESS) return status;
    status = readRegister32(m_chip.outputRegister, &outputs);
    if (status != QRT_SUCCESS) return status;
    // An output's level is what the switch drives; an input's is what the board applies.
    for (unsigned int pin = 0; pin < m_chip.gpioPins; ++pin) {
        if (m_directions[pin] == APGPIO_OUTPUT)
            m_values[pin] = (outputs >> pin) & 1;
        else if (m_directions[pin] == APGPIO_INPUT)
            m_values[pin] = (inputs >> pin) & 1;
    }
    return QRT_SUCCESS;
}

int A_nkPexPCISwitcher::readInputPins() {
    uint32_t inputs = 0;
    const int status = readRegister32(m_chip.inputRegister, &inputs);
    if (status != QRT_SUCCESS) return status;
    for (unsigned int pin = 0; pin < m_chip.gpioPins; ++pin)
        if (m_directions[pin] == APGPIO_INPUT) m_values[pin] = (inputs >> pin) & 1;
    return QRT_SUCCESS;
}

// ---- serial-EEPROM port ---------------------------------------------------------------------

int A_nkPexPCISwitcher::getSPIDataBlockSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = m_chip.serialBlockSize;
    return QRT_SUCCESS;
}

int64_t A_nkPexPCISwitcher::blockIndexOf(unsigned long address) const {
    const uint64_t index = address / m_chip.serialBlockSize;
    if (index > static_cast<uint64_t>(m_chip.highestBlockIndex)) return -1;
    return static_cast<int64_t>(index);
}

int A_nkPexPCISwitcher::isSPIBusy() {
    for (int poll = 0; poll < kImmediatePolls + kBusyPolls; ++poll) {
        uint32_t control = 0;
        // A control register that cannot be read leaves the port's state unknown: a command
        // written to a port still shifting the previous word is lost, and the write would
        // report success for a word that never went out. The read's failure ends the call.
        const int status = readRegister32(m_chip.serialControlRegister, &control);
        if (status != QRT_SUCCESS) return status;
        if ((control & m_chip.serialBusyBit) == 0) return QRT_SUCCESS;
        if (poll >= kImmediatePolls) I_CommonDef::Sleep(kBusyPollPauseMs);
    }
    return QRT_ERR_BUSY;
}

int A_nkPexPCISwitcher::writeSPI(unsigned long address, unsigned char* data, unsigned int len) {
    if (m_chip.serialBlockSize == 0) return QRT_ERR_NOT_INITIALIZED;
    const int64_t block = blockIndexOf(address);
    if (block < 0) return QRT_ERR_INVALID_PARAM;
    if (len != 0 && len != m_chip.serialBlockSize) return QRT_ERR_INVALID_PARAM;

    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (const int status = isSPIBusy()) return status;
    // Without data only the command goes out (the device takes whatever the data register
    // holds).
    if (data != nullptr && len != 0) {
        const int status = m_pciMap->writeRegister(m_chip.serialDataRegister, kRegisterBytes, data,
                                                   kRegisterBytes);
        if (status != QRT_SUCCESS) return status;
    }
    // The write runs on in the switch; the next transfer's busy wait waits for it.
    return writeRegister32(
        m_chip.serialControlRegister,
        static_cast<uint32_t>(static_cast<uint64_t>(block) | m_chip.writeCommandBits));
}

int A_nkPexPCISwitcher::readSPI(unsigned long address, unsigned char* buf, unsigned int len) {
    if (m_chip.serialBlockSize == 0) return QRT_ERR_NOT_INITIALIZED;
    const int64_t block = blockIndexOf(address);
    if (block < 0) return QRT_ERR_INVALID_PARAM;
    if (len != m_chip.serialBlockSize || buf == nullptr) return QRT_ERR_INVALID_PARAM;

    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (const int status = isSPIBusy()) return status;
    int status = writeRegister32(
        m_chip.serialControlRegister,
        static_cast<uint32_t>(static_cast<uint64_t>(block) | m_chip.readCommandBits));
    if (status != QRT_SUCCESS) return status;
    status = isSPIBusy();
    if (status != QRT_SUCCESS) return status;
    I_CommonDef::Sleep(kReadSettlePauseMs);
    return m_pciMap->readRegister(m_chip.serialDataRegister, kRegisterBytes, buf, kRegisterBytes);
}
