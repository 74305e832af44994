#include "product/poe/A_pexPoeCard.h"

#include <cstdio>
#include <cstring>

#include "core/driver/I_pciMap.h"

namespace {

constexpr unsigned kCpldStampLength = 13;  // "YYYYMMDD_hhmm"
constexpr unsigned kCpldVersionText = 16;
constexpr unsigned kMcuVersionText = 32;
constexpr unsigned kPartNumberProbe = 16;
constexpr unsigned kPartNumberPrefix = 3;
constexpr unsigned kPartNumberLength = 8;
// Firmware major x 16 + minor above this offers the power consumption calculation (1.14 on).
constexpr int kPowerCalcFirmware = 29;

}  // namespace

template <class Base>
A_pexPoeCard<Base>::A_pexPoeCard(const RHX_POWER_INPUTS& inputs, bool firmwareGate, bool readsMacs)
    : inputs_(inputs), firmwareGate_(firmwareGate), readsMacs_(readsMacs) {
    this->exPowSupplyCount = inputs.count;
}

// ---- bring-up -------------------------------------------------------------------------------

template <class Base>
int A_pexPoeCard<Base>::initial(void* pciMap) {
    int status = QRT_SUCCESS;
    if (!this->initialized) {
        status = bindControllers(pciMap);
        if (status != QRT_SUCCESS) return status;
        if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
        C_ObjectLock guard(this->lock);
        if (!guard.held()) return QRT_ERR_BUSY;
        this->initialized = 1;
    }
    if (readsMacs_) this->updateMAC();
    return status;
}

template <class Base>
int A_pexPoeCard<Base>::bindControllers(void* pciMap) {
    C_ObjectLock guard(this->lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (switcher == nullptr)
        switcher = switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    if (this->cpld == nullptr) this->cpld = cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
    if (this->mcu == nullptr) this->mcu = mcuFactory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
    if (this->eeprom == nullptr)
        this->eeprom = eepromFactory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    if (switcher == nullptr || this->cpld == nullptr || this->mcu == nullptr ||
        this->eeprom == nullptr)
        return QRT_ERR_NOT_INITIALIZED;
    this->identity = identityRecordOf(pciMap);
    // Any device that is not a PEX 8608 stops here.
    int status = switcher->initial(pciMap);
    if (status == QRT_SUCCESS) status = this->cpld->initial(static_cast<I_nkSPI*>(switcher));
    if (status == QRT_SUCCESS) status = this->mcu->initial(this->cpld);
    if (status == QRT_SUCCESS) status = this->eeprom->initial(this->cpld);
    if (status != QRT_SUCCESS) return status;
    // The CPLD's I2C master addresses the microcontroller unless an EEPROM read is under way.
    this->cpld->setI2CSlave(this->mcuSlave);
    return QRT_SUCCESS;
}

template <class Base>
int A_pexPoeCard<Base>::identifyByStraps(const char* cpldStamp, QRT_PRODUCT_TYPE twoPort,
                                         QRT_PRODUCT_TYPE fourPort) {
    C_ObjectLock guard(this->lock);
    if (!guard.held() || this->getPCBVersion() != 1) return 0;
    int level = -1;
    if (switcher->getGPIO(kTiedLowPin, &level) != QRT_SUCCESS || level != 0) return 0;
    char stamp[kCpldVersionText] = {};
    if (this->readCpldVersion(stamp, sizeof stamp) != QRT_SUCCESS ||
        std::strncmp(stamp, cpldStamp, kCpldStampLength) != 0)
        return 0;
    if (switcher->getGPIO(kTwoPortPin, &level) != QRT_SUCCESS) return 0;
    this->productType = level == 1 ? twoPort : fourPort;
    this->poePortCount = level == 1 ? 2 : 4;
    return 1;
}

template <class Base>
int A_pexPoeCard<Base>::identifyByPartNumber(const RHX_PARTNUMBER_MODEL* models, unsigned count,
                                             int minimumPcbVersion) {
    this->productType = QRT_PRODUCT_UNKNOWN;
    if (this->getPCBVersion() < minimumPcbVersion) return 0;
    char partNumber[kPartNumberProbe] = {};
    if (this->getPN(partNumber, sizeof partNumber) != QRT_SUCCESS) return 0;
    for (unsigned i = 0; i < count; ++i) {
        if (std::strncmp(partNumber + kPartNumberPrefix, models[i].partNumber, kPartNumberLength) !=
            0)
            continue;
        this->productType = models[i].productType;
        this->poePortCount = models[i].ports;
        return 1;
    }
    return 0;
}

// ---- board straps -----------------------------------------------------------------------------

template <class Base>
int A_pexPoeCard<Base>::getPCBVersion() {
    if (switcher == nullptr) return -1;
    int version = 0;
    for (unsigned bit = 0; bit < 5; ++bit) {
        int level = 0;
        if (switcher->getGPIO(kPcbVersionPins[bit], &level) != QRT_SUCCESS)
            return bit == 0 ? -1 : version;
        if (level != 0) version |= 1 << bit;
    }
    return version;
}

template <class Base>
int A_pexPoeCard<Base>::getCardID(int* id) {
    if (id == nullptr) return QRT_ERR_INVALID_PARAM;
    if (switcher == nullptr) return QRT_ERR_NOT_INITIALIZED;
    int value = 0;
    for (unsigned bit = 0; bit < 4; ++bit) {
        int level = 0;
        const int status = switcher->getGPIO(kCardIdPins[bit], &level);
        if (status != QRT_SUCCESS) return status;
        if (level == 0) value |= 1 << bit;  // a rotary switch pulls the pin low
    }
    *id = value;
    return QRT_SUCCESS;
}

// ---- power inputs -----------------------------------------------------------------------------

template <class Base>
int A_pexPoeCard<Base>::readPowerSource(unsigned* source) {
    RHXMCU_POESTATE state = {};
    const int status = this->mcu->getPoEState(&state);
    if (status == QRT_SUCCESS) *source = state.powerSource & 3u;
    return status;
}

template <class Base>
int A_pexPoeCard<Base>::getExPowSupplyStates(int* states, unsigned n) {
    return this->withMcu([&]() -> int {
        if (states == nullptr || n < inputs_.count) return QRT_ERR_INVALID_PARAM;
        unsigned source = 0;
        const int status = readPowerSource(&source);
        if (status != QRT_SUCCESS) return status;
        for (unsigned input = 0; input < inputs_.count; ++input)
            states[input] = (inputs_.statesBySource[source] >> input) & 1u;
        return QRT_SUCCESS;
    });
}

template <class Base>
int A_pexPoeCard<Base>::getExPowSupplyDescription(unsigned index, char* buf, unsigned len) {
    if (index >= inputs_.count) return QRT_ERR_INVALID_PARAM;
    return this->copyText(inputs_.descriptions[index], buf, len);
}

template <class Base>
int A_pexPoeCard<Base>::getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) {
    if (this->enumValue(p) != QRT_POE_PROP_TOTAL_BUDGET) return Base::getPoEProperty(p, value);
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    return this->withMcu([&]() -> int {
        unsigned source = 0;
        const int status = readPowerSource(&source);
        if (status != QRT_SUCCESS) return status;
        // An input this card has no budget for is a reading the card cannot account for.
        if (inputs_.budgetBySource[source] <= 0.0f) return QRT_ERR_FAILED;
        *value = inputs_.budgetBySource[source];
        return QRT_SUCCESS;
    });
}

