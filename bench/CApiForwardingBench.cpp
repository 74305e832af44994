// What the C API itself adds to a call: the handle check, the component lookup through the
// product's getFeatureHandle and the forwarding, measured against a product that answers at
// once. The product functions that an application calls before anything else,
// QRT_GetProductHandle and QRT_GetProductType, are measured on the products detected when the
// library loaded (under qrt-sim: the rig's) and on the instant product.

#include <benchmark/benchmark.h>

#include <type_traits>

#include "I_dio.h"
#include "I_nkProduct.h"
#include "I_poe.h"
#include "QRT_SDK.h"

namespace {

// Digital I/O without any capability: every operation answers "not supported".
class UnsupportedDio : public I_dio {
  public:
#define QRT_DIO_OPERATION(Result, name, params, args) \
    Result name params override {                     \
        return unsupported<Result> args;              \
    }
#include "I_dio.def"
#undef QRT_DIO_OPERATION

  private:
    template <class Result, class... Args>
    static Result unsupported(Args...) {
        return std::is_unsigned<Result>::value ? Result(0) : Result(QRT_ERR_NOT_SUPPORTED);
    }
};

// A product with PoE and digital I/O, like the embedded vision system, whose measured
// operations return a value at once; the others are not supported.
class InstantProduct : public I_nkProduct, public I_poe, public UnsupportedDio {
  public:
    void* handle() { return static_cast<I_nkProduct*>(this); }

    // I_nkProduct
    int getType(QRT_PRODUCT_TYPE* type) override {
        *type = QRT_PRODUCT_TULAN_KQX;
        return QRT_SUCCESS;
    }
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override {
        if (feature == QRT_FEATURE_POE) return static_cast<I_poe*>(this);
        if (feature == QRT_FEATURE_DIO) return static_cast<I_dio*>(this);
        return nullptr;
    }
    int getInfo(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    unsigned getFeatureList(QRT_FEATURE_TYPE*, unsigned) override { return 0; }

    // I_poe
    int getPoEProperty(QRT_POEPROPERTY_TYPE property, float* value) override {
        *value = float(property);
        return QRT_SUCCESS;
    }
    int getPoEPortNums(unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEPortEnable(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPortEnable(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEPowConsumCalcProps(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPowConsumCalcProps(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEProtectTempRange(int, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEProtectTempRange(int*, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPortProperty(unsigned, QRT_POEPORTPROPERTY_TYPE, float*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    // I_dio
    int getDIState(unsigned di, int* state) override {
        *state = int(di & 1);
        return QRT_SUCCESS;
    }
};

InstantProduct& instantProduct() {
    static InstantProduct product;
    return product;
}

// The baseline: the same operation called on the component interface directly, as C++ code
// linked with the product would (the compiler may see through the virtual call here).
void BM_DirectGetPoEProperty(benchmark::State& state) {
    I_poe* poe = &instantProduct();
    float value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(poe);
        benchmark::DoNotOptimize(poe->getPoEProperty(QRT_POE_PROP_TEMPERATURE, &value));
    }
}
BENCHMARK(BM_DirectGetPoEProperty);

void BM_QRT_PoEGetProperty(benchmark::State& state) {
    void* handle = instantProduct().handle();
    float value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(handle);
        benchmark::DoNotOptimize(QRT_PoEGetProperty(handle, QRT_POE_PROP_TEMPERATURE, &value));
    }
}
BENCHMARK(BM_QRT_PoEGetProperty);

void BM_QRT_DIOGetDIState(benchmark::State& state) {
    void* handle = instantProduct().handle();
    int level = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(handle);
        benchmark::DoNotOptimize(QRT_DIOGetDIState(handle, 3, &level));
    }
}
BENCHMARK(BM_QRT_DIOGetDIState);

void BM_QRT_GetProductType_instant(benchmark::State& state) {
    void* handle = instantProduct().handle();
    for (auto _ : state) {
        benchmark::DoNotOptimize(handle);
        benchmark::DoNotOptimize(QRT_GetProductType(handle));
    }
}
BENCHMARK(BM_QRT_GetProductType_instant);

void BM_QRT_GetProductHandle(benchmark::State& state) {
    if (QRT_GetProductNums() == 0) state.SetLabel("no product detected: the out-of-range answer");
    for (auto _ : state) benchmark::DoNotOptimize(QRT_GetProductHandle(0));
}
BENCHMARK(BM_QRT_GetProductHandle);

// A detected product answers its type from what it read from the board when it was detected.
void BM_QRT_GetProductType_detected(benchmark::State& state) {
    void* handle = QRT_GetProductHandle(0);
    if (handle == nullptr) {
        state.SkipWithError("no product detected (run under qrt-sim)");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(handle);
        benchmark::DoNotOptimize(QRT_GetProductType(handle));
    }
}
BENCHMARK(BM_QRT_GetProductType_detected);

}  // namespace

BENCHMARK_MAIN();
