#include "product/poe/A_rhxPoeCard.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kMcuVersionText = 32;
constexpr unsigned kPartNumberProbe = 16;
constexpr unsigned kPartNumberPrefix = 3;
constexpr unsigned kPartNumberLength = 8;
// Firmware major x 16 + minor above this offers the power consumption calculation (1.14 on).
constexpr int kPowerCalcFirmware = 29;

}  // namespace

template <class Base>
A_rhxPoeCard<Base>::A_rhxPoeCard(const RHX_POWER_INPUTS& inputs, bool firmwareGate, bool readsMacs)
    : inputs_(inputs), firmwareGate_(firmwareGate), readsMacs_(readsMacs) {
    this->exPowSupplyCount = inputs.count;
}

// ---- bring-up -------------------------------------------------------------------------------

template <class Base>
int A_rhxPoeCard<Base>::initial(void* pciMap) {
    if (!this->initialized) {
        const int status = bindControllers(pciMap);
        if (status != QRT_SUCCESS) return status;
        if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
        C_ObjectLock guard(this->lock);
        if (!guard.held()) return QRT_ERR_BUSY;
        this->initialized = 1;
    }
    if (readsMacs_) this->updateMAC();
    return QRT_SUCCESS;
}

template <class Base>
int A_rhxPoeCard<Base>::identifyByPartNumber(const RHX_PARTNUMBER_MODEL* models, unsigned count,
                                             int minimumPcbVersion) {
    this->productType = QRT_PRODUCT_UNKNOWN;
    if (minimumPcbVersion > 0 && this->getPCBVersion() < minimumPcbVersion) return 0;
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

// ---- power inputs -----------------------------------------------------------------------------

template <class Base>
int A_rhxPoeCard<Base>::readPowerSource(unsigned* source) {
    RHXMCU_POESTATE state = {};
    const int status = this->mcu->getPoEState(&state);
    if (status == QRT_SUCCESS) *source = state.powerSource & 3u;
    return status;
}

template <class Base>
int A_rhxPoeCard<Base>::getExPowSupplyStates(int* states, unsigned n) {
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
int A_rhxPoeCard<Base>::getExPowSupplyDescription(unsigned index, char* buf, unsigned len) {
    if (index >= inputs_.count) return QRT_ERR_INVALID_PARAM;
    return this->copyText(inputs_.descriptions[index], buf, len);
}

template <class Base>
int A_rhxPoeCard<Base>::getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) {
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
int A_rhxPoeCard<Base>::checkFirmwareForPowerCalc() {
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
int A_rhxPoeCard<Base>::setPoEPowConsumCalcProps(int mode) {
    const int status = checkFirmwareForPowerCalc();
    return status != QRT_SUCCESS ? status : Base::setPoEPowConsumCalcProps(mode);
}

template <class Base>
int A_rhxPoeCard<Base>::getPoEPowConsumCalcProps(int* mode) {
    const int status = checkFirmwareForPowerCalc();
    return status != QRT_SUCCESS ? status : Base::getPoEPowConsumCalcProps(mode);
}

template class A_rhxPoeCard<A_poeSeries>;
template class A_rhxPoeCard<A_poeProSeries>;
