#pragma once

#include "product/poe/A_pexPoeCard.h"

// PCIe-RHX52 and PCIe-RHX54, the first PoE cards: PCB revision 1, CPLD design
// "20160718_1110", two or four ports by the strap on pin 12. One external power input, the
// 4-pin connector. Their EEPROM carries no serial or part number the kit reads, and their
// identity text lists no MAC addresses.
class C_rhx5x : public A_pexPoeCard<A_poeSeries> {
  public:
    static const RHX_POWER_INPUTS kPowerInputs;

    C_rhx5x();

    int checkValid() override;
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
};
