#pragma once

#include <memory>
#include <vector>

#include "core/controllers/cpld/I_rhxCPLD.h"

// Makes and owns the CPLD objects of a card; they live until the factory is destroyed.
class C_rhxCPLDFactory {
  public:
    enum NK_HWCPLD : int { NK_HWCPLD_SPI = 0, NK_HWCPLD_I2C = 1 };

    C_rhxCPLDFactory();
    ~C_rhxCPLDFactory();
    C_rhxCPLDFactory(const C_rhxCPLDFactory&) = delete;
    C_rhxCPLDFactory& operator=(const C_rhxCPLDFactory&) = delete;

    // An unbound CPLD for the transport, or null for an unknown one.
    I_rhxCPLD* create(NK_HWCPLD type);

  private:
    std::vector<std::unique_ptr<I_rhxCPLD>> m_objects;
};
