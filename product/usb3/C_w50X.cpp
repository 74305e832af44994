#include "product/usb3/C_w50X.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/controllers/w5mcu/A_w5MCU.h"
#include "core/driver/I_pciMap.h"

const W5_MODEL C_w50X::kModels[] = {
    {"53104-10", QRT_PRODUCT_W504, "PCIe-W504", 4, false},
    {"53104-20", QRT_PRODUCT_W508, "PCIe-W508", 8, false},
    {"53104-11", QRT_PRODUCT_W504P, "PCIe-W504P", 4, false},
    {"53104-21", QRT_PRODUCT_W508P, "PCIe-W508P", 8, false},
    {"53104-30", QRT_PRODUCT_W512, "PCIe-W512", 12, true},
    {"53104-31", QRT_PRODUCT_W512P, "PCIe-W512P", 12, true},
};
const unsigned int C_w50X::kModelCount = sizeof(kModels) / sizeof(kModels[0]);

namespace {

// The part number in flash is a 3-character prefix followed by the 8-character part number.
constexpr unsigned int kPartNumberPrefix = 3;
constexpr unsigned int kPartNumberLength = 8;
// Buffers of the identity reads.
constexpr unsigned int kPartNumberProbeBytes = 16;
constexpr unsigned int kShortTextBytes = 16;
constexpr unsigned int kFlashTextBytes = 32;
constexpr unsigned int kMicrocontrollerChannels = 8;

constexpr const char* kUnknownModel = "UnknowProduct";
constexpr const char* kSupplyDescription = "Max4P Power Supply";
// The supply input: switch pin 1, pulled high while nothing is connected.
constexpr unsigned int kSupplyInputPin = 1;
// PCB version straps: level(a) + 2 * level(b).
struct PcbStraps {
    unsigned int pinA;
    unsigned int pinB;
};
constexpr PcbStraps kPex8718Straps = {0, 4};
constexpr PcbStraps kPex8608Straps = {2, 10};

// Copies a text the way the information texts are written: cut to the buffer, terminated.
void copyText(char* text, unsigned len, const char* source) {
    if (len > 0) std::snprintf(text, len, "%s", source);
}

}  // namespace

C_w50X::C_w50X() {
    switcherCandidates.push_back(
        switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718));
    switcherCandidates.push_back(
        switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608));
}

C_w50X::~C_w50X() = default;

// ---- bring-up and identification ------------------------------------------------------------

int C_w50X::initial(void* pciMap) {
    if (initialized) return QRT_SUCCESS;
    if (mcu == nullptr) mcu = mcuFactory.create(C_w5MCUFactory::NK_HWMCU_W5);
    if (mcu == nullptr) return QRT_ERR_NOT_INITIALIZED;
    identity = identityRecordOf(pciMap);

    // A switch that is not the chip of the map answers -13; anything else settles it.
    int status = QRT_ERR_NOT_INITIALIZED;
    for (I_nkPCISwitcher* candidate : switcherCandidates) {
        pciSwitcher = candidate;
        status = candidate->initial(pciMap);
        if (status != QRT_ERR_NOT_INITIALIZED) break;
    }
    if (status != QRT_SUCCESS) return QRT_ERR_NOT_INITIALIZED;

    std::memset(chipName, 0, sizeof(chipName));
    if (pciSwitcher->getChipName(chipName, sizeof(chipName) - 1) != QRT_SUCCESS)
        return QRT_ERR_NOT_INITIALIZED;
    if (mcu->initial(pciSwitcher) != QRT_SUCCESS) return QRT_ERR_NOT_INITIALIZED;
    // Boards on the PEX 8608 get one part-number read before the real one; its answer is
    // not used.
    if (std::strcmp(chipName, "Pex8608") == 0) discardFirstPartNumber();
    if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
    initialized = 1;
    return QRT_SUCCESS;
}

void C_w50X::discardFirstPartNumber() {
    constexpr C_identityRecord::Key kDone = {C_identityRecord::W5_MCU_PROBE, 0};
    if (identity != nullptr && identity->recall(kDone, nullptr, 0)) return;
    char discarded[kPartNumberProbeBytes] = {};
    mcu->getPN(discarded, sizeof(discarded));
    if (identity != nullptr) identity->keep(kDone, nullptr, 0);
}

