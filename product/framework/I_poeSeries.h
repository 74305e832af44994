#pragma once

#include "I_exPowerSupply.h"
#include "I_fan.h"
#include "I_nkVisionCardProduct.h"
#include "I_poe.h"
#include "I_toe.h"

// PoE frame-grabber cards. initial takes the card's I_pciMap* as void*.
class I_poeSeries : public I_nkVisionCardProduct,
                    public I_poe,
                    public I_exPowerSupply,
                    public I_toe,
                    public I_fan {
  public:
    virtual int initial(void* pciMap) = 0;
};
