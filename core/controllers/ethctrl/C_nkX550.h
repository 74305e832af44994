#pragma once

#include "core/controllers/ethctrl/A_nkX550EthCtrl.h"

// Intel X550 (8086:1563), the 10-gigabit card's Ethernet controller.
class C_nkX550 : public A_nkX550EthCtrl {
  public:
    static const NK_ETHCTRLCHIP kChip;
    C_nkX550();
};
