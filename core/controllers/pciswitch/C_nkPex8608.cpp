#include "core/controllers/pciswitch/C_nkPex8608.h"

const NK_PEXCHIPCONSTANTS C_nkPex8608::kChip = {
    /*vendorId*/ 0x10B5,
    /*deviceId*/ 0x8608,
    /*chipName*/ "Pex8608",
    /*gpioPins*/ 16,
    /*directionRegister*/ 0x62C,
    /*directionBitStride*/ 2,
    /*directionBitOffset*/ 1,
    /*inputRegister*/ 0x63C,
    /*outputRegister*/ 0x644,
    /*serialControlRegister*/ 0x260,
    /*serialDataRegister*/ 0x264,
    /*writeCommandBits*/ 0x00004000,
    /*readCommandBits*/ 0x00006000,
    /*highestBlockIndex*/ 0x1FFF,
    /*serialBlockSize*/ 4,
    /*serialBusyBit*/ 0x40000,
};

C_nkPex8608::C_nkPex8608() : A_nkPexPCISwitcher(kChip) {}
