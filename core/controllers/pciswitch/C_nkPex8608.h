#pragma once

#include "core/controllers/pciswitch/A_nkPexPCISwitcher.h"

// PLX PEX 8608: 16 pins, two direction bits per pin (the upper one selects output).
class C_nkPex8608 : public A_nkPexPCISwitcher {
  public:
    static const NK_PEXCHIPCONSTANTS kChip;
    C_nkPex8608();
};
