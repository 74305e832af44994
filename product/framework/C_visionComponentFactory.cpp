#include "C_visionComponentFactory.h"

#include "product/dio/C_vorelDIO.h"
#include "product/embedded/C_tulanPoE.h"

// The classes behind the selector values, in selector order.
const C_visionComponentFactory::ComponentTable& C_visionComponentFactory::builtInComponents() {
    static const ComponentTable table = {{
        /* COMPONENT_VOREL_DIO : C_vorelDIO */ makeComponent<C_vorelDIO>(),
        /* COMPONENT_TULAN_POE : C_tulanPoE */ makeComponent<C_tulanPoE>(),
    }};
    return table;
}

C_visionComponentFactory::C_visionComponentFactory()
    : C_visionComponentFactory(builtInComponents()) {}

C_visionComponentFactory::C_visionComponentFactory(const ComponentTable& table) : m_table(table) {}

C_visionComponentFactory::~C_visionComponentFactory() {
    release();
}

I_nkProduct* C_visionComponentFactory::create(VISION_SYSCOMPONENT component) {
    if (static_cast<unsigned>(component) >= kComponentCount) return nullptr;
    const ProductCreator& creator = m_table.components[component];
    std::unique_ptr<I_nkProduct> part(creator.construct());
    if (!part) return nullptr;
    m_components.push_back(std::move(part));
    return m_components.back().get();
}

void C_visionComponentFactory::release() {
    while (!m_components.empty()) m_components.pop_back();
}
