#include "core/controllers/w5mcu/C_w5MCUFactory.h"

#include "core/controllers/w5mcu/C_w5MCU.h"

C_w5MCUFactory::C_w5MCUFactory() = default;

C_w5MCUFactory::~C_w5MCUFactory() {
    // In creation order.
    for (auto& mcu : m_mcus) mcu.reset();
}

I_w5MCU* C_w5MCUFactory::create(NK_HWMCU type) {
    if (type != NK_HWMCU_W5) return nullptr;
    m_mcus.emplace_back(new C_w5MCU());
    return m_mcus.back().get();
}
