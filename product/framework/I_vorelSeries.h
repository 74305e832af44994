#pragma once

#include "I_dio.h"
#include "I_nkProduct.h"

// The DIO block of the embedded system.
class I_vorelSeries : public I_nkProduct, public I_dio {
  public:
    virtual int initial(void* arg) = 0;
};
