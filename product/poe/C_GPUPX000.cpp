#include "product/poe/C_GPUPX000.h"

namespace {
constexpr const char* kFanDescription = "The FAN on the NVidia P1000";
}

// Input 0, the 6-pin connector, is connected when the microcontroller senses source 0.
const RHX_POWER_INPUTS C_GPUPX000::kPowerInputs = {
    1, {"6-Pin Connector", nullptr}, {0b1, 0b0, 0b0, 0b0}, {61.6f, 0.0f, 20.0f, 0.0f}};
const RHX_PARTNUMBER_MODEL C_GPUPX000::kModel = {"27642-00", QRT_PRODUCT_RHXGPU_P1000, 4};

C_GPUPX000::C_GPUPX000() : A_pexPoeCard(kPowerInputs, false, true) {
    poePortCount = 4;
    fanCount = 1;
}

// The part number alone tells the card; its PCB revision is not consulted.
int C_GPUPX000::checkValid() {
    return identifyByPartNumber(&kModel, 1);
}

unsigned C_GPUPX000::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    static const QRT_FEATURE_TYPE kFeatures[] = {QRT_FEATURE_POE, QRT_FEATURE_TOE,
                                                 QRT_FEATURE_EX_POWER_SUPPLY, QRT_FEATURE_FAN};
    return copyFeatures(kFeatures, list, capacity);
}

void* C_GPUPX000::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    if (feature == QRT_FEATURE_FAN) return static_cast<I_fan*>(this);
    return A_poeProSeries::getFeatureHandle(feature);
}

// ---- fan --------------------------------------------------------------------------------------

template <class Call>
int C_GPUPX000::fanCall(unsigned fan, Call&& call) {
    if (fan >= fanCount) return QRT_ERR_INVALID_PARAM;
    if (mcu == nullptr) return QRT_ERR_NOT_INITIALIZED;
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    return call();
}

int C_GPUPX000::getFanSpeed(unsigned fan, unsigned* rpm) {
    if (rpm == nullptr) return QRT_ERR_INVALID_PARAM;
    return fanCall(fan, [&]() { return mcu->getFanRPM(rpm); });
}

int C_GPUPX000::getFanPWM(unsigned fan, int* duty) {
    if (duty == nullptr) return QRT_ERR_INVALID_PARAM;
    return fanCall(fan, [&]() { return mcu->getFanPWMDuty(duty); });
}

// The firmware takes duties of 0..99 percent; the microcontroller object refuses others.
int C_GPUPX000::setFanPWM(unsigned fan, int duty) {
    return fanCall(fan, [&]() { return mcu->setFanPWMDuty(duty); });
}

int C_GPUPX000::getSmartFanEnable(unsigned fan, int* enable) {
    if (enable == nullptr) return QRT_ERR_INVALID_PARAM;
    return fanCall(fan, [&]() { return mcu->getSmartFanEnable(enable); });
}

int C_GPUPX000::setSmartFanEnable(unsigned fan, int enable) {
    return fanCall(fan, [&]() { return mcu->setSmartFanEnable(enable); });
}

int C_GPUPX000::getFanDescription(unsigned fan, char* buf, unsigned len) {
    if (fan >= fanCount) return QRT_ERR_INVALID_PARAM;
    return copyText(kFanDescription, buf, len);
}
