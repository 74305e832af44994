#pragma once

#include "core/bus/I_nkI2C.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"
#include "product/poe/A_poeSeries.h"

// The embedded system's four PoE ports: the PoE series' port, PSE, temperature and budget
// logic over the card microcontroller (0x2D) and the identity EEPROM (0x50), which sit on
// Linux I2C adapters instead of behind a CPLD. A component of the system, never a product of
// its own: it has no product type, and the system numbers its ports the other way round.
//
// The system hands it its bus list: entry 0 the microcontroller's bus, entry 1 the EEPROM's.
// Both may be one bus object; every EEPROM read then addresses the EEPROM and the
// microcontroller again afterwards, under the component's lock, so that microcontroller
// traffic never reaches the EEPROM.
class C_tulanPoE : public A_poeSeries {
  public:
    static constexpr unsigned kPorts = 4;
    static constexpr unsigned kPowerInputs = 1;

    C_tulanPoE();
    ~C_tulanPoE() override;

    // `buses`: the system's std::vector<I_nkI2C*> (microcontroller bus, EEPROM bus). Binds the
    // controllers; nothing is read from the board here.
    int initial(void* buses) override;
    // "MCUVersion:", "PN:" and "SN:" lines.
    int getInfo(char* buf, unsigned len) override;
    int getType(QRT_PRODUCT_TYPE* type) override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    // The total budget (property 6) by the power input the microcontroller senses; the rest
    // as the PoE series reads them.
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) override;
    int getPCBVersion() override;
    int getEEPROM(unsigned long offset, unsigned char* buf, unsigned len) override;
    int checkValid();

  private:
    C_rhxMCUFactory mcuFactory;
    C_nkEEPROMFactory eepromFactory;
    I_nkI2C* mcuBus = nullptr;
    I_nkI2C* eepromBus = nullptr;
    // The system has no PCI map to carry its identity: the component keeps its own.
    C_identityRecord ownIdentity;
};
