#include "product/poe/C_rhx5xpPro.h"

const RHX_PARTNUMBER_MODEL C_rhx5xpPro::kModels[] = {
    {"27640-09", QRT_PRODUCT_RHX54PPRO, 4},
    {"27640-16", QRT_PRODUCT_RHX52PPRO, 2},
    {"27640-0F", QRT_PRODUCT_RHX54IPRO, 4},
};
const unsigned C_rhx5xpPro::kModelCount = sizeof(kModels) / sizeof(kModels[0]);

int C_rhx5xpPro::checkValid() {
    return identifyByPartNumber(kModels, kModelCount, 2);
}

int C_rhx5xpPro::getSN(char* buf, unsigned len) {
    return A_poeSeries::getSN(buf, len);
}

int C_rhx5xpPro::getPN(char* buf, unsigned len) {
    return A_poeSeries::getPN(buf, len);
}
