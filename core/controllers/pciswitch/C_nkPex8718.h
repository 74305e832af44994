#pragma once

#include "core/controllers/pciswitch/A_nkPexPCISwitcher.h"

// PLX PEX 8718: 6 pins, three configuration bits per pin (the upper one selects output).
class C_nkPex8718 : public A_nkPexPCISwitcher {
  public:
    static const NK_PEXCHIPCONSTANTS kChip;
    C_nkPex8718();
};
