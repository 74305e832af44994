#pragma once

#include <memory>
#include <vector>

#include "core/controllers/w5mcu/I_w5MCU.h"

// Creates and owns the USB3 card microcontroller objects of a product; they live until the
// factory is destroyed.
class C_w5MCUFactory {
  public:
    enum NK_HWMCU : int { NK_HWMCU_W5 = 0 };

    C_w5MCUFactory();
    ~C_w5MCUFactory();

    // Unbound; null for an unknown type.
    I_w5MCU* create(NK_HWMCU type);

    C_w5MCUFactory(const C_w5MCUFactory&) = delete;
    C_w5MCUFactory& operator=(const C_w5MCUFactory&) = delete;

  private:
    std::vector<std::unique_ptr<I_w5MCU>> m_mcus;
};
