#pragma once

#include "product/poe/A_pexPoeCard.h"

// PCIe-RHX52PRO and PCIe-RHX54PRO: the first Pro cards, with trigger over Ethernet. PCB
// revision 1, CPLD design "20170126_1417", two or four ports by the strap on pin 12. Two
// external power inputs, a 4-pin and a 6-pin connector; with both the ports share 120 W.
class C_rhx5xPro : public A_pexPoeCard<A_poeProSeries> {
  public:
    static const RHX_POWER_INPUTS kPowerInputs;

    C_rhx5xPro();

    int checkValid() override;
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
};
