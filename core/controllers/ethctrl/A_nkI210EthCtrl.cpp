#include "core/controllers/ethctrl/A_nkI210EthCtrl.h"

#include <cstdio>

#include "core/common/C_TransactionLock.h"

namespace {

constexpr uint32_t kBit15 = 1u << 15;

}  // namespace

A_nkI210EthCtrl::A_nkI210EthCtrl(const NK_ETHCTRLCHIP& chip) : A_nkEthCtrlI2CMaster(chip) {}

int A_nkI210EthCtrl::setupController() {
    uint32_t control = 0;
    if (readRegister32(kExtendedControlRegister, &control) != QRT_SUCCESS) {
        std::printf("fail 1\n");
        return QRT_ERR_FAILED;
    }
    if (writeRegister32(kExtendedControlRegister, control | kI2CEnableBit) != QRT_SUCCESS) {
        std::printf("fail 2\n");
        return QRT_ERR_FAILED;
    }
    return QRT_SUCCESS;
}

// Only the device address bits are kept. The address and the new-slave flag change under the
// lock, as a transfer running on another thread reads them.
int A_nkI210EthCtrl::setI2CSlave(unsigned long slave) {
    if (m_pciMap == nullptr) return QRT_ERR_NOT_INITIALIZED;
    if (slave > 255) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    m_slave = static_cast<unsigned char>(slave & kAddressBits);
    m_newSlave = true;
    return updateParameterRegister();
}

uint32_t A_nkI210EthCtrl::parameterWord(uint32_t asRead) const {
    return m_parameterBit15 != 0 ? asRead | kBit15 : asRead & ~kBit15;
}

// Writes carry the new-slave mark once; reads never do and leave it for the next write.
uint8_t A_nkI210EthCtrl::commandByte(bool read) {
    uint8_t command = m_slave & kAddressBits;
    if (read) return command | kReadCommandBit;
    if (m_newSlave) {
        command |= kNewSlaveMark;
        m_newSlave = false;
    }
    return command;
}
