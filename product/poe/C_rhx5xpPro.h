#pragma once

#include "product/poe/C_rhx5xPro.h"

// PCIe-RHX52PPRO, PCIe-RHX54PPRO and PCIe-RHX54IPRO: the Pro cards from PCB revision 2 on,
// identified by the board part number in their EEPROM.
class C_rhx5xpPro : public C_rhx5xPro {
  public:
    static const RHX_PARTNUMBER_MODEL kModels[];
    static const unsigned kModelCount;

    int checkValid() override;
    int getSN(char* buf, unsigned len) override;
    int getPN(char* buf, unsigned len) override;
};
