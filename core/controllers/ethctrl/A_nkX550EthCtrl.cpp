#include "core/controllers/ethctrl/A_nkX550EthCtrl.h"

#include "core/common/C_TransactionLock.h"

namespace {

constexpr uint32_t kBit15 = 1u << 15;
constexpr uint32_t kBit16 = 1u << 16;
constexpr uint32_t kBit31 = 1u << 31;
constexpr unsigned int kSlaveShift = 24;  // bits 30:24
constexpr uint32_t kSlaveField = 0x7Fu << kSlaveShift;

uint32_t withBit(uint32_t word, uint32_t bit, int set) {
    return set != 0 ? word | bit : word & ~bit;
}

}  // namespace

A_nkX550EthCtrl::A_nkX550EthCtrl(const NK_ETHCTRLCHIP& chip) : A_nkEthCtrlI2CMaster(chip) {}

int A_nkX550EthCtrl::setupController() {
    uint32_t status = 0;
    if (readRegister32(kStatusRegister, &status) != QRT_SUCCESS) return QRT_ERR_FAILED;
    // Only the first LAN function drives the card's I2C bus.
    if ((status & kLanIdBits) != 0) return QRT_ERR_FAILED;
    uint32_t pins = 0;
    if (readRegister32(kPinControlRegister, &pins) != QRT_SUCCESS) return QRT_ERR_FAILED;
    return writeRegister32(kPinControlRegister, pins | kI2CPinBits);
}

// The slave and the new-slave flag change under the lock, together with the register.
int A_nkX550EthCtrl::setI2CSlave(unsigned long slave) {
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (slave > 255) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    m_slave = static_cast<unsigned char>(slave);
    m_newSlave = true;
    return updateParameterRegister();
}

uint32_t A_nkX550EthCtrl::parameterWord(uint32_t asRead) const {
    uint32_t word = withBit(asRead, kBit15, m_parameterBit15);
    word = withBit(word, kBit16, m_parameterBit16);
    word = withBit(word, kBit31, m_parameterBit31);
    return (word & ~kSlaveField) | (uint32_t{m_slave} & 0x7F) << kSlaveShift;
}

// The first command after a new slave, read or write, tells the controller to take the
// address over.
uint8_t A_nkX550EthCtrl::commandByte(bool read) {
    uint8_t command = read ? m_readOpcode : m_writeOpcode;
    if (m_newSlave) {
        command |= kNewSlaveMark;
        m_newSlave = false;
    }
    return command;
}
