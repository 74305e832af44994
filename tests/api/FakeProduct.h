#pragma once

// Products that stand in for real ones behind a C API handle. FakeCard implements the card
// interface and all six component interfaces and records every operation that reaches it,
// with its arguments, as text such as "getPoEProperty(5,0x7ffd...)". PlainProduct is a
// product without any component and without a card identifier.

#include <cstdio>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "I_dio.h"
#include "I_exPowerSupply.h"
#include "I_fan.h"
#include "I_nkVisionCardProduct.h"
#include "I_poe.h"
#include "I_powerController.h"
#include "I_toe.h"

namespace qrttest {

// Integers and enumerations print as signed or unsigned decimal (enumerations as the signed
// 32-bit value the C API sees), pointers as addresses.
template <class T>
std::string describe(T value) {
    if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<int>(value));
    } else if constexpr (std::is_pointer_v<T>) {
        char text[32];
        std::snprintf(text, sizeof text, "%p", reinterpret_cast<const void*>(value));
        return text;
    } else {
        return std::to_string(value);
    }
}

template <class... Args>
std::string describeCall(const char* operation, Args... args) {
    std::string arguments;
    ((arguments += (arguments.empty() ? "" : ",") + describe(args)), ...);
    return std::string(operation) + "(" + arguments + ")";
}

// What a product saw: the feature numbers it was asked for and the operations it ran.
struct ProductLog {
    std::vector<int> featureRequests;
    std::vector<std::string> operations;
};

class PlainProduct : public I_nkProduct {
  public:
    ProductLog log;
    int typeStatus = QRT_SUCCESS;
    QRT_PRODUCT_TYPE type = QRT_PRODUCT_TULAN_KQX;

    int getInfo(char* buf, unsigned len) override { return note("getInfo", buf, len); }
    int getType(QRT_PRODUCT_TYPE* out) override {
        note("getType", out);
        if (typeStatus == QRT_SUCCESS) *out = type;
        return typeStatus;
    }
    int getSN(char* buf, unsigned len) override { return note("getSN", buf, len); }
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override {
        return static_cast<unsigned>(note("getFeatureList", list, capacity));
    }
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override {
        log.featureRequests.push_back(feature);
        return nullptr;
    }

    // Value the next operation returns.
    int result = 0;

  protected:
    template <class... Args>
    int note(const char* operation, Args... args) {
        log.operations.push_back(describeCall(operation, args...));
        return result;
    }
};

