#include "product/poe/A_poeSeries.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/common/I_CommonDef.h"

namespace {

// PSE registers the microcontroller relays.
constexpr unsigned char kPsePortStatus = 0x0C;   // + port: class code in bits 6..4
constexpr unsigned char kPsePowerStatus = 0x10;  // power good of port p in bit p + 4
constexpr unsigned char kPseCurrent = 0x30;      // + 4 * port, two bytes, low first
constexpr unsigned char kPseVoltage = 0x32;      // + 4 * port, two bytes, low first
constexpr unsigned kPsePortStride = 4;
constexpr unsigned kPowerGoodShift = 4;
constexpr unsigned kPseNoReading = 0xFFFF;
constexpr double kAmperesPerCount = 122.07e-6;
constexpr double kVoltsPerCount = 5.835e-3;

// Protection thresholds the firmware accepts, in degrees Celsius.
constexpr int kProtectMin = 80;
constexpr int kProtectMax = 130;
constexpr int kRecoverMin = 70;
constexpr int kRecoverMax = 120;
constexpr int kMinHysteresis = 10;
constexpr int kProtectionAttempts = 3;
constexpr int kProtectionRetryPauseMs = 1;
constexpr int kUnreadThreshold = 255;

constexpr unsigned kVersionText = 16;
constexpr unsigned kModelText = 32;

constexpr POE_MODEL_NAME kModelNames[] = {
    {QRT_PRODUCT_RHX44PLUS, "PCIe-RHX44+"},  {QRT_PRODUCT_RHX52, "PCIe-RHX52"},
    {QRT_PRODUCT_RHX54, "PCIe-RHX54"},       {QRT_PRODUCT_RHX52P, "PCIe-RHX52P"},
    {QRT_PRODUCT_RHX54P, "PCIe-RHX54P"},     {QRT_PRODUCT_RHX54I, "PCIe-RHX54I"},
    {QRT_PRODUCT_RHX54PAT, "PCIe-RHX54PAT"},
};

// Writes the identity text line by line into a caller buffer. Each line is formatted at the
// write position with the room left and the position advances by what the line needed, so a
// line that does not fit is cut (terminated) and leaves no room for the next: nothing is ever
// written beyond the buffer.
class InfoText {
  public:
    // Starts an empty text, or continues one of `used` characters.
    InfoText(char* buf, unsigned len, unsigned used = 0) : buf_(buf), len_(len), used_(used) {
        if (used_ == 0) buf_[0] = '\0';
    }

    unsigned used() const { return used_; }
    long room() const { return static_cast<long>(len_) - static_cast<long>(used_); }

    __attribute__((format(printf, 2, 3))) void line(const char* format, ...) {
        if (room() <= 0) return;
        va_list args;
        va_start(args, format);
        const int needed = std::vsnprintf(buf_ + used_, static_cast<size_t>(room()), format, args);
        va_end(args);
        if (needed > 0) used_ += static_cast<unsigned>(needed);
    }

  private:
    char* const buf_;
    const unsigned len_;
    unsigned used_;
};

}  // namespace

A_poeSeries::A_poeSeries() = default;

// Calls still running on other threads are the owner's to stop first, so the destructor does
// not wait for the card lock.
A_poeSeries::~A_poeSeries() {
    initialized = 0;
}

int A_poeSeries::copyText(const char* text, char* buf, unsigned len) {
    if (buf == nullptr) return QRT_ERR_INVALID_PARAM;
    if (len > 0) std::snprintf(buf, len, "%s", text);
    return QRT_SUCCESS;
}

// ---- product --------------------------------------------------------------------------------

int A_poeSeries::getType(QRT_PRODUCT_TYPE* type) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (type == nullptr) return QRT_ERR_INVALID_PARAM;
    *type = productType;
    return QRT_SUCCESS;
}

int A_poeSeries::getSN(char* buf, unsigned len) {
    return getEEPROMText(kSerialNumberField, buf, len);
}

int A_poeSeries::getPN(char* buf, unsigned len) {
    return getEEPROMText(kPartNumberField, buf, len);
}

int A_poeSeries::getEEPROMText(unsigned long field, char* buf, unsigned len) {
    if (buf == nullptr || len == 0) return QRT_ERR_INVALID_PARAM;
    // The field holds at most kTextField bytes; one byte of the caller's buffer stays the
    // terminator, so a text that fills its field or the buffer still ends.
    std::memset(buf, 0, len);
    const unsigned bytes = std::min(len - 1, kTextField);
    if (bytes == 0) return QRT_SUCCESS;
    const int status = readIdentityEEPROM(field, reinterpret_cast<unsigned char*>(buf), bytes);
    if (status != QRT_SUCCESS) std::memset(buf, 0, len);
    return status;
}

