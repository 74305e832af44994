#include "product/poe/C_pexBoardStraps.h"

#include "QRT_Types.h"
#include "core/bus/I_nkPCISwitcher.h"

int C_pexBoardStraps::pcbVersion(I_nkPCISwitcher* switcher) {
    if (switcher == nullptr) return -1;
    int version = 0;
    for (unsigned bit = 0; bit < 5; ++bit) {
        int level = 0;
        if (switcher->getGPIO(kPcbVersionPins[bit], &level) != QRT_SUCCESS)
            return bit == 0 ? -1 : version;
        if (level != 0) version |= 1 << bit;
    }
    return version;
}

int C_pexBoardStraps::cardId(I_nkPCISwitcher* switcher, int* id) {
    if (id == nullptr) return QRT_ERR_INVALID_PARAM;
    if (switcher == nullptr) return QRT_ERR_NOT_INITIALIZED;
    int value = 0;
    for (unsigned bit = 0; bit < 4; ++bit) {
        int level = 0;
        const int status = switcher->getGPIO(kCardIdPins[bit], &level);
        if (status != QRT_SUCCESS) return status;
        if (level == 0) value |= 1 << bit;
    }
    *id = value;
    return QRT_SUCCESS;
}
