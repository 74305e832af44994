#pragma once

#include "QRT_Types.h"
#include "core/controllers/rhxmcu/I_rhxMCU.h"

// Base of the card microcontrollers: every operation answers "not supported"; the word encoders and
// decoders of the command set live here.
class A_rhxMCU : public I_rhxMCU {
  public:
    int initial(I_nkI2C*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getVersion(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPSERecvoeryPowerState(int*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEEnable(int*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEEnable(int*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getThermalTemperature(float*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setTemperatureProtectionEnable(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getTemperatureProtectionEnable(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int resetMCU() override { return QRT_ERR_NOT_SUPPORTED; }
    int isMCUBusy(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readPSEOneByteData(unsigned char, unsigned char*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readPSETwoByteData(unsigned char, unsigned char*) override { return QRT_ERR_NOT_SUPPORTED; }
    int writePSEOneByteData(unsigned char, unsigned char) override { return QRT_ERR_NOT_SUPPORTED; }
    int setProtectedTemperature(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setRecoveryTemperature(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getProtectedTemperature(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getRecoveryTemperature(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEState(RHXMCU_POESTATE*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPortStatus(unsigned int, unsigned int*, unsigned int*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int getConsumedPowerBudget(float*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getLeftPowerBudget(float*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPowerBudgetControlEnable(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPowerBudgetControlEnable(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setFanPWMDuty(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getFanPWMDuty(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getFanRPM(unsigned int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setSmartFanEnable(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSmartFanEnable(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int readData(unsigned long, RHXMCU_READDATA*, unsigned int) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int writeData(unsigned long, RHXMCU_WRITEDATA*) override { return QRT_ERR_NOT_SUPPORTED; }

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
