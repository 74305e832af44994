#pragma once

#include "QRT_Types.h"

// What a product handle points to. Every product (card or system) implements it; component
// interfaces are facets of the same object, handed out by getFeatureHandle.
class I_nkProduct {
  public:
    virtual ~I_nkProduct() {}
    // Multi-line identity text ("Key:value\r\n" lines), cut to len.
    virtual int getInfo(char* buf, unsigned len) = 0;
    virtual int getType(QRT_PRODUCT_TYPE* type) = 0;
    virtual int getSN(char* buf, unsigned len) = 0;
    // Returns the feature count; writes the list only when capacity is at least that count.
    virtual unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) = 0;
    // The component interface pointer (I_poe*, I_toe*, ... as void*), or null.
    virtual void* getFeatureHandle(QRT_FEATURE_TYPE feature) = 0;
};
