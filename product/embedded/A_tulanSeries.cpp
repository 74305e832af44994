#include "product/embedded/A_tulanSeries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// What a forwarded operation answers while there is no component: a status says "not
// initialised", a count says none.
template <class Result>
Result withoutComponent() {
    return static_cast<Result>(QRT_ERR_NOT_INITIALIZED);
}
template <>
unsigned withoutComponent<unsigned>() {
    return 0;
}

// Appends a component's text to the text in buf, cut to the buffer.
template <class Component>
void appendInfo(Component* component, char* buf, unsigned len) {
    size_t used = std::strlen(buf);
    if (component != nullptr && used + 1 < len)
        component->getInfo(buf + used, static_cast<unsigned>(len - used));
}

}  // namespace

A_tulanSeries::A_tulanSeries() = default;

A_tulanSeries::~A_tulanSeries() {
    C_ObjectLock guard(lock);
    initialized = 0;
}

// ---- product ---------------------------------------------------------------------------------

int A_tulanSeries::getInfo(char* buf, unsigned len) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (buf == nullptr || len == 0) return QRT_ERR_INVALID_PARAM;
    std::snprintf(buf, len, "Product:%s\r\n", kModelString);
    // The components' own results do not matter: a line they cannot read is left out.
    appendInfo(poeComponent, buf, len);
    appendInfo(dioComponent, buf, len);
    return QRT_SUCCESS;
}

int A_tulanSeries::getType(QRT_PRODUCT_TYPE* type) {
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (type == nullptr) return QRT_ERR_INVALID_PARAM;
    *type = productType;
    return QRT_SUCCESS;
}

int A_tulanSeries::getSN(char* buf, unsigned len) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->getSN(buf, len);
}

unsigned A_tulanSeries::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    static const QRT_FEATURE_TYPE kFeatures[] = {QRT_FEATURE_POE, QRT_FEATURE_DIO};
    constexpr unsigned kCount = sizeof kFeatures / sizeof kFeatures[0];
    if (list != nullptr && capacity >= kCount) std::copy(kFeatures, kFeatures + kCount, list);
    return kCount;
}

void* A_tulanSeries::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    switch (feature) {
        case QRT_FEATURE_POE:
            return static_cast<I_poe*>(this);
        case QRT_FEATURE_DIO:
            return static_cast<I_dio*>(this);
        default:
            return nullptr;
    }
}

int A_tulanSeries::getCardID(int*) {
    return QRT_ERR_NOT_SUPPORTED;
}

void A_tulanSeries::poePortlistMapping(int*) {}
void A_tulanSeries::poePortlistRerverseMapping(int*) {}
void A_tulanSeries::poePortMapping(unsigned*) {}

// ---- digital I/O -----------------------------------------------------------------------------

#define QRT_DIO_OPERATION(Result, name, params, args)                                          \
    Result A_tulanSeries::name params {                                                        \
        return dioComponent != nullptr ? dioComponent->name args : withoutComponent<Result>(); \
    }
#include "I_dio.def"
#undef QRT_DIO_OPERATION

// ---- PoE -------------------------------------------------------------------------------------

int A_tulanSeries::getPoEPortNums(unsigned* n) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->getPoEPortNums(n);
}

int A_tulanSeries::setPoEPowConsumCalcProps(int mode) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->setPoEPowConsumCalcProps(mode);
}

int A_tulanSeries::getPoEPowConsumCalcProps(int* mode) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->getPoEPowConsumCalcProps(mode);
}

int A_tulanSeries::setPoEProtectTempRange(int protect, int recover) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->setPoEProtectTempRange(protect, recover);
}

int A_tulanSeries::getPoEProtectTempRange(int* protect, int* recover) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return poeComponent->getPoEProtectTempRange(protect, recover);
}

int A_tulanSeries::getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    // State flag 0 means nothing on this system's PoE board.
    if (p == QRT_POE_PROP_STATE_FLAG0) return QRT_ERR_NOT_SUPPORTED;
    return poeComponent->getPoEProperty(p, value);
}

int A_tulanSeries::getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    poePortMapping(&port);
    return poeComponent->getPoEPortProperty(port, p, value);
}

unsigned A_tulanSeries::componentPortCount() {
    unsigned ports = 0;
    if (poeComponent == nullptr || poeComponent->getPoEPortNums(&ports) != QRT_SUCCESS) return 0;
    return ports;
}

template <class Exchange>
int A_tulanSeries::exchangePortList(unsigned n, Exchange&& exchange) {
    if (poeComponent == nullptr) return QRT_ERR_NOT_INITIALIZED;
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    unsigned ports = componentPortCount();
    if (ports == 0) return QRT_ERR_FAILED;
    if (n < ports) return QRT_ERR_INVALID_PARAM;
    if (portBuffer.size() < ports) portBuffer.resize(ports);
    return exchange(ports);
}

// The caller's list is copied, so it comes back as it was given.
int A_tulanSeries::setPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr) return QRT_ERR_INVALID_PARAM;
    return exchangePortList(n, [&](unsigned ports) {
        std::copy(enables, enables + ports, portBuffer.begin());
        poePortlistMapping(portBuffer.data());
        return poeComponent->setPoEPortEnable(portBuffer.data(), ports);
    });
}

int A_tulanSeries::getPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr) return QRT_ERR_INVALID_PARAM;
    return exchangePortList(n, [&](unsigned ports) {
        int status = poeComponent->getPoEPortEnable(portBuffer.data(), ports);
        poePortlistRerverseMapping(portBuffer.data());
        std::copy(portBuffer.begin(), portBuffer.begin() + ports, enables);
        return status;
    });
}
