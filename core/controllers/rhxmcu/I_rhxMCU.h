#pragma once

#include "core/bus/I_nkI2C.h"

// The data word sent after a command byte.
struct RHXMCU_WRITEDATA {
    unsigned char data[2];
};
// The reply word of a read command, in the order received.
struct RHXMCU_READDATA {
    unsigned char data[2];
};
// The microcontroller's device-state byte, decoded.
struct RHXMCU_POESTATE {
    unsigned char stateBit0;
    unsigned char stateBit1;
    unsigned char powerSource;  // bits 3..2: the supply the card runs on
    unsigned char stateBit5;
    unsigned char bit6Code;  // 2 when bit 6 is set, else 4
};

// The PoE frame-grabber card's microcontroller: it supervises the power-sourcing chip (PSE),
// the card temperature and its protection thresholds, the PoE power budget and the fan, and
// relays single PSE register accesses. Every exchange is a command byte and a two-byte word.
// Every operation returns 0 or a negative status code.
class I_rhxMCU {
  public:
    virtual ~I_rhxMCU() {}
    virtual int initial(I_nkI2C* bus) = 0;
    virtual int getVersion(char* text, unsigned int size) = 0;
    virtual int getPSERecvoeryPowerState(int* states, unsigned int count) = 0;
    virtual int setPoEEnable(int* enables, unsigned int count) = 0;
    virtual int getPoEEnable(int* enables, unsigned int count) = 0;
    virtual int getThermalTemperature(float* temperature) = 0;
    virtual int setTemperatureProtectionEnable(int enable) = 0;
    virtual int getTemperatureProtectionEnable(int* enable) = 0;
    virtual int resetMCU() = 0;
    virtual int isMCUBusy(int* busy) = 0;
    virtual int readPSEOneByteData(unsigned char reg, unsigned char* value) = 0;
    // value2[0] is the low byte, value2[1] the high byte.
    virtual int readPSETwoByteData(unsigned char reg, unsigned char* value2) = 0;
    virtual int writePSEOneByteData(unsigned char reg, unsigned char value) = 0;
    virtual int setProtectedTemperature(int degrees) = 0;
    virtual int setRecoveryTemperature(int degrees) = 0;
    virtual int getProtectedTemperature(int* degrees) = 0;
    virtual int getRecoveryTemperature(int* degrees) = 0;
    virtual int getPoEState(RHXMCU_POESTATE* state) = 0;
    virtual int getPoEPortStatus(unsigned int port, unsigned int* poeClass, unsigned int* flag) = 0;
    virtual int getConsumedPowerBudget(float* budget) = 0;
    virtual int getLeftPowerBudget(float* budget) = 0;
    virtual int setPowerBudgetControlEnable(int enable) = 0;
    virtual int getPowerBudgetControlEnable(int* enable) = 0;
    virtual int setFanPWMDuty(int duty) = 0;
    virtual int getFanPWMDuty(int* duty) = 0;
    virtual int getFanRPM(unsigned int* rpm) = 0;
    virtual int setSmartFanEnable(int enable) = 0;
    virtual int getSmartFanEnable(int* enable) = 0;
    // The raw exchanges: a read sends the command with a zero word, pauses waitMs
    // (20 ms when 0) and reads the two-byte reply; a write sends the command and the word.
    virtual int readData(unsigned long cmd, RHXMCU_READDATA* reply, unsigned int waitMs) = 0;
    virtual int writeData(unsigned long cmd, RHXMCU_WRITEDATA* data) = 0;
};
