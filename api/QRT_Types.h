/*
 * Public types of the QRT SDK: status codes, component (feature) numbers, product types,
 * PoE property numbers, trigger edges, DIO capabilities and the DI trigger callback.
 *
 * This header is shared by the C API and every layer below it and must stay valid C99.
 * Every enumeration is a 32-bit value whose numbers are part of the binary interface.
 */
#ifndef QRT_TYPES_H
#define QRT_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

/* C passes an enumeration as a 32-bit integer and lets it hold any value; C++ must see the same:
 * with int as the fixed underlying type, a number outside the listed values that a C caller
 * passes is a valid value of the type (the functions refuse it), never undefined behaviour. */
#ifdef __cplusplus
#define QRT_ENUM_BASE : int
#else
#define QRT_ENUM_BASE
#endif

/* Status codes returned by every operation that does not return a count or a pointer. */
typedef enum QRT_ENUM_BASE {
    QRT_SUCCESS = 0,
    QRT_ERR_FAILED = -1,
    QRT_ERR_NOT_SUPPORTED = -5,
    QRT_ERR_INVALID_PARAM = -11,
    QRT_ERR_NOT_INITIALIZED = -13,
    QRT_ERR_BUSY = -100
} QRT_STATUS_TYPE;

/* Component numbers: select a component in getFeatureHandle, listed by getFeatureList. */
typedef enum QRT_ENUM_BASE {
    QRT_FEATURE_POWER_CONTROLLER = 1,
    QRT_FEATURE_POE = 2,
    QRT_FEATURE_TOE = 3,
    QRT_FEATURE_DIO = 4,
    QRT_FEATURE_EX_POWER_SUPPLY = 5,
    QRT_FEATURE_FAN = 6
} QRT_FEATURE_TYPE;

/* Product types; set from the part number or versions read from the board. */
typedef enum QRT_ENUM_BASE {
    QRT_PRODUCT_RHX44PLUS = 0,
    QRT_PRODUCT_RHX52 = 1,
    QRT_PRODUCT_RHX54 = 2,
    QRT_PRODUCT_RHX52PRO = 3,
    QRT_PRODUCT_RHX54PRO = 4,
    QRT_PRODUCT_RHXGPU_P1000 = 5,
    QRT_PRODUCT_W504 = 8,
    QRT_PRODUCT_W508 = 9,
    QRT_PRODUCT_W512 = 10,
    QRT_PRODUCT_RHX10T = 11,
    QRT_PRODUCT_TULAN_KQX = 12,
    QRT_PRODUCT_RHX52P = 13,
    QRT_PRODUCT_RHX54P = 14,
    QRT_PRODUCT_RHX52PPRO = 15,
    QRT_PRODUCT_RHX54PPRO = 16,
    QRT_PRODUCT_W504P = 17,
    QRT_PRODUCT_W508P = 18,
    QRT_PRODUCT_W512P = 19,
    QRT_PRODUCT_RHX54I = 20,
    QRT_PRODUCT_RHX54IPRO = 21,
    QRT_PRODUCT_RHX54PAT = 22,
    QRT_PRODUCT_UNKNOWN = 0xFFFF
} QRT_PRODUCT_TYPE;

/* Card-wide PoE properties, returned as float. */
typedef enum QRT_ENUM_BASE {
    QRT_POE_PROP_STATE_FLAG0 = 0,
    QRT_POE_PROP_STATE_FLAG1 = 1,
    QRT_POE_PROP_STATE_FLAG5_CLEAR = 2,
    QRT_POE_PROP_TEMPERATURE = 3,
    QRT_POE_PROP_CONSUMED_BUDGET = 4,
    QRT_POE_PROP_LEFT_BUDGET = 5,
    QRT_POE_PROP_TOTAL_BUDGET = 6
} QRT_POEPROPERTY_TYPE;

/* Per-port PoE properties, returned as float. */
typedef enum QRT_ENUM_BASE {
    QRT_POEPORT_PROP_CURRENT = 0,
    QRT_POEPORT_PROP_VOLTAGE = 1,
    QRT_POEPORT_PROP_POWER_CLASS = 2,
    QRT_POEPORT_PROP_POWER_GOOD = 3,
    QRT_POEPORT_PROP_LAST_STATE = 4
} QRT_POEPORTPROPERTY_TYPE;

/* Trigger edge of a digital input or of the ToE trigger activation. */
typedef enum QRT_ENUM_BASE {
    QRT_EDGE_TRIGGER_EDGE0 = 0,
    QRT_EDGE_TRIGGER_EDGE1 = 1,
    QRT_EDGE_TRIGGER_BOTH = 2
} QRT_EDGETRIGGER_TYPE;

/* What a DIO block offers as a whole. */
typedef enum QRT_ENUM_BASE { QRT_DIO_CAP_DI = 0, QRT_DIO_CAP_DO = 1 } QRT_DIOCAPABILITY_TYPE;

/* What one digital input offers (values 1 and 2 are reported by no product). */
typedef enum QRT_ENUM_BASE {
    QRT_DI_CAP_STATE = 0,
    QRT_DI_CAP_TRIGGER = 3,
    QRT_DI_CAP_EDGE_TRIGGER = 4
} QRT_DIODICAPABILITY_TYPE;

/* What one digital output offers. */
typedef enum QRT_ENUM_BASE {
    QRT_DO_CAP_STATE = 0,
    QRT_DO_CAP_READBACK = 1
} QRT_DIODOCAPABILITY_TYPE;

/* Called from the DIO monitor thread with the input index and its new state. */
typedef void (*QRT_DITRIGGER_CALLBACK)(unsigned int di, int state);

#undef QRT_ENUM_BASE

#ifdef __cplusplus
}
#endif

#endif /* QRT_TYPES_H */