int A_poeSeries::readIdentityEEPROM(unsigned long offset, unsigned char* buf, unsigned len) {
    return readIdentity(identity, {C_identityRecord::EEPROM_FIELD, offset}, buf, len,
                        [&]() -> int { return getEEPROM(offset, buf, len); });
}

int A_poeSeries::readCpldVersion(char* text, unsigned size) {
    return readIdentity(identity, {C_identityRecord::CPLD_VERSION, size}, text, size,
                        [&]() -> int { return cpld->getVersion(text, size); });
}

int A_poeSeries::readMcuVersion(char* text, unsigned size) {
    return readIdentity(identity, {C_identityRecord::RHX_MCU_VERSION, size}, text, size,
                        [&]() -> int { return mcu->getVersion(text, size); });
}

unsigned A_poeSeries::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    static const QRT_FEATURE_TYPE kFeatures[] = {QRT_FEATURE_POE, QRT_FEATURE_EX_POWER_SUPPLY};
    return copyFeatures(kFeatures, list, capacity);
}

void* A_poeSeries::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    switch (feature) {
        case QRT_FEATURE_POE:
            return static_cast<I_poe*>(this);
        case QRT_FEATURE_EX_POWER_SUPPLY:
            return static_cast<I_exPowerSupply*>(this);
        default:
            return nullptr;
    }
}

int A_poeSeries::getPCBVersion() {
    return -1;
}

int A_poeSeries::genProductString(char* buf, int len) {
    return copyModelName(kModelNames, buf, len);
}

int A_poeSeries::getInfo(char* buf, unsigned len) {
    unsigned used = 0;
    {
        C_ObjectLock guard(lock);
        if (!guard.held()) return QRT_ERR_BUSY;
        if (!initialized) return QRT_ERR_NOT_INITIALIZED;
        if (buf == nullptr || len == 0) return QRT_ERR_INVALID_PARAM;
        InfoText text(buf, len);
        char model[kModelText] = {};
        genProductString(model, sizeof model);
        text.line("Product:%s\r\n", model);
        char version[kVersionText] = {};
        if (text.room() > 0 && cpld != nullptr &&
            readCpldVersion(version, sizeof version) == QRT_SUCCESS)
            text.line("CPLDVersion:%s\r\n", version);
        std::memset(version, 0, sizeof version);
        if (text.room() > 0 && mcu != nullptr && mcuAnswers &&
            readMcuVersion(version, sizeof version) == QRT_SUCCESS)
            text.line("MCUVersion:%s\r\n", version);
        if (text.room() <= 0) return QRT_SUCCESS;
        used = text.used();
    }
    // The part number, serial number and MAC reads take the card lock themselves.
    InfoText text(buf, len, used);
    char field[kTextField] = {};
    if (getPN(field, sizeof field) == QRT_SUCCESS) text.line("PN:%s\r\n", field);
    if (text.room() <= 0) return QRT_SUCCESS;
    std::memset(field, 0, sizeof field);
    if (getSN(field, sizeof field) == QRT_SUCCESS) text.line("SN:%s\r\n", field);
    if (text.room() <= 0) return QRT_SUCCESS;
    const int pcbVersion = getPCBVersion();
    if (pcbVersion >= 0) text.line("PCBVersion:%d\r\n", pcbVersion);
    if (text.room() <= 0 || macTable.empty()) return QRT_SUCCESS;
    for (unsigned port = 0; port < poePortCount; ++port) {
        unsigned char* mac = nullptr;
        if (getMAC(port, &mac) == QRT_SUCCESS)
            text.line("MAC%u: %02x:%02x:%02x:%02x:%02x:%02x\r\n", port, mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
        else
            text.line("MAC%u: Error\r\n", port);
    }
    return QRT_SUCCESS;
}

// ---- identity EEPROM ------------------------------------------------------------------------

int A_poeSeries::getEEPROM(unsigned long offset, unsigned char* buf, unsigned len) {
    // The CPLD's master serves both slaves; it must address the microcontroller again before
    // anyone else uses the bridge. The card's access lock keeps the read with its address moves
    // whole against other processes too.
    C_TransactionLock guard(lock, cardAccessLock());
    if (!guard.held()) return guard.status();
    if (cpld == nullptr || eeprom == nullptr) return QRT_ERR_NOT_SUPPORTED;
    cpld->setI2CSlave(eepromSlave);
    const int status = eeprom->readData(offset, buf, len);
    cpld->setI2CSlave(mcuSlave);
    return status;
}

int A_poeSeries::getPhyMACFromEEPROM(unsigned port, unsigned char* mac) {
    if (port >= kMacSlots) return QRT_ERR_INVALID_PARAM;
    return readIdentityEEPROM(kMacField + 8 * port, mac, kMacBytes);
}

int A_poeSeries::getMAC(unsigned port, unsigned char** mac) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (mac == nullptr || port >= poePortCount || port >= macTable.size())
        return QRT_ERR_INVALID_PARAM;
    *mac = macTable[port].get();
    return QRT_SUCCESS;
}