class FakeCard : public I_nkVisionCardProduct,
                 public I_powerController,
                 public I_poe,
                 public I_toe,
                 public I_dio,
                 public I_exPowerSupply,
                 public I_fan {
  public:
    ProductLog log;
    int result = 0;
    // Every operation throws, as one whose memory ran out would.
    bool throwing = false;

    // The handle an application would get for this product.
    void* handle() { return static_cast<I_nkProduct*>(this); }

    // I_nkProduct
    int getInfo(char* buf, unsigned len) override { return note(__func__, buf, len); }
    int getType(QRT_PRODUCT_TYPE* type) override { return note(__func__, type); }
    int getSN(char* buf, unsigned len) override { return note(__func__, buf, len); }
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override {
        return count(__func__, list, capacity);
    }
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override {
        log.featureRequests.push_back(feature);
        switch (feature) {
            case QRT_FEATURE_POWER_CONTROLLER:
                return static_cast<I_powerController*>(this);
            case QRT_FEATURE_POE:
                return static_cast<I_poe*>(this);
            case QRT_FEATURE_TOE:
                return static_cast<I_toe*>(this);
            case QRT_FEATURE_DIO:
                return static_cast<I_dio*>(this);
            case QRT_FEATURE_EX_POWER_SUPPLY:
                return static_cast<I_exPowerSupply*>(this);
            case QRT_FEATURE_FAN:
                return static_cast<I_fan*>(this);
        }
        return nullptr;
    }
    int getCardID(int* id) override { return note(__func__, id); }

    // I_powerController
    int getPowerPortNums(unsigned* n) override { return note(__func__, n); }
    int setPowerPortEnable(int* e, unsigned n) override { return note(__func__, e, n); }
    int getPowerPortEnable(int* e, unsigned n) override { return note(__func__, e, n); }

    // I_exPowerSupply
    int getExPowSupplytNums(unsigned* n) override { return note(__func__, n); }
    int getExPowSupplyStates(int* s, unsigned n) override { return note(__func__, s, n); }
    int getExPowSupplyDescription(unsigned i, char* buf, unsigned len) override {
        return note(__func__, i, buf, len);
    }

    // I_toe
    int getToEPortNums(unsigned* n) override { return note(__func__, n); }
    int sendToEActionCommand(int command) override { return note(__func__, command); }
    int setToEActionCommand(unsigned i, unsigned long a, unsigned long b,
                            unsigned long c) override {
        return note(__func__, i, a, b, c);
    }
    int getToEActionCommand(unsigned i, unsigned long* a, unsigned long* b,
                            unsigned long* c) override {
        return note(__func__, i, a, b, c);
    }
    int setToETriggerSource(int source) override { return note(__func__, source); }
    int getToETriggerSource(int* source) override { return note(__func__, source); }
    int setToETriggerEnable(int enable) override { return note(__func__, enable); }
    int getToETriggerEnable(int* enable) override { return note(__func__, enable); }
    int setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE e) override { return note(__func__, e); }
    int getToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE* e) override { return note(__func__, e); }
    int setToEOneTriggerAllMode(int mode) override { return note(__func__, mode); }
    int getToEOneTriggerAllMode(int* mode) override { return note(__func__, mode); }
    int setToEExTriggerDebounce(unsigned long t) override { return note(__func__, t); }
    int getToEExTriggerDebounce(unsigned long* t) override { return note(__func__, t); }
    int getToEExTriggerDebounceUnit(unsigned long* u) override { return note(__func__, u); }
    int getToETriggerCount(unsigned port, unsigned* a, unsigned* b) override {
        return note(__func__, port, a, b);
    }
    int resetToETriggerCount() override { return note(__func__); }

    // I_poe
    int getPoEPortNums(unsigned* n) override { return note(__func__, n); }
    int setPoEPortEnable(int* e, unsigned n) override { return note(__func__, e, n); }
    int getPoEPortEnable(int* e, unsigned n) override { return note(__func__, e, n); }
    int setPoEPowConsumCalcProps(int model) override { return note(__func__, model); }
    int getPoEPowConsumCalcProps(int* model) override { return note(__func__, model); }
    int setPoEProtectTempRange(int p, int r) override { return note(__func__, p, r); }
    int getPoEProtectTempRange(int* p, int* r) override { return note(__func__, p, r); }
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* v) override { return note(__func__, p, v); }
    int getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* v) override {
        return note(__func__, port, p, v);
    }

    // I_fan
    int getFanNums(unsigned* n) override { return note(__func__, n); }
    int getFanSpeed(unsigned f, unsigned* rpm) override { return note(__func__, f, rpm); }
    int getFanPWM(unsigned f, int* duty) override { return note(__func__, f, duty); }
    int setFanPWM(unsigned f, int duty) override { return note(__func__, f, duty); }
    int getSmartFanEnable(unsigned f, int* e) override { return note(__func__, f, e); }
    int setSmartFanEnable(unsigned f, int e) override { return note(__func__, f, e); }
    int getFanDescription(unsigned f, char* buf, unsigned len) override {
        return note(__func__, f, buf, len);
    }

    // I_dio: every operation of the list, recorded under its own name.
#define QRT_DIO_OPERATION(Result, name, params, args)     \
    Result name params override {                         \
        return static_cast<Result>(recorder(#name) args); \
    }
#include "I_dio.def"
#undef QRT_DIO_OPERATION

  private:
    template <class... Args>
    int note(const char* operation, Args... args) {
        log.operations.push_back(describeCall(operation, args...));
        if (throwing) throw std::bad_alloc();
        return result;
    }
    // A call that notes `operation` with the arguments it is given.
    struct Recorder {
        FakeCard* card;
        const char* operation;
        template <class... Args>
        int operator()(Args... args) const {
            return card->note(operation, args...);
        }
    };
    Recorder recorder(const char* operation) {
        return {this, operation};
    }
    template <class... Args>
    unsigned count(const char* operation, Args... args) {
        return static_cast<unsigned>(note(operation, args...));
    }
};

}  // namespace qrttest
