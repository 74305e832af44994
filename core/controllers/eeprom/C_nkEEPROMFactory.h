#pragma once

#include <memory>
#include <vector>

#include "core/controllers/eeprom/I_nkEEPROM.h"

// Makes and owns EEPROM device objects; they live until the factory is destroyed.
class C_nkEEPROMFactory {
  public:
    enum NK_EEPROM : int { NK_EEPROM_AT24C02D = 0 };

    C_nkEEPROMFactory();
    ~C_nkEEPROMFactory();
    C_nkEEPROMFactory(const C_nkEEPROMFactory&) = delete;
    C_nkEEPROMFactory& operator=(const C_nkEEPROMFactory&) = delete;

    // An unbound device object, or null for an unknown type.
    I_nkEEPROM* create(NK_EEPROM type);

  private:
    std::vector<std::unique_ptr<I_nkEEPROM>> m_objects;
};
