#pragma once

#include "I_exPowerSupply.h"
#include "I_nkVisionCardProduct.h"
#include "I_powerController.h"

// USB3 host cards. initial takes the card's I_pciMap* as void*.
class I_w5Series : public I_nkVisionCardProduct, public I_powerController, public I_exPowerSupply {
  public:
    virtual int initial(void* pciMap) = 0;
};
