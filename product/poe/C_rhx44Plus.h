#pragma once

#include "core/bus/I_nkPCISwitcher.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"
#include "core/driver/I_pciMap.h"
#include "product/poe/A_poeSeries.h"

// PCIe-RHX44+, the oldest PoE card (4 ports): a PEX 8608 switch with the CPLD on its serial
// port, but no card microcontroller and no identity EEPROM. The host drives the PoE power chip
// (I2C address 0x20) itself, over an I2C bus bit-banged on two switch pins: pin 0 is the clock,
// pin 1 the data line. Every pin change is a masked write of the switch's GPIO output register
// queued in the kernel driver's command cache; the stop of a transaction runs the queue, so one
// transaction reaches the wire in one go. The host can only switch the ports' power; every
// reading answers QRT_ERR_NOT_SUPPORTED.
//
// The board is told by its straps (PCB revision 5 or more), a microcontroller that does not
// answer and a CPLD that does.
class C_rhx44Plus : public A_poeSeries {
  public:
    static constexpr unsigned char kPowerChipWrite = 0x40;  // address 0x20, write
    static constexpr int kMinimumPcbVersion = 5;

    C_rhx44Plus();

    int initial(void* pciMap) override;
    int getPCBVersion() override;
    // Switches port i on when enables[i] is non-zero (the first four entries count).
    int setPoEPortEnable(int* enables, unsigned n) override;
    int getPoEPortEnable(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEPowConsumCalcProps(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPowConsumCalcProps(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setPoEProtectTempRange(int, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEProtectTempRange(int*, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEProperty(QRT_POEPROPERTY_TYPE, float*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPoEPortProperty(unsigned, QRT_POEPORTPROPERTY_TYPE, float*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getPN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }

    // The power chip's DC and AC disconnect detection on all ports; 0 or the stop's status.
    int setDCEnable(int on);
    int setACEnable(int on);

  private:
    int bindControllers(void* pciMap);
    int checkValid();
    void preparePins();
    // One whole transaction under the card lock: start, the bytes, stop (which runs the
    // driver's command cache). Transactions never interleave. A step the driver did not queue
    // leaves the transaction incomplete: the queue is then dropped instead of run, so the bus
    // never sees half a transaction, and the call fails with the driver's status; so does a
    // queue the driver did not run.
    int sendTransaction(const unsigned char* bytes, unsigned count);
    int startGPIOI2C();
    int writeGPIOI2C(unsigned char byte);
    int stopGPIOI2C();
    // Queues one pin step: -1 leaves a line alone; `settle` in the driver's unit. 0 or the
    // driver's status.
    int pinStep(int scl, int sda, unsigned settle);
    struct PinStep;
    int queueSteps(const PinStep* steps, unsigned count);

    I_nkPCISwitcher* switcher = nullptr;
    C_rhxCPLDFactory cpldFactory;
    C_nkPCISwitcherFactory switchFactory;
    C_rhxMCUFactory mcuFactory;
    I_pciMap* pciMap = nullptr;
    int gpoRegister = 0x644;
};
