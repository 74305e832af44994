#pragma once

#include "QRT_Types.h"

// Digital inputs and outputs (feature 4).
class I_dio {
  public:
    virtual ~I_dio() {}
#define QRT_DIO_OPERATION(Result, name, params, args) virtual Result name params = 0;
#include "I_dio.def"
#undef QRT_DIO_OPERATION
};
