#include "C_visionComponentFactory.h"

#include "product/dio/C_vorelDIO.h"
#include "product/embedded/C_tulanPoE.h"

// The classes behind the selector values. An empty entry is a part whose class is not part of
// this build: create() answers null for it. Plugging a class in is one line here plus its
// #include, e.g.
//     /* COMPONENT_VOREL_DIO */ makeComponent<C_vorelDIO>(),
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
    if (creator.empty()) return nullptr;
    std::unique_ptr<I_nkProduct> part(creator.construct());
    if (!part) return nullptr;
    m_components.push_back(std::move(part));
    return m_components.back().get();
}

void C_visionComponentFactory::release() {
    while (!m_components.empty()) m_components.pop_back();
}
