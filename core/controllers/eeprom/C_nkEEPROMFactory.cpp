#include "core/controllers/eeprom/C_nkEEPROMFactory.h"

#include <new>

#include "core/controllers/eeprom/C_nkAT24C02D.h"

C_nkEEPROMFactory::C_nkEEPROMFactory() = default;

C_nkEEPROMFactory::~C_nkEEPROMFactory() {
    for (auto& object : m_objects) object.reset();  // in creation order
}

I_nkEEPROM* C_nkEEPROMFactory::create(NK_EEPROM type) {
    if (type != NK_EEPROM_AT24C02D) return nullptr;
    try {
        m_objects.push_back(std::unique_ptr<I_nkEEPROM>(new C_nkAT24C02D()));
        return m_objects.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