int A_poeSeries::updateMAC() {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    int status = onAcceptedCard([this]() -> int {
        if (macTable.empty()) {
            for (unsigned port = 0; port < poePortCount; ++port)
                macTable.emplace_back(new unsigned char[kMacBytes]());
        }
        return QRT_SUCCESS;
    });
    if (status != QRT_SUCCESS) return status;
    // getMAC decides which buffer an EEPROM slot fills, so a card that numbers its ports
    // differently maps them there.
    for (unsigned slot = 0; slot < poePortCount; ++slot) {
        unsigned char* buffer = nullptr;
        status = getMAC(slot, &buffer);
        if (status != QRT_SUCCESS) continue;
        status = getPhyMACFromEEPROM(slot, buffer);
        if (status != QRT_SUCCESS) break;
    }
    return status;
}

// ---- external power supply, trigger over Ethernet, fans: counts only --------------------------

int A_poeSeries::getExPowSupplytNums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = exPowSupplyCount;
    return QRT_SUCCESS;
}
int A_poeSeries::getFanNums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = fanCount;
    return QRT_SUCCESS;
}

// ---- PoE --------------------------------------------------------------------------------------

int A_poeSeries::getPoEPortNums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = poePortCount;
    return QRT_SUCCESS;
}

// The microcontroller switches ports below the count it is given; ports the card does not
// have are left alone.
int A_poeSeries::setPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr) return QRT_ERR_INVALID_PARAM;
    return withMcu([&]() -> int { return mcu->setPoEEnable(enables, std::min(n, poePortCount)); });
}

int A_poeSeries::getPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr) return QRT_ERR_INVALID_PARAM;
    return withMcu([&]() -> int { return mcu->getPoEEnable(enables, std::min(n, poePortCount)); });
}

// The power consumption calculation mode is the firmware's power-budget control.
int A_poeSeries::setPoEPowConsumCalcProps(int mode) {
    return withMcu([&]() -> int { return mcu->setPowerBudgetControlEnable(mode); });
}

int A_poeSeries::getPoEPowConsumCalcProps(int* mode) {
    if (mode == nullptr) return QRT_ERR_INVALID_PARAM;
    return withMcu([&]() -> int { return mcu->getPowerBudgetControlEnable(mode); });
}

int A_poeSeries::getPoEProtectTempRange(int* protect, int* recover) {
    if (protect == nullptr || recover == nullptr) return QRT_ERR_INVALID_PARAM;
    return withMcu([&]() -> int {
        const int status = mcu->getProtectedTemperature(protect);
        return status != QRT_SUCCESS ? status : mcu->getRecoveryTemperature(recover);
    });
}

int A_poeSeries::setPoEProtectTempRange(int protect, int recover) {
    return withMcu([&]() -> int {
        if (protect < kProtectMin || protect > kProtectMax || recover < kRecoverMin ||
            recover > kRecoverMax || protect - recover < kMinHysteresis)
            return QRT_ERR_INVALID_PARAM;
        int current = 0;
        int status = mcu->getProtectedTemperature(&current);
        if (status != QRT_SUCCESS) return status;
        for (int attempt = 0; attempt < kProtectionAttempts; ++attempt) {
            status = writeProtectionPair(protect, recover, current);
            if (status != QRT_SUCCESS) return status;
            int readRecover = kUnreadThreshold;
            int readProtect = kUnreadThreshold;
            mcu->getRecoveryTemperature(&readRecover);
            mcu->getProtectedTemperature(&readProtect);
            if (readRecover == recover && readProtect == protect) return QRT_SUCCESS;
            status = QRT_ERR_FAILED;
            I_CommonDef::Sleep(kProtectionRetryPauseMs);
        }
        return status;
    });
}

// The firmware never holds a recovery temperature above its protection temperature: a
// recovery above the protection held now goes in after the new protection, anything else
// before it.
int A_poeSeries::writeProtectionPair(int protect, int recover, int current) {
    int status;
    if (recover > current) {
        status = mcu->setProtectedTemperature(protect);
        return status != QRT_SUCCESS ? status : mcu->setRecoveryTemperature(recover);
    }
    status = mcu->setRecoveryTemperature(recover);
    if (status != QRT_SUCCESS || protect == current) return status;
    return mcu->setProtectedTemperature(protect);
}

