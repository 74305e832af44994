#pragma once

// The six component lookups of the C API. They are exported beside the QRT_ functions but are
// not part of the public header: each takes a product handle and returns the product's facet
// for one fixed feature number, or null when the handle is null or the product lacks it.

#include "I_dio.h"
#include "I_exPowerSupply.h"
#include "I_fan.h"
#include "I_poe.h"
#include "I_powerController.h"
#include "I_toe.h"
#include "QRT_SDK.h"

// X(lookup, feature number, component interface)
#define QRT_COMPONENT_LOOKUPS(X)                                              \
    X(__GetQRTPowCtrlHandle, QRT_FEATURE_POWER_CONTROLLER, I_powerController) \
    X(__GetPoEHandle, QRT_FEATURE_POE, I_poe)                                 \
    X(__GetToEHandle, QRT_FEATURE_TOE, I_toe)                                 \
    X(__GetDIOHandle, QRT_FEATURE_DIO, I_dio)                                 \
    X(__GetExPowSupHandle, QRT_FEATURE_EX_POWER_SUPPLY, I_exPowerSupply)      \
    X(__GetFanHandle, QRT_FEATURE_FAN, I_fan)

#define QRT_DECLARE_COMPONENT_LOOKUP(lookup, feature, Interface) \
    QRT_API Interface* lookup(void* handle);

extern "C" {
QRT_COMPONENT_LOOKUPS(QRT_DECLARE_COMPONENT_LOOKUP)
}

#undef QRT_DECLARE_COMPONENT_LOOKUP