int C_w50X::readFlashText(bool serialNumber, char* text, unsigned int length) {
    char field[A_w5MCU::kFlashTextBytes] = {};
    const int status = readIdentity(
        identity, {C_identityRecord::W5_MCU_FLASH, serialNumber ? 1ul : 0ul}, field, sizeof field,
        [&]() -> int {
            return serialNumber ? mcu->getSN(field, sizeof field) : mcu->getPN(field, sizeof field);
        });
    if (status == QRT_SUCCESS) std::memcpy(text, field, std::min<unsigned>(length, sizeof field));
    return status;
}

int C_w50X::checkValid() {
    if (!identifyModel(false)) return 0;
    exSupplyCount = static_cast<unsigned int>(pcbVersion) > 1 ? 1 : 0;
    return 1;
}

int C_w50X::identifyModel(bool twelvePortClass) {
    char partNumber[kPartNumberProbeBytes] = {};
    if (readFlashText(false, partNumber, sizeof(partNumber)) != QRT_SUCCESS) return 0;
    for (unsigned int i = 0; i < kModelCount; ++i) {
        const W5_MODEL& model = kModels[i];
        if (model.twelvePortClass != twelvePortClass) continue;
        if (std::memcmp(partNumber + kPartNumberPrefix, model.partNumber, kPartNumberLength) != 0)
            continue;
        productType = model.productType;
        usbPortCount = model.usbPorts;
        readPcbVersion();
        return 1;
    }
    return 0;
}

void C_w50X::readPcbVersion() {
    const PcbStraps& straps =
        std::strcmp(chipName, "Pex8718") == 0 ? kPex8718Straps : kPex8608Straps;
    int levelA = 0;
    int levelB = 0;
    if (pciSwitcher->getGPIO(straps.pinA, &levelA) != QRT_SUCCESS) {
        pcbVersion = -1;
        return;
    }
    levelA = levelA != 0 ? 1 : 0;
    if (pciSwitcher->getGPIO(straps.pinB, &levelB) != QRT_SUCCESS) {
        pcbVersion = levelA;
        return;
    }
    pcbVersion = levelA + 2 * (levelB != 0 ? 1 : 0);
}

int C_w50X::genProductString(char* text, int len) {
    return copyModelString(false, text, len);
}

int C_w50X::copyModelString(bool twelvePortClass, char* text, int len) const {
    if (text == nullptr || len <= 0) return QRT_ERR_INVALID_PARAM;
    const char* name = kUnknownModel;
    for (unsigned int i = 0; i < kModelCount; ++i) {
        if (kModels[i].twelvePortClass == twelvePortClass && kModels[i].productType == productType)
            name = kModels[i].modelString;
    }
    copyText(text, static_cast<unsigned>(len), name);
    return QRT_SUCCESS;
}

// ---- product --------------------------------------------------------------------------------

int C_w50X::getInfo(char* text, unsigned size) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (text == nullptr || size == 0) return QRT_ERR_INVALID_PARAM;
    char model[kShortTextBytes] = {};
    char version[kShortTextBytes] = {};
    char partNumber[kFlashTextBytes] = {};
    char serialNumber[kFlashTextBytes] = {};
    genProductString(model, sizeof(model));
    int status = mcu->getVersion(version, sizeof(version));
    if (status != QRT_SUCCESS) return status;
    status = readFlashText(false, partNumber, sizeof(partNumber));
    if (status != QRT_SUCCESS) return status;
    status = readFlashText(true, serialNumber, sizeof(serialNumber));
    if (status != QRT_SUCCESS) return status;
    std::snprintf(text, size, "Product:%s\r\nMCUVersion:%s\r\nPN:%s\r\nSN:%s\r\nPCBVersion:%d\r\n",
                  model, version, partNumber, serialNumber, pcbVersion);
    return QRT_SUCCESS;
}

int C_w50X::getType(QRT_PRODUCT_TYPE* type) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (type == nullptr) return QRT_ERR_INVALID_PARAM;
    *type = productType;
    return QRT_SUCCESS;
}

