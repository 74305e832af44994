#pragma once

#include "core/controllers/ethctrl/A_nkI210EthCtrl.h"

// Intel I210 (8086:1533).
class C_nkI210 : public A_nkI210EthCtrl {
  public:
    static const NK_ETHCTRLCHIP kChip;
    C_nkI210();
};
