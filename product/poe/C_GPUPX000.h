#pragma once

#include "product/poe/A_pexPoeCard.h"

// PCIe-RHXGPU-P1000: a four-port Pro card with an on-board GPU, identified by its board part
// number "27642-00". One external power input (the 6-pin connector) and one fan, the GPU's
// cooler, driven by the card microcontroller. Its firmware keeps no protection temperatures
// the kit may set.
class C_GPUPX000 : public A_pexPoeCard<A_poeProSeries> {
  public:
    static const RHX_POWER_INPUTS kPowerInputs;
    static const RHX_PARTNUMBER_MODEL kModel;

    C_GPUPX000();

    int checkValid() override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;
    int setPoEProtectTempRange(int, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEProtectTempRange(int*, int*) override { return QRT_ERR_NOT_SUPPORTED; }

    int getFanSpeed(unsigned fan, unsigned* rpm) override;
    int getFanPWM(unsigned fan, int* duty) override;
    int setFanPWM(unsigned fan, int duty) override;
    int getSmartFanEnable(unsigned fan, int* enable) override;
    int setSmartFanEnable(unsigned fan, int enable) override;
    int getFanDescription(unsigned fan, char* buf, unsigned len) override;

  private:
    // Runs a microcontroller fan call under the card lock.
    template <class Call>
    int fanCall(unsigned fan, Call&& call);
};
