#pragma once

#include "core/bus/I_nkPCISwitcher.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "product/poe/A_rhxPoeCard.h"

// Shared part of the PoE cards whose controllers hang off a PEX 8608 PCIe switch: the switch's
// serial port carries the CPLD, the CPLD's I2C master the microcontroller and the EEPROM. The
// board straps on the switch pins (C_pexBoardStraps) give the PCB revision and the card
// identifier, and identify the first boards. `Base` is A_poeSeries or A_poeProSeries.
template <class Base>
class A_pexPoeCard : public A_rhxPoeCard<Base> {
  public:
    int getCardID(int* id) override;
    int getPCBVersion() override;

  protected:
    A_pexPoeCard(const RHX_POWER_INPUTS& inputs, bool firmwareGate, bool readsMacs)
        : A_rhxPoeCard<Base>(inputs, firmwareGate, readsMacs) {}

    // Binds switch, CPLD, microcontroller and EEPROM to the probed device.
    int bindControllers(void* pciMap) override;
    // Identification of the first boards: PCB revision 1, pin 11 low and the CPLD design
    // stamp; pin 12 tells the two-port model from the four-port one.
    int identifyByStraps(const char* cpldStamp, QRT_PRODUCT_TYPE twoPort,
                         QRT_PRODUCT_TYPE fourPort);

    I_nkPCISwitcher* switcher = nullptr;
    C_nkPCISwitcherFactory switchFactory;
};

extern template class A_pexPoeCard<A_poeSeries>;
extern template class A_pexPoeCard<A_poeProSeries>;
