#pragma once

#include "I_dio.h"
#include "I_nkProduct.h"
#include "I_poe.h"

// The embedded vision system. It is not a card: the C API's card-identifier call answers -5.
class I_tulanSeries : public I_nkProduct, public I_dio, public I_poe {
  public:
    virtual int initial() = 0;
};
