#pragma once

#include <memory>
#include <vector>

#include "core/driver/I_pciMap.h"

// Owns every PCI map it made; destroying the factory releases their driver locks and deletes
// them.
class C_pciMapFactory {
  public:
    C_pciMapFactory();
    ~C_pciMapFactory();
    C_pciMapFactory(const C_pciMapFactory&) = delete;
    C_pciMapFactory& operator=(const C_pciMapFactory&) = delete;

    // A new, unbound map; null only when it cannot be allocated.
    I_pciMap* create();

  private:
    std::vector<std::unique_ptr<I_pciMap>> m_maps;
};