int C_w50X::getSN(char* text, unsigned size) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (text == nullptr || size == 0) return QRT_ERR_INVALID_PARAM;
    std::memset(text, 0, size);
    // One byte stays zero, so the caller always gets a terminated text.
    return readFlashText(true, text, size - 1);
}

int C_w50X::getCardID(int* id) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (id == nullptr) return QRT_ERR_INVALID_PARAM;
    return mcu->getCardID(id);
}

unsigned C_w50X::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    const unsigned count = exSupplyCount != 0 ? 2 : 1;
    if (list == nullptr || capacity < count) return count;
    list[0] = QRT_FEATURE_POWER_CONTROLLER;
    if (count == 2) list[1] = QRT_FEATURE_EX_POWER_SUPPLY;
    return count;
}

void* C_w50X::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    // The supply facet is handed out even by boards that do not list it; its operations
    // then answer "not supported".
    switch (feature) {
        case QRT_FEATURE_POWER_CONTROLLER:
            return static_cast<I_powerController*>(this);
        case QRT_FEATURE_EX_POWER_SUPPLY:
            return static_cast<I_exPowerSupply*>(this);
        default:
            return nullptr;
    }
}

// ---- port power -----------------------------------------------------------------------------

int C_w50X::getPowerPortNums(unsigned* n) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = usbPortCount;
    return QRT_SUCCESS;
}

int C_w50X::switchMicrocontrollerPorts(const int* enables) {
    // A 4-port card wires port i to channel 2i; the others use channel i.
    const unsigned int ports = std::min(usbPortCount, kMicrocontrollerChannels);
    const unsigned int stride = ports == 4 ? 2 : 1;
    int channels[kMicrocontrollerChannels] = {};
    for (unsigned int port = 0; port < ports; ++port) channels[port * stride] = enables[port];
    return mcu->setPowerPortEnable(channels, kMicrocontrollerChannels);
}

int C_w50X::setPowerPortEnable(int* enables, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (enables == nullptr || count < usbPortCount) return QRT_ERR_INVALID_PARAM;
    return switchMicrocontrollerPorts(enables);
}

int C_w50X::getPowerPortEnable(int* enables, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (enables == nullptr) return QRT_ERR_INVALID_PARAM;
    if (usbPortCount != 4) return mcu->getPowerPortEnable(enables, count);
    // 4-port card: the even channels, as many as the caller has room for.
    int channels[kMicrocontrollerChannels] = {};
    const int status = mcu->getPowerPortEnable(channels, kMicrocontrollerChannels);
    const unsigned int ports = std::min(count, 4u);
    for (unsigned int port = 0; port < ports; ++port) enables[port] = channels[2 * port];
    return status;
}

// ---- external power supply ------------------------------------------------------------------

int C_w50X::readSupplyInput(int* states) {
    // The sense pin is an input: only the input register is read. The pin cache must be
    // fresh: a failed read is reported, not answered from old levels.
    const int status = pciSwitcher->updateGPIOInputs();
    if (status != QRT_SUCCESS) return status;
    int level = 1;
    pciSwitcher->getGPIO(kSupplyInputPin, &level);
    states[0] = level != 1 ? 1 : 0;
    return QRT_SUCCESS;
}

int C_w50X::copySupplyDescription(char* text, unsigned len) const {
    if (text == nullptr) return QRT_ERR_INVALID_PARAM;
    copyText(text, len, kSupplyDescription);
    return QRT_SUCCESS;
}

int C_w50X::getExPowSupplytNums(unsigned* n) {
    if (exSupplyCount == 0) return QRT_ERR_NOT_SUPPORTED;
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = exSupplyCount;
    return QRT_SUCCESS;
}

int C_w50X::getExPowSupplyStates(int* states, unsigned count) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (exSupplyCount == 0) return QRT_ERR_NOT_SUPPORTED;
    if (states == nullptr || count < exSupplyCount) return QRT_ERR_INVALID_PARAM;
    return readSupplyInput(states);
}

int C_w50X::getExPowSupplyDescription(unsigned index, char* text, unsigned len) {
    if (exSupplyCount == 0) return QRT_ERR_NOT_SUPPORTED;
    if (index >= exSupplyCount) return QRT_ERR_INVALID_PARAM;
    return copySupplyDescription(text, len);
}
