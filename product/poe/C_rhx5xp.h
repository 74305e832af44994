#pragma once

#include "product/poe/C_rhx5x.h"

// PCIe-RHX52P, PCIe-RHX54P, PCIe-RHX54I and PCIe-RHX54PAT: the standard cards from PCB
// revision 2 on, identified by the board part number in their EEPROM. Power inputs as on the
// first cards.
class C_rhx5xp : public C_rhx5x {
  public:
    static const RHX_PARTNUMBER_MODEL kModels[];
    static const unsigned kModelCount;

    int checkValid() override;
    int getSN(char* buf, unsigned len) override;
    int getPN(char* buf, unsigned len) override;
};
