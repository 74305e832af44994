/* The public header as a C99 application sees it (this file is compiled with -std=c99
 * -pedantic-errors), plus calls that only C can make: enumeration arguments holding numbers
 * outside the enumeration, as a C caller may pass them. */
#include "QRT_SDK.h"

int qrtTestPoEGetPropertyRaw(void* handle, int property, float* value) {
    return QRT_PoEGetProperty(handle, (QRT_POEPROPERTY_TYPE)property, value);
}

int qrtTestPoEGetPortPropertyRaw(void* handle, unsigned int port, int property, float* value) {
    return QRT_PoEGetPortProperty(handle, port, (QRT_POEPORTPROPERTY_TYPE)property, value);
}

int qrtTestToESetTriggerActivationRaw(void* handle, int edge) {
    return QRT_ToESetTriggerActivation(handle, (QRT_EDGETRIGGER_TYPE)edge);
}

/* A DI trigger callback as an application writes it. */
static void onInputChange(unsigned int di, int state) {
    (void)di;
    (void)state;
}

int qrtTestSetCallbackFromC(void* handle) {
    return QRT_DIOSetDITriggerCallback(handle, onInputChange);
}
