#include "product/embedded/C_tulanPoE.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Total PoE budget in watts by the power input type the microcontroller reports (device-state
// bits 3..2); other types are not known to this board.
constexpr float kBudgetByPowerInput[] = {61.6f, 120.0f, 20.0f};
constexpr unsigned kVersionText = 16;

// Appends one line at the end of the text in buf, cut to the buffer.
void appendLine(char* buf, unsigned len, const char* key, const char* value) {
    size_t used = std::strlen(buf);
    if (used + 1 < len) std::snprintf(buf + used, len - used, "%s:%s\r\n", key, value);
}

}  // namespace

C_tulanPoE::C_tulanPoE() {
    poePortCount = kPorts;
    exPowSupplyCount = kPowerInputs;
    eepromSlave = kEepromSlave;
    mcuSlave = kMcuSlave;
}

C_tulanPoE::~C_tulanPoE() = default;

int C_tulanPoE::initial(void* buses) {
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (initialized) return QRT_SUCCESS;
    auto* list = static_cast<std::vector<I_nkI2C*>*>(buses);
    // Both buses are needed; a list without them cannot be bound.
    if (list == nullptr || list->size() < 2 || (*list)[0] == nullptr || (*list)[1] == nullptr)
        return QRT_ERR_INVALID_PARAM;
    if (mcu == nullptr) mcu = mcuFactory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
    if (eeprom == nullptr) eeprom = eepromFactory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    if (mcu == nullptr || eeprom == nullptr) return QRT_ERR_FAILED;
    mcuBus = (*list)[0];
    eepromBus = (*list)[1];
    identity = &ownIdentity;

    mcuBus->setI2CSlave(mcuSlave);
    int status = mcu->initial(mcuBus);
    if (status != QRT_SUCCESS) return status;
    eepromBus->setI2CSlave(eepromSlave);
    status = eeprom->initial(eepromBus);
    if (status != QRT_SUCCESS) return status;
    // On a shared bus the EEPROM's address was selected last.
    mcuBus->setI2CSlave(mcuSlave);
    if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
    initialized = 1;
    return QRT_SUCCESS;
}

int C_tulanPoE::checkValid() {
    return 1;
}

int C_tulanPoE::getType(QRT_PRODUCT_TYPE*) {
    return QRT_ERR_NOT_SUPPORTED;
}

unsigned C_tulanPoE::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    if (list != nullptr && capacity != 0) list[0] = QRT_FEATURE_POE;
    return 1;
}

int C_tulanPoE::getPCBVersion() {
    return 0;
}

int C_tulanPoE::getEEPROM(unsigned long offset, unsigned char* buf, unsigned len) {
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (eeprom == nullptr || eepromBus == nullptr) return QRT_ERR_NOT_SUPPORTED;
    eepromBus->setI2CSlave(eepromSlave);
    int status = eeprom->readData(offset, buf, len);
    mcuBus->setI2CSlave(mcuSlave);
    return status;
}

int C_tulanPoE::getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) {
    if (p != QRT_POE_PROP_TOTAL_BUDGET) return A_poeSeries::getPoEProperty(p, value);
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (!initialized || value == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_POESTATE state = {};
    int status = mcu->getPoEState(&state);
    if (status != QRT_SUCCESS) return status;
    constexpr int kKnownInputs = sizeof kBudgetByPowerInput / sizeof kBudgetByPowerInput[0];
    if (state.powerSource >= kKnownInputs) return QRT_ERR_BUSY;
    *value = kBudgetByPowerInput[state.powerSource];
    return QRT_SUCCESS;
}

int C_tulanPoE::getInfo(char* buf, unsigned len) {
    {
        C_ObjectLock guard(lock);
        if (!guard.held()) return QRT_ERR_BUSY;
        if (!initialized) return QRT_ERR_NOT_INITIALIZED;
        if (buf == nullptr || len == 0) return QRT_ERR_INVALID_PARAM;
        buf[0] = '\0';
        char version[kVersionText] = {};
        if (readMcuVersion(version, sizeof version) == QRT_SUCCESS)
            appendLine(buf, len, "MCUVersion", version);
        else
            std::printf("MCU error\n");
        if (std::strlen(buf) + 1 >= len) return QRT_SUCCESS;
    }
    // The part and serial number reads take the lock themselves.
    char field[kTextField] = {};
    if (getPN(field, sizeof field) == QRT_SUCCESS) appendLine(buf, len, "PN", field);
    if (std::strlen(buf) + 1 >= len) return QRT_SUCCESS;
    std::memset(field, 0, sizeof field);
    if (getSN(field, sizeof field) == QRT_SUCCESS) appendLine(buf, len, "SN", field);
    return QRT_SUCCESS;
}
