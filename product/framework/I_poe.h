#pragma once

#include "QRT_Types.h"

// Power over Ethernet component (feature 2).
class I_poe {
  public:
    virtual ~I_poe() {}
    virtual int getPoEPortNums(unsigned* n) = 0;
    virtual int setPoEPortEnable(int* enables, unsigned n) = 0;
    virtual int getPoEPortEnable(int* enables, unsigned n) = 0;
    virtual int setPoEPowConsumCalcProps(int model) = 0;
    virtual int getPoEPowConsumCalcProps(int* model) = 0;
    virtual int setPoEProtectTempRange(int protect, int recover) = 0;
    virtual int getPoEProtectTempRange(int* protect, int* recover) = 0;
    virtual int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* v) = 0;
    virtual int getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* v) = 0;
};
