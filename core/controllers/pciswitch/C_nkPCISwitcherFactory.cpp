#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"

#include "core/controllers/pciswitch/C_nkPex8608.h"
#include "core/controllers/pciswitch/C_nkPex8718.h"

C_nkPCISwitcherFactory::C_nkPCISwitcherFactory() = default;

C_nkPCISwitcherFactory::~C_nkPCISwitcherFactory() {
    // In creation order.
    for (auto& sw : m_switches) sw.reset();
}

I_nkPCISwitcher* C_nkPCISwitcherFactory::create(NK_PCISWITCHERTYPE type) {
    std::unique_ptr<I_nkPCISwitcher> sw;
    switch (type) {
        case NK_PCISWITCHER_PEX8608:
            sw.reset(new C_nkPex8608());
            break;
        case NK_PCISWITCHER_PEX8718:
            sw.reset(new C_nkPex8718());
            break;
        default:
            return nullptr;
    }
    m_switches.push_back(std::move(sw));
    return m_switches.back().get();
}
