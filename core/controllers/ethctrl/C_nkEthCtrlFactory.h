#pragma once

#include <memory>
#include <vector>

#include "core/bus/I_nkEthCtrl.h"

// Creates and owns the Ethernet controller objects of a product. They come back unbound; the
// product binds one with initial(pciMap). They live until the factory is destroyed.
class C_nkEthCtrlFactory {
  public:
    enum NK_ETHCTRLTYPE : int { NK_ETHCTRL_X550 = 0, NK_ETHCTRL_I210 = 1 };

    C_nkEthCtrlFactory();
    ~C_nkEthCtrlFactory();
    C_nkEthCtrlFactory(const C_nkEthCtrlFactory&) = delete;
    C_nkEthCtrlFactory& operator=(const C_nkEthCtrlFactory&) = delete;

    // Null for a type without a chip class.
    I_nkEthCtrl* create(NK_ETHCTRLTYPE type);

  private:
    std::vector<std::unique_ptr<I_nkEthCtrl>> m_controllers;
};
