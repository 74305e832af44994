#include "core/controllers/pciswitch/C_nkPex8718.h"

const NK_PEXCHIPCONSTANTS C_nkPex8718::kChip = {
    /*vendorId*/ 0x10B5,
    /*deviceId*/ 0x8718,
    /*chipName*/ "Pex8718",
    /*gpioPins*/ 6,
    /*directionRegister*/ 0x600,
    /*directionBitStride*/ 3,
    /*directionBitOffset*/ 2,
    /*inputRegister*/ 0x61C,
    /*outputRegister*/ 0x624,
    /*serialControlRegister*/ 0x260,
    /*serialDataRegister*/ 0x264,
    /*writeCommandBits*/ 0x00A04000,
    /*readCommandBits*/ 0x00A06000,
    /*highestBlockIndex*/ 0x1FFF,
    /*serialBlockSize*/ 4,
    /*serialBusyBit*/ 0x40000,
};

C_nkPex8718::C_nkPex8718() : A_nkPexPCISwitcher(kChip) {}