// ---- power consumption calculation --------------------------------------------------------------

template <class Base>
int A_pexPoeCard<Base>::checkFirmwareForPowerCalc() {
    if (!firmwareGate_) return QRT_SUCCESS;
    // One exchange at most (the version is kept once read), which the microcontroller holds
    // the card for itself: only the object lock is taken here.
    C_ObjectLock guard(this->lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (!this->initialized) return QRT_ERR_NOT_INITIALIZED;
    if (this->mcu == nullptr) return QRT_ERR_NOT_SUPPORTED;
    char version[kMcuVersionText] = {};
    int major = 0, minor = 0;
    // A version that cannot be read lets the call go ahead: the firmware's own answer then
    // tells.
    if (this->readMcuVersion(version, sizeof version) != QRT_SUCCESS ||
        std::sscanf(version, "%d.%d", &major, &minor) != 2)
        return QRT_SUCCESS;
    return major * 16 + minor > kPowerCalcFirmware ? QRT_SUCCESS : QRT_ERR_NOT_SUPPORTED;
}

template <class Base>
int A_pexPoeCard<Base>::setPoEPowConsumCalcProps(int mode) {
    const int status = checkFirmwareForPowerCalc();
    return status != QRT_SUCCESS ? status : Base::setPoEPowConsumCalcProps(mode);
}

template <class Base>
int A_pexPoeCard<Base>::getPoEPowConsumCalcProps(int* mode) {
    const int status = checkFirmwareForPowerCalc();
    return status != QRT_SUCCESS ? status : Base::getPoEPowConsumCalcProps(mode);
}

template class A_pexPoeCard<A_poeSeries>;
template class A_pexPoeCard<A_poeProSeries>;
