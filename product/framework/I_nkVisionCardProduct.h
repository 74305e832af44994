#pragma once

#include "I_nkProduct.h"

// A PCIe card: adds the card identifier read from the board.
class I_nkVisionCardProduct : public I_nkProduct {
  public:
    virtual int getCardID(int* id) = 0;
};
