#include "core/bus/C_nkI2CFactory.h"

#include "core/bus/C_nkDTSI2C.h"

C_nkI2CFactory::C_nkI2CFactory() = default;

C_nkI2CFactory::~C_nkI2CFactory() {
    // In creation order; reset() takes each one out of its slot before deleting it.
    for (auto& bus : m_buses) bus.reset();
}

I_nkI2C* C_nkI2CFactory::create(unsigned int busNumber) {
    std::unique_ptr<C_nkDTSI2C> bus(new C_nkDTSI2C());
    if (bus->initial(busNumber) != QRT_SUCCESS) return nullptr;
    m_buses.push_back(std::move(bus));
    return m_buses.back().get();
}
