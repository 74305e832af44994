#include "product/embedded/C_tulanKQX.h"

#include <algorithm>
#include <cstdio>

#include "utilities/SModifyConfig.h"

namespace {

constexpr const char* kMcuBusKey = "MCU.I2CBUS";
constexpr const char* kEepromBusKey = "EEPROM.I2CBUS";
// i2c-dev numbers its adapters below its minor count (2^20).
constexpr unsigned long kMaxBusNumber = (1ul << 20) - 1;
// Room for a value: a longer one is no bus number either.
constexpr int kValueBytes = 32;

// A bus number as the file gives it: decimal digits only, within the adapter range. Anything
// else ("3x", "0x3", "-1", an empty value, an overflow) names no bus, rather than some other.
bool parseBusNumber(const char* text, unsigned* bus) {
    unsigned long value = 0;
    if (*text == '\0') return false;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + static_cast<unsigned long>(*at - '0');
        if (value > kMaxBusNumber) return false;
    }
    *bus = static_cast<unsigned>(value);
    return true;
}

}  // namespace

// Reads one bus key when the file has it; false (with the reason printed once) when its value
// is no bus number.
bool C_tulanKQX::readBusNumber(SModifyConfig& config, const char* key, unsigned* bus) {
    if (!config.hasKey(key)) return true;
    char value[kValueBytes + 1] = {};
    config.getValue(key, value, kValueBytes + 1);
    if (value[kValueBytes] == '\0' && parseBusNumber(value, bus)) return true;
    value[kValueBytes] = '\0';
    if (!m_reported) {
        std::fprintf(stderr,
                     "QRT SDK: %s: %s = \"%s\" is not an I2C bus number (decimal, 0 to %lu); "
                     "the embedded system is not used\n",
                     m_systemFile.c_str(), key, value, kMaxBusNumber);
        m_reported = true;
    }
    return false;
}

C_tulanKQX::C_tulanKQX() : C_tulanKQX(kSystemFile, C_visionComponentFactory::builtInComponents()) {}

C_tulanKQX::C_tulanKQX(const char* systemFile,
                       const C_visionComponentFactory::ComponentTable& parts)
    : m_systemFile(systemFile), m_componentFactory(parts) {}

C_tulanKQX::~C_tulanKQX() {
    C_ObjectLock guard(lock);
    initialized = 0;
}

bool C_tulanKQX::checkvaild() {
    SModifyConfig config;
    if (!config.loadConfig(m_systemFile.c_str())) return false;
    if (!readBusNumber(config, kMcuBusKey, &m_mcuBus) ||
        !readBusNumber(config, kEepromBusKey, &m_eepromBus))
        return false;
    productType = QRT_PRODUCT_TULAN_KQX;
    return true;
}

int C_tulanKQX::initial() {
    if (initialized) return QRT_SUCCESS;
    if (!checkvaild()) return QRT_ERR_FAILED;
    if (!m_buses) {
        auto buses = std::make_unique<std::vector<I_nkI2C*>>();
        I_nkI2C* mcuBus = m_i2cFactory.create(m_mcuBus);
        // One adapter serves both devices when the file names the same bus twice.
        I_nkI2C* eepromBus = m_eepromBus == m_mcuBus ? mcuBus : m_i2cFactory.create(m_eepromBus);
        // A bus object whose lock could not be taken is no bus to hand on.
        if (mcuBus == nullptr || eepromBus == nullptr) return QRT_ERR_FAILED;
        buses->push_back(mcuBus);
        buses->push_back(eepromBus);
        m_buses = std::move(buses);
    }

    I_nkProduct* poe = m_componentFactory.create(C_visionComponentFactory::COMPONENT_TULAN_POE);
    poeComponent = dynamic_cast<I_poeSeries*>(poe);
    if (poeComponent == nullptr || poeComponent->initial(m_buses.get()) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    I_nkProduct* dio = m_componentFactory.create(C_visionComponentFactory::COMPONENT_VOREL_DIO);
    dioComponent = dynamic_cast<I_vorelSeries*>(dio);
    if (dioComponent == nullptr || dioComponent->initial(nullptr) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    initialized = 1;
    return QRT_SUCCESS;
}

void C_tulanKQX::reversePorts(int* list) {
    unsigned ports = componentPortCount();
    if (list != nullptr && ports != 0) std::reverse(list, list + ports);
}

void C_tulanKQX::poePortlistMapping(int* list) {
    reversePorts(list);
}

void C_tulanKQX::poePortlistRerverseMapping(int* list) {
    reversePorts(list);
}

void C_tulanKQX::poePortMapping(unsigned* port) {
    unsigned ports = componentPortCount();
    if (port != nullptr && ports != 0) *port = ports - 1 - *port;
}
