#include "product/poe/C_rhx5xp.h"

const RHX_PARTNUMBER_MODEL C_rhx5xp::kModels[] = {
    {"27640-0A", QRT_PRODUCT_RHX54P, 4}, {"27640-0B", QRT_PRODUCT_RHX54P, 4},
    {"27640-0D", QRT_PRODUCT_RHX54I, 4}, {"27640-0H", QRT_PRODUCT_RHX54PAT, 4},
    {"27640-14", QRT_PRODUCT_RHX52P, 2}, {"27640-15", QRT_PRODUCT_RHX52P, 2},
};
const unsigned C_rhx5xp::kModelCount = sizeof(kModels) / sizeof(kModels[0]);

int C_rhx5xp::checkValid() {
    return identifyByPartNumber(kModels, kModelCount, 2);
}

int C_rhx5xp::getSN(char* buf, unsigned len) {
    return A_poeSeries::getSN(buf, len);
}

int C_rhx5xp::getPN(char* buf, unsigned len) {
    return A_poeSeries::getPN(buf, len);
}
