#pragma once

#include <memory>
#include <vector>

#include "core/controllers/rhxmcu/I_rhxMCU.h"

// Makes and owns the card microcontroller objects; they live until the factory is destroyed.
class C_rhxMCUFactory {
  public:
    enum NK_HWMCU : int { NK_HWMCU_RHX = 0 };

    C_rhxMCUFactory();
    ~C_rhxMCUFactory();
    C_rhxMCUFactory(const C_rhxMCUFactory&) = delete;
    C_rhxMCUFactory& operator=(const C_rhxMCUFactory&) = delete;

    // An unbound microcontroller object, or null for an unknown type.
    I_rhxMCU* create(NK_HWMCU type);

  private:
    std::vector<std::unique_ptr<I_rhxMCU>> m_objects;
};
