#pragma once

#include "product/usb3/C_w50X.h"

// PCIe USB3 host cards with 12 ports (PCIe-W512, -W512P), always on a PEX 8608.
//
// Ports 0..7 are microcontroller channels 0..7. Ports 8..11 are powered through switch pins
// 7, 6, 9 and 8: a port is powered while its pin is an input and unpowered while the pin is
// an output (the switch then holds it at its output level). Every board has the external
// supply input.
class C_w51X : public C_w50X {
  public:
    int initial(void* pciMap) override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    int setPowerPortEnable(int* enables, unsigned count) override;
    int getPowerPortEnable(int* enables, unsigned count) override;
    int getExPowSupplytNums(unsigned* n) override;
    int getExPowSupplyStates(int* states, unsigned count) override;
    int getExPowSupplyDescription(unsigned index, char* text, unsigned len) override;
    int checkValid() override;
    int genProductString(char* text, int len) override;

  private:
    const unsigned int exSupplyCount12 = 1;
};