int A_poeSeries::getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    return withMcu([&]() -> int {
        RHXMCU_POESTATE state = {};
        int status = QRT_SUCCESS;
        const int property = enumValue(p);
        switch (property) {
            case QRT_POE_PROP_STATE_FLAG0:
            case QRT_POE_PROP_STATE_FLAG1:
            case QRT_POE_PROP_STATE_FLAG5_CLEAR:
                status = mcu->getPoEState(&state);
                if (status != QRT_SUCCESS) return status;
                if (property == QRT_POE_PROP_STATE_FLAG0) *value = state.stateBit0 ? 1.0f : 0.0f;
                if (property == QRT_POE_PROP_STATE_FLAG1) *value = state.stateBit1 ? 1.0f : 0.0f;
                if (property == QRT_POE_PROP_STATE_FLAG5_CLEAR)
                    *value = state.stateBit5 ? 0.0f : 1.0f;
                return QRT_SUCCESS;
            case QRT_POE_PROP_TEMPERATURE:
                return mcu->getThermalTemperature(value);
            case QRT_POE_PROP_CONSUMED_BUDGET:
                return mcu->getConsumedPowerBudget(value);
            case QRT_POE_PROP_LEFT_BUDGET:
                return mcu->getLeftPowerBudget(value);
            default:
                return QRT_ERR_INVALID_PARAM;
        }
    });
}

int A_poeSeries::getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) {
    if (port >= poePortCount || value == nullptr) return QRT_ERR_INVALID_PARAM;
    unsigned reading = 0;
    int status;
    switch (enumValue(p)) {
        case QRT_POEPORT_PROP_CURRENT:
            return getPoEPSECurrent(port, value);
        case QRT_POEPORT_PROP_VOLTAGE:
            return getPoEPSEVolt(port, value);
        case QRT_POEPORT_PROP_POWER_CLASS:
            status = getPowerClass(port, &reading);
            // Class codes 1..5 are the class; 6 is class 0, 7 a class the PSE could not
            // settle, 0 nothing detected.
            if (status == QRT_SUCCESS)
                *value = reading >= 1 && reading <= 5 ? static_cast<float>(reading)
                         : reading == 6               ? 0.0f
                         : reading == 7               ? -1.0f
                                                      : -2.0f;
            return status;
        case QRT_POEPORT_PROP_POWER_GOOD:
            status = getPowerGood(port, &reading);
            if (status == QRT_SUCCESS) *value = static_cast<float>(reading);
            return status;
        case QRT_POEPORT_PROP_LAST_STATE:
            status = getPoELastState(port, &reading);
            if (status == QRT_SUCCESS) *value = static_cast<float>(reading);
            return status;
        default:
            return QRT_ERR_INVALID_PARAM;
    }
}

int A_poeSeries::readPseWord(unsigned char reg, unsigned* word) {
    unsigned char bytes[2] = {};
    const int status = withMcu([&]() -> int { return mcu->readPSETwoByteData(reg, bytes); });
    if (status != QRT_SUCCESS) return status;
    *word = bytes[0] + 256u * bytes[1];
    return *word == kPseNoReading ? QRT_ERR_FAILED : QRT_SUCCESS;
}

int A_poeSeries::readPseByte(unsigned char reg, unsigned char* value) {
    return withMcu([&]() -> int { return mcu->readPSEOneByteData(reg, value); });
}

int A_poeSeries::getPoEPSECurrent(unsigned port, float* amperes) {
    unsigned word = 0;
    const int status =
        readPseWord(static_cast<unsigned char>(kPseCurrent + kPsePortStride * port), &word);
    if (status == QRT_SUCCESS) *amperes = static_cast<float>(word * kAmperesPerCount);
    return status;
}

int A_poeSeries::getPoEPSEVolt(unsigned port, float* volts) {
    unsigned word = 0;
    const int status =
        readPseWord(static_cast<unsigned char>(kPseVoltage + kPsePortStride * port), &word);
    if (status == QRT_SUCCESS) *volts = static_cast<float>(word * kVoltsPerCount);
    return status;
}

int A_poeSeries::getPowerClass(unsigned port, unsigned* code) {
    unsigned char portStatus = 0;
    const int status = readPseByte(static_cast<unsigned char>(kPsePortStatus + port), &portStatus);
    if (status == QRT_SUCCESS) *code = (portStatus >> 4) & 0x07;
    return status;
}

int A_poeSeries::getPowerGood(unsigned port, unsigned* good) {
    unsigned char power = 0;
    const int status = readPseByte(kPsePowerStatus, &power);
    if (status == QRT_SUCCESS) *good = (power >> (port + kPowerGoodShift)) & 1u;
    return status;
}

int A_poeSeries::getPoELastState(unsigned port, unsigned* state) {
    return withMcu([&]() -> int {
        std::vector<int> states(poePortCount, 0);
        const int status = mcu->getPSERecvoeryPowerState(states.data(), poePortCount);
        if (status != QRT_SUCCESS) return status;
        if (port >= states.size()) return QRT_ERR_INVALID_PARAM;
        *state = static_cast<unsigned>(states[port]);
        return QRT_SUCCESS;
    });
}
