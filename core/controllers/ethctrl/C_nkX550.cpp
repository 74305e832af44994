#include "core/controllers/ethctrl/C_nkX550.h"

const NK_ETHCTRLCHIP C_nkX550::kChip = {
    /*vendorId*/ 0x8086,
    /*deviceId*/ 0x1563,
    /*chipName*/ "X550",
    /*i2cCommandRegister*/ 0x15F58,
    /*i2cParameterRegister*/ 0x15F5C,
};

C_nkX550::C_nkX550() : A_nkX550EthCtrl(kChip) {
    m_parameterBit15 = 1;
    m_parameterBit16 = 1;
    m_parameterBit31 = 0;
}
