#include "core/driver/C_driverIOFactory.h"

#include <new>

#include "core/driver/C_linuxDriverIO.h"

C_driverIOFactory::C_driverIOFactory() = default;

C_driverIOFactory::~C_driverIOFactory() = default;

I_driverIO* C_driverIOFactory::create() {
    if (!m_io) m_io.reset(new (std::nothrow) C_linuxDriverIO());
    return m_io.get();
}
