#pragma once

// Port power controller of the USB3 cards (feature 1).
class I_powerController {
  public:
    virtual ~I_powerController() {}
    virtual int getPowerPortNums(unsigned* n) = 0;
    virtual int setPowerPortEnable(int* enables, unsigned n) = 0;
    virtual int getPowerPortEnable(int* enables, unsigned n) = 0;
};
