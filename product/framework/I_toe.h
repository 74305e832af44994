#pragma once

#include "QRT_Types.h"

// Trigger over Ethernet (feature 3): action-command frames stored in and sent by the CPLD.
class I_toe {
  public:
    virtual ~I_toe() {}
    virtual int getToEPortNums(unsigned* n) = 0;
    virtual int sendToEActionCommand(int command) = 0;
    virtual int setToEActionCommand(unsigned index, unsigned long a, unsigned long b,
                                    unsigned long c) = 0;
    virtual int getToEActionCommand(unsigned index, unsigned long* a, unsigned long* b,
                                    unsigned long* c) = 0;
    virtual int setToETriggerSource(int source) = 0;
    virtual int getToETriggerSource(int* source) = 0;
    virtual int setToETriggerEnable(int enable) = 0;
    virtual int getToETriggerEnable(int* enable) = 0;
    virtual int setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE edge) = 0;
    virtual int getToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE* edge) = 0;
    virtual int setToEOneTriggerAllMode(int mode) = 0;
    virtual int getToEOneTriggerAllMode(int* mode) = 0;
    virtual int setToEExTriggerDebounce(unsigned long t) = 0;
    virtual int getToEExTriggerDebounce(unsigned long* t) = 0;
    virtual int getToEExTriggerDebounceUnit(unsigned long* unit) = 0;
    virtual int getToETriggerCount(unsigned port, unsigned* a, unsigned* b) = 0;
    virtual int resetToETriggerCount() = 0;
};
