#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"

#include <new>

#include "core/controllers/rhxmcu/C_rhxMCU.h"

C_rhxMCUFactory::C_rhxMCUFactory() = default;

C_rhxMCUFactory::~C_rhxMCUFactory() {
    for (auto& object : m_objects) object.reset();  // in creation order
}

I_rhxMCU* C_rhxMCUFactory::create(NK_HWMCU type) {
    if (type != NK_HWMCU_RHX) return nullptr;
    try {
        m_objects.push_back(std::unique_ptr<I_rhxMCU>(new C_rhxMCU()));
        return m_objects.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
