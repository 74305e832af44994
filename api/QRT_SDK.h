/*
 * QRT SDK: the public C interface.
 *
 * Loading the library finds every installed product once. An application asks how many
 * products there are, takes a product handle by index and drives the product's components
 * through it. A handle is an opaque pointer owned by the library; it stays valid until the
 * library is unloaded and is never freed by the application.
 *
 * Every function that takes a handle answers QRT_ERR_INVALID_PARAM (-11) for a null handle.
 * Component functions answer QRT_ERR_NOT_SUPPORTED (-5) when the product lacks the component.
 * All other results come from the product unchanged.
 *
 * Valid C99 and C++.
 */
#ifndef QRT_SDK_H
#define QRT_SDK_H

#include "QRT_Types.h"

#if defined(__GNUC__)
#define QRT_API __attribute__((visibility("default")))
#else
#define QRT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library and products ------------------------------------------------------------- */

/* Writes "Driver Version:<v>\r\n" (when the kernel driver answers) and
 * "SDK Version:1.7.7.0130\r\n" into buf, cut to len bytes including the terminator. */
QRT_API int QRT_GetSDKInfo(char* buf, int len);
/* Number of products found when the library was loaded (0 to 32). */
QRT_API unsigned int QRT_GetProductNums(void);
/* The product at index, or NULL when index is not below QRT_GetProductNums(). */
QRT_API void* QRT_GetProductHandle(unsigned int index);
/* Multi-line identity text ("Key:value\r\n" lines), cut to len. */
QRT_API int QRT_GetProductInfo(void* handle, char* buf, unsigned int len);
/* A QRT_PRODUCT_TYPE value; QRT_PRODUCT_UNKNOWN (0xFFFF) when the product cannot tell. */
QRT_API int QRT_GetProductType(void* handle);
QRT_API int QRT_GetProductSN(void* handle, char* buf, unsigned int len);
/* Returns the number of features; the list is written only when capacity is large enough. */
QRT_API int QRT_GetFeatureList(void* handle, QRT_FEATURE_TYPE* list, unsigned int capacity);
/* QRT_ERR_NOT_SUPPORTED on a product that is not a PCIe card. */
QRT_API int QRT_GetCardID(void* handle, int* id);

/* ---- Port power controller (QRT_FEATURE_POWER_CONTROLLER) ----------------------------- */

QRT_API int QRT_PowCtrlGetPortNums(void* handle, unsigned int* n);
QRT_API int QRT_PowCtrlSetPortEnable(void* handle, int* enables, unsigned int n);
QRT_API int QRT_PowCtrlGetPortEnable(void* handle, int* enables, unsigned int n);

/* ---- External power supply inputs (QRT_FEATURE_EX_POWER_SUPPLY) ----------------------- */

QRT_API int QRT_ExPowSupGetNums(void* handle, unsigned int* n);
QRT_API int QRT_ExPowSupGetState(void* handle, int* states, unsigned int n);

/* ---- Trigger over Ethernet (QRT_FEATURE_TOE) ------------------------------------------ */

QRT_API int QRT_ToEGetPortNums(void* handle, unsigned int* n);
QRT_API int QRT_ToESendActionCommand(void* handle, int command);
QRT_API int QRT_ToESetActionCommand(void* handle, unsigned int index, unsigned long a,
                                    unsigned long b, unsigned long c);
QRT_API int QRT_ToEGetActionCommand(void* handle, unsigned int index, unsigned long* a,
                                    unsigned long* b, unsigned long* c);
