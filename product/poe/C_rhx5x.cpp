#include "product/poe/C_rhx5x.h"

namespace {
constexpr const char* kCpldStamp = "20160718_1110";
}

// Input 0, the 4-pin connector, is connected when the microcontroller senses source 3; sources
// 0 and 3 allow 61.6 W, source 2 (the slot alone) 20 W.
const RHX_POWER_INPUTS C_rhx5x::kPowerInputs = {
    1, {"4-Pin Connector", nullptr}, {0b0, 0b0, 0b0, 0b1}, {61.6f, 0.0f, 20.0f, 61.6f}};

C_rhx5x::C_rhx5x() : A_pexPoeCard(kPowerInputs, true, false) {}

int C_rhx5x::checkValid() {
    return identifyByStraps(kCpldStamp, QRT_PRODUCT_RHX52, QRT_PRODUCT_RHX54);
}
