#include "product/usb3/C_w51X.h"

#include "core/driver/I_pciMap.h"

namespace {

constexpr unsigned int kPorts = 12;
constexpr unsigned int kMicrocontrollerPorts = 8;
constexpr unsigned int kPinPorts = kPorts - kMicrocontrollerPorts;
// Switch pin of ports 8, 9, 10 and 11.
constexpr unsigned int kPortPin[kPinPorts] = {7, 6, 9, 8};

}  // namespace

int C_w51X::initial(void* pciMap) {
    if (initialized) return QRT_SUCCESS;
    if (pciSwitcher == nullptr)
        pciSwitcher = switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    if (mcu == nullptr) mcu = mcuFactory.create(C_w5MCUFactory::NK_HWMCU_W5);
    if (pciSwitcher == nullptr || mcu == nullptr) return QRT_ERR_NOT_INITIALIZED;
    identity = identityRecordOf(pciMap);

    if (pciSwitcher->initial(pciMap) != QRT_SUCCESS) return QRT_ERR_NOT_INITIALIZED;
    if (mcu->initial(pciSwitcher) != QRT_SUCCESS) return QRT_ERR_NOT_INITIALIZED;
    // One part-number read before the real one; its answer is not used.
    discardFirstPartNumber();
    if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
    initialized = 1;
    return QRT_SUCCESS;
}

int C_w51X::checkValid() {
    return identifyModel(true);
}

int C_w51X::genProductString(char* text, int len) {
    return copyModelString(true, text, len);
}

unsigned C_w51X::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    const unsigned count = 2;
    if (list == nullptr || capacity < count) return count;
    list[0] = QRT_FEATURE_POWER_CONTROLLER;
    list[1] = QRT_FEATURE_EX_POWER_SUPPLY;
    return count;
}

// ---- port power -----------------------------------------------------------------------------

int C_w51X::setPowerPortEnable(int* enables, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (enables == nullptr || count < kPorts) return QRT_ERR_INVALID_PARAM;
    const int status = switchMicrocontrollerPorts(enables);
    if (status != QRT_SUCCESS) return status;
    for (unsigned int i = 0; i < kPinPorts; ++i) {
        pciSwitcher->setGPIODirection(kPortPin[i], enables[kMicrocontrollerPorts + i] != 0
                                                       ? I_nkGPIO::APGPIO_INPUT
                                                       : I_nkGPIO::APGPIO_OUTPUT);
    }
    return pciSwitcher->applyGPIODirection();
}

int C_w51X::getPowerPortEnable(int* enables, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (enables == nullptr || count < kPorts) return QRT_ERR_INVALID_PARAM;
    int status = mcu->getPowerPortEnable(enables, count);
    if (status != QRT_SUCCESS) return status;
    status = pciSwitcher->updateGPIODirection();
    if (status != QRT_SUCCESS) return status;
    for (unsigned int i = 0; i < kPinPorts; ++i) {
        I_nkGPIO::APGPIO_DIRECTION dir = I_nkGPIO::APGPIO_OUTPUT;
        pciSwitcher->getGPIODirection(kPortPin[i], &dir);
        enables[kMicrocontrollerPorts + i] = dir == I_nkGPIO::APGPIO_INPUT ? 1 : 0;
    }
    return QRT_SUCCESS;
}

// ---- external power supply ------------------------------------------------------------------

int C_w51X::getExPowSupplytNums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = exSupplyCount12;
    return QRT_SUCCESS;
}

int C_w51X::getExPowSupplyStates(int* states, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (states == nullptr || count < exSupplyCount12) return QRT_ERR_INVALID_PARAM;
    return readSupplyInput(states);
}

int C_w51X::getExPowSupplyDescription(unsigned index, char* text, unsigned len) {
    if (index >= exSupplyCount12) return QRT_ERR_INVALID_PARAM;
    return copySupplyDescription(text, len);
}