QRT_API int QRT_ToESetTriggerSource(void* handle, int source);
QRT_API int QRT_ToEGetTriggerSource(void* handle, int* source);
QRT_API int QRT_ToESetTriggerEnable(void* handle, int enable);
QRT_API int QRT_ToEGetTriggerEnable(void* handle, int* enable);
/* Edge values above QRT_EDGE_TRIGGER_BOTH are rejected with QRT_ERR_INVALID_PARAM. */
QRT_API int QRT_ToESetTriggerActivation(void* handle, QRT_EDGETRIGGER_TYPE edge);
QRT_API int QRT_ToEGetTriggerActivation(void* handle, QRT_EDGETRIGGER_TYPE* edge);
QRT_API int QRT_ToESetOneTriggerAllMode(void* handle, int mode);
QRT_API int QRT_ToEGetOneTriggerAllMode(void* handle, int* mode);
QRT_API int QRT_ToESetExTriggerDebounce(void* handle, unsigned long t);
QRT_API int QRT_ToEGetExTriggerDebounce(void* handle, unsigned long* t);
QRT_API int QRT_ToEGetExTriggerDebounceUnit(void* handle, unsigned long* unit);
QRT_API int QRT_ToEGetTriggerCount(void* handle, unsigned int port, unsigned int* a,
                                   unsigned int* b);
QRT_API int QRT_ToEResetTriggerCount(void* handle);

/* ---- Power over Ethernet (QRT_FEATURE_POE) -------------------------------------------- */

QRT_API int QRT_PoEGetPortNums(void* handle, unsigned int* n);
QRT_API int QRT_PoESetPortEnable(void* handle, int* enables, unsigned int n);
QRT_API int QRT_PoEGetPortEnable(void* handle, int* enables, unsigned int n);
QRT_API int QRT_PoESetPowConsumCalcModel(void* handle, int model);
QRT_API int QRT_PoEGetPowConsumCalcModel(void* handle, int* model);
QRT_API int QRT_PoESetProtectTempRange(void* handle, int protect, int recover);
QRT_API int QRT_PoEGetProtectTempRange(void* handle, int* protect, int* recover);
/* Property values above QRT_POE_PROP_TOTAL_BUDGET are rejected with QRT_ERR_INVALID_PARAM. */
QRT_API int QRT_PoEGetProperty(void* handle, QRT_POEPROPERTY_TYPE property, float* value);
/* Property values above QRT_POEPORT_PROP_LAST_STATE are rejected with QRT_ERR_INVALID_PARAM. */
QRT_API int QRT_PoEGetPortProperty(void* handle, unsigned int port,
                                   QRT_POEPORTPROPERTY_TYPE property, float* value);

/* ---- Fans (QRT_FEATURE_FAN) ----------------------------------------------------------- */

QRT_API int QRT_FanGetNums(void* handle, unsigned int* n);
QRT_API int QRT_FanGetSpeed(void* handle, unsigned int fan, unsigned int* rpm);
QRT_API int QRT_FanGetPWM(void* handle, unsigned int fan, int* duty);
QRT_API int QRT_FanSetPWM(void* handle, unsigned int fan, int duty);
QRT_API int QRT_FanGetSmartFanEnable(void* handle, unsigned int fan, int* enable);
QRT_API int QRT_FanSetSmartFanEnable(void* handle, unsigned int fan, int enable);

/* ---- Digital I/O (QRT_FEATURE_DIO) ---------------------------------------------------- */

/* The three capability calls return how many values they wrote. */
QRT_API int QRT_DIOGetCapability(void* handle, QRT_DIOCAPABILITY_TYPE* caps, unsigned int capacity);
QRT_API int QRT_DIOGetDINums(void* handle, unsigned int* n);
QRT_API int QRT_DIOGetDONums(void* handle, unsigned int* n);
QRT_API int QRT_DIOGetDICapability(void* handle, unsigned int di, QRT_DIODICAPABILITY_TYPE* caps,
                                   unsigned int capacity);
QRT_API int QRT_DIOGetDOCapability(void* handle, unsigned int dout, QRT_DIODOCAPABILITY_TYPE* caps,
                                   unsigned int capacity);
