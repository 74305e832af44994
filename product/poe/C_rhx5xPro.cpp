#include "product/poe/C_rhx5xPro.h"

namespace {
constexpr const char* kCpldStamp = "20170126_1417";
}

// (4-pin, 6-pin) connected by the sensed source: 0 (0, 1), 1 (1, 1), 2 (0, 0), 3 (1, 0); with
// both inputs the ports share 120 W.
const RHX_POWER_INPUTS C_rhx5xPro::kPowerInputs = {2,
                                                   {"4-Pin Connector", "6-Pin Connector"},
                                                   {0b10, 0b11, 0b00, 0b01},
                                                   {61.6f, 120.0f, 20.0f, 61.6f}};

C_rhx5xPro::C_rhx5xPro() : A_pexPoeCard(kPowerInputs, true, true) {}

int C_rhx5xPro::checkValid() {
    return identifyByStraps(kCpldStamp, QRT_PRODUCT_RHX52PRO, QRT_PRODUCT_RHX54PRO);
}
