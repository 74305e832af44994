#pragma once

#include "QRT_Types.h"

// Digital inputs and outputs (feature 4).
class I_dio {
  public:
    virtual ~I_dio() {}
    virtual unsigned getCapability(QRT_DIOCAPABILITY_TYPE* caps, unsigned capacity) = 0;
    virtual int getDINums(unsigned* n) = 0;
    virtual int getDONums(unsigned* n) = 0;
    virtual unsigned getDICapability(unsigned di, QRT_DIODICAPABILITY_TYPE* caps,
                                     unsigned capacity) = 0;
    virtual unsigned getDOCapability(unsigned dout, QRT_DIODOCAPABILITY_TYPE* caps,
                                     unsigned capacity) = 0;
    virtual int setDOState(unsigned dout, int state) = 0;
    virtual int setDOStates(int* states, unsigned n) = 0;
    virtual int getDOState(unsigned dout, int* state) = 0;
    virtual int getDOStates(int* states, unsigned n) = 0;
    virtual int getDIState(unsigned di, int* state) = 0;
    virtual int getDIStates(int* states, unsigned n) = 0;
    virtual int setDIDebounceTime(unsigned di, unsigned long t) = 0;
    virtual int getDIDebounceTime(unsigned di, unsigned long* t) = 0;
    virtual int getDIDebounceTimeUnit(unsigned long* unit) = 0;
    virtual int setDOInvertState(unsigned dout, int invert) = 0;
    virtual int getDOInvertState(unsigned dout, int* invert) = 0;
    virtual int setDITriggerEnable(unsigned di, unsigned enable) = 0;
    virtual int getDITriggerEnable(unsigned di, unsigned* enable) = 0;
    virtual int setDOTriggerEnable(unsigned dout, unsigned enable) = 0;
    virtual int getDOTriggerEnable(unsigned dout, unsigned* enable) = 0;
    virtual int setDITriggerCallback(QRT_DITRIGGER_CALLBACK callback) = 0;
    virtual int setDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE edge) = 0;
    virtual int getDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE* edge) = 0;
    virtual int setDITriggerPulseWidth(unsigned di, unsigned long w) = 0;
    virtual int getDITriggerPulseWidth(unsigned di, unsigned long* w) = 0;
    virtual int getDITriggerPulseWidthUnit(unsigned long* unit) = 0;
    virtual int setDOTriggerDelay(unsigned dout, unsigned long d) = 0;
    virtual int getDOTriggerDelay(unsigned dout, unsigned long* d) = 0;
    virtual int getDOTriggerDelayUnit(unsigned long* unit) = 0;
    virtual int setDOTriggerPulseWidth(unsigned dout, unsigned long w) = 0;
    virtual int getDOTriggerPulseWidth(unsigned dout, unsigned long* w) = 0;
    virtual int getDOTriggerPulseWidthUnit(unsigned long* unit) = 0;
    virtual int triggerDO(unsigned dout) = 0;
    virtual int triggerDOs(unsigned* dos, unsigned n) = 0;
    virtual int setTrigger1vs1MappingTable(unsigned* table, unsigned n) = 0;
    virtual int getTrigger1vs1MappingTable(unsigned* table, unsigned n) = 0;
    virtual int setTrigger1vsMultipleMappingTable(unsigned di, unsigned* dos, unsigned n) = 0;
    virtual int getTrigger1vsMultipleMappingTable(unsigned di, unsigned* dos, unsigned n) = 0;
};
