#pragma once

#include <memory>
#include <vector>

#include "core/bus/I_nkPCISwitcher.h"

// Creates and owns the PCIe switch objects of a product. The objects come back unbound; the
// product binds one with initial(pciMap). They live until the factory is destroyed.
class C_nkPCISwitcherFactory {
  public:
    enum NK_PCISWITCHERTYPE : int { NK_PCISWITCHER_PEX8608 = 0, NK_PCISWITCHER_PEX8718 = 2 };

    C_nkPCISwitcherFactory();
    ~C_nkPCISwitcherFactory();

    // Null for a type without a chip class.
    I_nkPCISwitcher* create(NK_PCISWITCHERTYPE type);

    C_nkPCISwitcherFactory(const C_nkPCISwitcherFactory&) = delete;
    C_nkPCISwitcherFactory& operator=(const C_nkPCISwitcherFactory&) = delete;

  private:
    std::vector<std::unique_ptr<I_nkPCISwitcher>> m_switches;
};
