#pragma once

#include <vector>

#include "I_poeSeries.h"
#include "I_tulanSeries.h"
#include "I_vorelSeries.h"
#include "core/common/C_ObjectLock.h"

// Base of the embedded vision system: one product over two components, its DIO block and its
// PoE ports. Every DIO operation goes to the DIO component unchanged; the PoE operations go to
// the PoE component, with the system's port numbers mapped onto the component's by the three
// mapping operations (the base maps nothing; the system model reverses the order). Before the
// components exist every operation answers QRT_ERR_NOT_INITIALIZED.
class A_tulanSeries : public I_tulanSeries {
  public:
    static constexpr const char* kModelString = "TULAN-KQX";

    A_tulanSeries();
    ~A_tulanSeries() override;
    A_tulanSeries(const A_tulanSeries&) = delete;
    A_tulanSeries& operator=(const A_tulanSeries&) = delete;

    // I_nkProduct
    int getInfo(char* buf, unsigned len) override;
    int getType(QRT_PRODUCT_TYPE* type) override;
    int getSN(char* buf, unsigned len) override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;

    // I_dio: the DIO component's operations.
#define QRT_DIO_OPERATION(Result, name, params, args) Result name params override;
#include "I_dio.def"
#undef QRT_DIO_OPERATION

    // I_poe
    int getPoEPortNums(unsigned* n) override;
    int setPoEPortEnable(int* enables, unsigned n) override;
    int getPoEPortEnable(int* enables, unsigned n) override;
    int setPoEPowConsumCalcProps(int mode) override;
    int getPoEPowConsumCalcProps(int* mode) override;
    int setPoEProtectTempRange(int protect, int recover) override;
    int getPoEProtectTempRange(int* protect, int* recover) override;
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) override;
    int getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) override;

    // Not a card: no identifier.
    virtual int getCardID(int* id);
    // The system's port list in the component's order, and back (in place), and one port.
    virtual void poePortlistMapping(int* list);
    virtual void poePortlistRerverseMapping(int* list);
    virtual void poePortMapping(unsigned* port);

  protected:
    // The PoE component's port count; 0 when it has none or cannot tell.
    unsigned componentPortCount();
    // Runs a port-list exchange with the component under the product lock: the list of `n`
    // entries goes through the port buffer in the component's order.
    template <class Exchange>
    int exchangePortList(unsigned n, Exchange&& exchange);

    int initialized = 0;
    QRT_PRODUCT_TYPE productType = QRT_PRODUCT_UNKNOWN;
    C_ObjectSemaphore lock;
    I_vorelSeries* dioComponent = nullptr;  // owned by the component factory
    I_poeSeries* poeComponent = nullptr;    // owned by the component factory
    std::vector<int> portBuffer = std::vector<int>(4);
};
