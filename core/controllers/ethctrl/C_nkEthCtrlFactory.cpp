#include "core/controllers/ethctrl/C_nkEthCtrlFactory.h"

#include <new>

#include "core/controllers/ethctrl/C_nkI210.h"
#include "core/controllers/ethctrl/C_nkX550.h"

C_nkEthCtrlFactory::C_nkEthCtrlFactory() = default;

C_nkEthCtrlFactory::~C_nkEthCtrlFactory() {
    for (auto& controller : m_controllers) controller.reset();  // in creation order
}

I_nkEthCtrl* C_nkEthCtrlFactory::create(NK_ETHCTRLTYPE type) {
    std::unique_ptr<I_nkEthCtrl> controller;
    switch (type) {
        case NK_ETHCTRL_X550:
            controller.reset(new (std::nothrow) C_nkX550());
            break;
        case NK_ETHCTRL_I210:
            controller.reset(new (std::nothrow) C_nkI210());
            break;
        default:
            return nullptr;
    }
    if (!controller) return nullptr;
    m_controllers.push_back(std::move(controller));
    return m_controllers.back().get();
}
