#include "product/poe/C_rhx10T.h"

#include <vector>

#include "core/driver/I_pciMap.h"

namespace {

constexpr unsigned kPorts = 2;
constexpr unsigned char kSmbusAddress = 0x62;  // the X550's SMBus address
constexpr unsigned char kPcbVersionBits = 0x07;

}  // namespace

// Input 0, the 4-pin connector, is connected when the microcontroller senses source 0; source 0
// allows 61.6 W, source 2 (the slot alone) 20 W.
const RHX_POWER_INPUTS C_rhx10T::kPowerInputs = {
    1, {"4-Pin Connector", nullptr}, {0b1, 0b0, 0b0, 0b0}, {61.6f, 0.0f, 20.0f, 0.0f}};
const RHX_PARTNUMBER_MODEL C_rhx10T::kModel = {"53105-00", QRT_PRODUCT_RHX10T, kPorts};

C_rhx10T::C_rhx10T() : A_rhxPoeCard(kPowerInputs, false, true) {
    poePortCount = kPorts;
    smbusHeader[0] = kSmbusAddress;
}

unsigned C_rhx10T::hardwarePort(unsigned port) const {
    if (poePortCount <= 1) return 0;
    return port < 2 ? 1 - port : port;
}

// ---- bring-up -------------------------------------------------------------------------------

int C_rhx10T::bindControllers(void* pciMap) {
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (ethCtrl == nullptr) ethCtrl = ethCtrlFactory.create(C_nkEthCtrlFactory::NK_ETHCTRL_X550);
    if (cpld == nullptr) cpld = cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_I2C);
    if (mcu == nullptr) mcu = mcuFactory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
    if (eeprom == nullptr) eeprom = eepromFactory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    if (ethCtrl == nullptr || cpld == nullptr || mcu == nullptr || eeprom == nullptr)
        return QRT_ERR_NOT_INITIALIZED;
    identity = identityRecordOf(pciMap);
    // Any function that is not the X550's first LAN function stops here.
    int status = ethCtrl->initial(pciMap);
    I_nkI2C* bus = ethCtrl;
    if (status == QRT_SUCCESS) status = bus->setI2CSlave(cpldSlave);
    if (status == QRT_SUCCESS) status = cpld->initial(bus);
    if (status != QRT_SUCCESS) return status;
    // The CPLD's I2C master addresses the microcontroller unless an EEPROM read is under way.
    cpld->setI2CSlave(mcuSlave);
    status = mcu->initial(cpld);
    if (status == QRT_SUCCESS) status = eeprom->initial(cpld);
    return status;
}

int C_rhx10T::checkValid() {
    return identifyByPartNumber(&kModel, 1);
}

// ---- identity -------------------------------------------------------------------------------

int C_rhx10T::getPCBVersion() {
    // The revision straps do not change: read once per device.
    RHXCPLD_READDATA word = {};
    if (cpld == nullptr ||
        readIdentity(
            identity, {C_identityRecord::CPLD_REGISTER, kPcbVersionRegister}, &word, sizeof word,
            [&]() -> int { return cpld->readData(kPcbVersionRegister, &word); }) != QRT_SUCCESS)
        return -1;
    return word.data[0] & kPcbVersionBits;
}

int C_rhx10T::getCardID(int* id) {
    if (id == nullptr) return QRT_ERR_INVALID_PARAM;
    return onAcceptedCard([&]() -> int {
        if (cpld == nullptr) return QRT_ERR_NOT_INITIALIZED;
        RHXCPLD_READDATA word = {};
        const int status = cpld->readData(kCardIdRegister, &word);
        if (status == QRT_SUCCESS) *id = word.data[0];
        return status;
    });
}

int C_rhx10T::getMAC(unsigned port, unsigned char** mac) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (port >= poePortCount) return QRT_ERR_INVALID_PARAM;
    return A_poeProSeries::getMAC(hardwarePort(port), mac);
}

// ---- ports in the public numbering ------------------------------------------------------------

// The hardware gets a translated copy; the caller's array stays as it was.
int C_rhx10T::setPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr || n < poePortCount) return QRT_ERR_INVALID_PARAM;
    std::vector<int> hardware(enables, enables + n);
    if (poePortCount > 1) std::swap(hardware[0], hardware[1]);
    return A_poeProSeries::setPoEPortEnable(hardware.data(), n);
}

int C_rhx10T::getPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr || n < poePortCount) return QRT_ERR_INVALID_PARAM;
    const int status = A_poeProSeries::getPoEPortEnable(enables, n);
    // Only a complete reading is put in the public order.
    if (status == QRT_SUCCESS && poePortCount > 1) std::swap(enables[0], enables[1]);
    return status;
}

int C_rhx10T::getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) {
    return A_poeProSeries::getPoEPortProperty(hardwarePort(port), p, value);
}

// -1 fires every port and stays as it is.
int C_rhx10T::sendToEActionCommand(int port) {
    if (port >= 0) port = static_cast<int>(hardwarePort(static_cast<unsigned>(port)));
    return A_poeProSeries::sendToEActionCommand(port);
}

int C_rhx10T::setToEActionCommand(unsigned port, unsigned long deviceKey, unsigned long groupKey,
                                  unsigned long groupMask) {
    return A_poeProSeries::setToEActionCommand(hardwarePort(port), deviceKey, groupKey, groupMask);
}

int C_rhx10T::getToEActionCommand(unsigned port, unsigned long* deviceKey, unsigned long* groupKey,
                                  unsigned long* groupMask) {
    return A_poeProSeries::getToEActionCommand(hardwarePort(port), deviceKey, groupKey, groupMask);
}

int C_rhx10T::getToETriggerCount(unsigned port, unsigned* first, unsigned* second) {
    return A_poeProSeries::getToETriggerCount(hardwarePort(port), first, second);
}
