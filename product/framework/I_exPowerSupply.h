#pragma once

// External power supply inputs (feature 5).
class I_exPowerSupply {
  public:
    virtual ~I_exPowerSupply() {}
    virtual int getExPowSupplytNums(unsigned* n) = 0;
    virtual int getExPowSupplyStates(int* states, unsigned n) = 0;
    virtual int getExPowSupplyDescription(unsigned index, char* buf, unsigned len) = 0;
};