QRT_API int QRT_DIOSetDOState(void* handle, unsigned int dout, int state);
QRT_API int QRT_DIOSetDOStates(void* handle, int* states, unsigned int n);
QRT_API int QRT_DIOGetDOState(void* handle, unsigned int dout, int* state);
QRT_API int QRT_DIOGetDOStates(void* handle, int* states, unsigned int n);
QRT_API int QRT_DIOGetDIState(void* handle, unsigned int di, int* state);
QRT_API int QRT_DIOGetDIStates(void* handle, int* states, unsigned int n);
QRT_API int QRT_DIOSetDITriggerEnable(void* handle, unsigned int di, unsigned int enable);
QRT_API int QRT_DIOGetDITriggerEnable(void* handle, unsigned int di, unsigned int* enable);
QRT_API int QRT_DIOSetDOTriggerEnable(void* handle, unsigned int dout, unsigned int enable);
QRT_API int QRT_DIOGetDOTriggerEnable(void* handle, unsigned int dout, unsigned int* enable);
/* The callback runs on the library's DIO monitor thread. */
QRT_API int QRT_DIOSetDITriggerCallback(void* handle, QRT_DITRIGGER_CALLBACK callback);
QRT_API int QRT_DIOSetDIDebounceTime(void* handle, unsigned int di, unsigned long t);
QRT_API int QRT_DIOGetDIDebounceTime(void* handle, unsigned int di, unsigned long* t);
QRT_API int QRT_DIOGetDIDebounceTimeUnit(void* handle, unsigned long* unit);
QRT_API int QRT_DIOSetDOInvertState(void* handle, unsigned int dout, int invert);
QRT_API int QRT_DIOGetDOInvertState(void* handle, unsigned int dout, int* invert);
QRT_API int QRT_DIOSetDIEdgeTrigger(void* handle, unsigned int di, QRT_EDGETRIGGER_TYPE edge);
QRT_API int QRT_DIOGetDIEdgeTrigger(void* handle, unsigned int di, QRT_EDGETRIGGER_TYPE* edge);
QRT_API int QRT_DIOSetDITriggerPulseWidth(void* handle, unsigned int di, unsigned long w);
QRT_API int QRT_DIOGetDITriggerPulseWidth(void* handle, unsigned int di, unsigned long* w);
QRT_API int QRT_DIOGetDITriggerPulseWidthUnit(void* handle, unsigned long* unit);
QRT_API int QRT_DIOSetDOTriggerDelay(void* handle, unsigned int dout, unsigned long d);
QRT_API int QRT_DIOGetDOTriggerDelay(void* handle, unsigned int dout, unsigned long* d);
QRT_API int QRT_DIOGetDOTriggerDelayUnit(void* handle, unsigned long* unit);
QRT_API int QRT_DIOSetDOTriggerPulseWidth(void* handle, unsigned int dout, unsigned long w);
QRT_API int QRT_DIOGetDOTriggerPulseWidth(void* handle, unsigned int dout, unsigned long* w);
QRT_API int QRT_DIOGetDOTriggerPulseWidthUnit(void* handle, unsigned long* unit);
QRT_API int QRT_DIOTriggerDO(void* handle, unsigned int dout);
QRT_API int QRT_DIOTriggerDOs(void* handle, unsigned int* dos, unsigned int n);
QRT_API int QRT_DIOSetTrigger1vs1MappingTable(void* handle, unsigned int* table, unsigned int n);
QRT_API int QRT_DIOGetTrigger1vs1MappingTable(void* handle, unsigned int* table, unsigned int n);
QRT_API int QRT_DIOSetTrigger1vsMultipleMappingTable(void* handle, unsigned int di,
                                                     unsigned int* dos, unsigned int n);
QRT_API int QRT_DIOGetTrigger1vsMultipleMappingTable(void* handle, unsigned int di,
                                                     unsigned int* dos, unsigned int n);

#ifdef __cplusplus
}
#endif

#endif /* QRT_SDK_H */
