#pragma once

#include "I_w5Series.h"

// Base of the USB3 host cards: a card that offers nothing. The card classes override what
// their boards have.
class A_w5Series : public I_w5Series {
  public:
    int getInfo(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getType(QRT_PRODUCT_TYPE*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    unsigned getFeatureList(QRT_FEATURE_TYPE*, unsigned) override { return 0; }
    void* getFeatureHandle(QRT_FEATURE_TYPE) override { return nullptr; }
    int getCardID(int*) override { return QRT_ERR_NOT_SUPPORTED; }

    int getPowerPortNums(unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPowerPortEnable(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPowerPortEnable(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }

    int getExPowSupplytNums(unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getExPowSupplyStates(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getExPowSupplyDescription(unsigned, char*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    int initial(void*) override { return QRT_ERR_NOT_SUPPORTED; }
};
