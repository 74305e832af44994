#pragma once

#include "core/controllers/rhxmcu/I_rhxMCU.h"

// Base of the card microcontrollers: every operation is not supported; the word encoders and
// decoders of the command set live here.
class A_rhxMCU : public I_rhxMCU {
  public:
    int initial(I_nkI2C* bus) override;
    int getVersion(char* text, unsigned int size) override;
    int getPSERecvoeryPowerState(int* states, unsigned int count) override;
    int setPoEEnable(int* enables, unsigned int count) override;
    int getPoEEnable(int* enables, unsigned int count) override;
    int getThermalTemperature(float* temperature) override;
    int setTemperatureProtectionEnable(int enable) override;
    int getTemperatureProtectionEnable(int* enable) override;
    int resetMCU() override;
    int isMCUBusy(int* busy) override;
    int readPSEOneByteData(unsigned char reg, unsigned char* value) override;
    int readPSETwoByteData(unsigned char reg, unsigned char* value2) override;
    int writePSEOneByteData(unsigned char reg, unsigned char value) override;
    int setProtectedTemperature(int degrees) override;
    int setRecoveryTemperature(int degrees) override;
    int getProtectedTemperature(int* degrees) override;
    int getRecoveryTemperature(int* degrees) override;
    int getPoEState(RHXMCU_POESTATE* state) override;
    int getPoEPortStatus(unsigned int port, unsigned int* poeClass, unsigned int* flag) override;
    int getConsumedPowerBudget(float* budget) override;
    int getLeftPowerBudget(float* budget) override;
    int setPowerBudgetControlEnable(int enable) override;
    int getPowerBudgetControlEnable(int* enable) override;
    int setFanPWMDuty(int duty) override;
    int getFanPWMDuty(int* duty) override;
    int getFanRPM(unsigned int* rpm) override;
    int setSmartFanEnable(int enable) override;
    int getSmartFanEnable(int* enable) override;
    int readData(unsigned long cmd, RHXMCU_READDATA* reply, unsigned int waitMs) override;
    int writeData(unsigned long cmd, RHXMCU_WRITEDATA* data) override;

    // An enable flag as data byte 0 (1 or 0), and back (1 when byte 0 is non-zero).
    static RHXMCU_WRITEDATA genEnable(int enable);
    static int parseEnable(const RHXMCU_READDATA& reply);
    // A threshold in degrees: low 8 bits in data byte 0; the reply's byte 0 (0..255).
    static RHXMCU_WRITEDATA genProtectTemperature(int degrees);
    static int parseProtectTemperature(const RHXMCU_READDATA& reply);
    static RHXMCU_WRITEDATA genRecoveryTemperature(int degrees);
    static int parseRecoveryTemperature(const RHXMCU_READDATA& reply);
    // Sign and magnitude, 1/32 degree resolution: byte 1 bit 7 the sign, byte 1 bits 6..0
    // the degrees from 128 down to 2, byte 0 bits 7..2 from 1 down to 1/32.
    static float parseThermalTemperature(const RHXMCU_READDATA& reply);
    static void parseDeviceState(const RHXMCU_READDATA& reply, RHXMCU_POESTATE* state);
    // "major.minor" from the high and low nibble of byte 0.
    static void parseVersion(const RHXMCU_READDATA& reply, char* text, unsigned int size);
    // Two bits per port in byte 0: 10 enables, 01 disables, 00 leaves the port alone.
    static RHXMCU_WRITEDATA genPoEEnableList(const int* enables, unsigned int count,
                                             unsigned int portCount);
    static void parsePoEEnableList(const RHXMCU_READDATA& reply, int* enables, unsigned int count,
                                   unsigned int portCount);
    static void parsePoELastStateList(const RHXMCU_READDATA& reply, int* states, unsigned int count,
                                      unsigned int portCount);
    // The PSE's three-bit class code as the class number (0 for code 6, 255 for 7 and 65535
    // for 0, which the firmware uses for "no class yet").
    static void parsePoEClass(unsigned int code, unsigned int* poeClass);
};
