#include "core/driver/C_pciMapFactory.h"

#include <new>

#include "core/driver/C_pciMap.h"

C_pciMapFactory::C_pciMapFactory() = default;

C_pciMapFactory::~C_pciMapFactory() = default;

I_pciMap* C_pciMapFactory::create() {
    std::unique_ptr<I_pciMap> map(new (std::nothrow) C_pciMap());
    if (!map) return nullptr;
    I_pciMap* made = map.get();
    std::lock_guard<std::mutex> guard(m_mapsMutex);
    try {
        m_maps.push_back(std::move(map));
    } catch (...) {
        return nullptr;  // out of memory for the list: the map is freed, nothing escapes
    }
    return made;
}
