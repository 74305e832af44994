#include "core/controllers/ethctrl/C_nkI210.h"

const NK_ETHCTRLCHIP C_nkI210::kChip = {
    /*vendorId*/ 0x8086,
    /*deviceId*/ 0x1533,
    /*chipName*/ "I210",
    /*i2cCommandRegister*/ 0x1028,
    /*i2cParameterRegister*/ 0x102C,
};

C_nkI210::C_nkI210() : A_nkI210EthCtrl(kChip) {
    m_parameterBit15 = 1;
}
