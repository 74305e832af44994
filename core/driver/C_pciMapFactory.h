#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/driver/I_pciMap.h"

// Owns every PCI map it made; destroying the factory releases their driver locks and deletes
// them. Threads may create maps at once (detection probes its devices concurrently).
class C_pciMapFactory {
  public:
    C_pciMapFactory();
    ~C_pciMapFactory();
    C_pciMapFactory(const C_pciMapFactory&) = delete;
    C_pciMapFactory& operator=(const C_pciMapFactory&) = delete;

    // A new, unbound map; null only when it cannot be allocated.
    I_pciMap* create();

  private:
    std::mutex m_mapsMutex;  // guards m_maps
    std::vector<std::unique_ptr<I_pciMap>> m_maps;
};
