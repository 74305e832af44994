#include "core/controllers/cpld/C_rhxCPLDFactory.h"

#include <new>

#include "core/controllers/cpld/C_rhxI2CCPLD.h"
#include "core/controllers/cpld/C_rhxSPICPLD.h"

C_rhxCPLDFactory::C_rhxCPLDFactory() = default;

C_rhxCPLDFactory::~C_rhxCPLDFactory() {
    for (auto& object : m_objects) object.reset();  // in creation order
}

I_rhxCPLD* C_rhxCPLDFactory::create(NK_HWCPLD type) {
    try {
        std::unique_ptr<I_rhxCPLD> object;
        switch (type) {
            case NK_HWCPLD_SPI:
                object.reset(new C_rhxSPICPLD());
                break;
            case NK_HWCPLD_I2C:
                object.reset(new C_rhxI2CCPLD());
                break;
            default:
                return nullptr;
        }
        m_objects.push_back(std::move(object));
        return m_objects.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
