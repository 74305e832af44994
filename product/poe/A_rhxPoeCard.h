#pragma once

#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"
#include "core/controllers/rhxmcu/C_rhxMCUFactory.h"
#include "product/poe/A_poeProSeries.h"
#include "product/poe/A_poeSeries.h"

// A board part number (characters 3 to 10 of the EEPROM's part number) and the model it
// makes of the board.
struct RHX_PARTNUMBER_MODEL {
    const char* partNumber;
    QRT_PRODUCT_TYPE productType;
    unsigned ports;
};

// What a series of cards makes of the power input its microcontroller senses (the device
// state's `powerSource`, 0..3).
struct RHX_POWER_INPUTS {
    unsigned count;                   // external power inputs of the card
    const char* descriptions[2];      // input 0, input 1
    unsigned char statesBySource[4];  // bit i: input i is connected
    float budgetBySource[4];          // total PoE budget in watts; 0: no budget for that source
};

// Shared part of the PoE cards whose CPLD carries the card microcontroller and the identity
// EEPROM on its I2C master, whichever chip the CPLD itself hangs off (a PCIe switch's serial
// port or an Ethernet controller's I2C master). `Base` is A_poeSeries or A_poeProSeries.
//
// Bring-up binds the controllers (bindControllers, the card's own wiring) and asks the model's
// checkValid() whether the board is one of its models. The microcontroller's power input
// sensing gives the external power input states and the total PoE budget through the card's
// RHX_POWER_INPUTS table.
template <class Base>
class A_rhxPoeCard : public Base {
  public:
    // Bring-up: binds the controllers to the probed device and accepts the board when
    // checkValid() recognises it (QRT_ERR_NOT_INITIALIZED otherwise). On an accepted card it
    // only re-reads the MAC table, where the series reads MACs.
    int initial(void* pciMap) override;
    // 1 when the board is one of the class's models; sets the product type and port count.
    virtual int checkValid() = 0;

    int getExPowSupplyStates(int* states, unsigned n) override;
    int getExPowSupplyDescription(unsigned index, char* buf, unsigned len) override;
    // Adds the total budget (property 6) that the sensed power input allows.
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) override;
    int setPoEPowConsumCalcProps(int mode) override;
    int getPoEPowConsumCalcProps(int* mode) override;

  protected:
    // `firmwareGate`: the power consumption calculation needs microcontroller firmware newer
    // than 1.13. `readsMacs`: accepted cards fill their MAC table.
    A_rhxPoeCard(const RHX_POWER_INPUTS& inputs, bool firmwareGate, bool readsMacs);

    // Creates and binds the card's controllers to the probed device, under the card lock:
    // 0, or the status of the first that failed (a device of another kind stops there).
    virtual int bindControllers(void* pciMap) = 0;
    // Identification by the part number the EEPROM holds; with a `minimumPcbVersion` above 0
    // only on boards of that PCB revision or more.
    int identifyByPartNumber(const RHX_PARTNUMBER_MODEL* models, unsigned count,
                             int minimumPcbVersion = 0);

    C_rhxCPLDFactory cpldFactory;
    C_rhxMCUFactory mcuFactory;
    C_nkEEPROMFactory eepromFactory;

  private:
    int readPowerSource(unsigned* source);
    // QRT_SUCCESS when the firmware offers the power consumption calculation.
    int checkFirmwareForPowerCalc();

    const RHX_POWER_INPUTS& inputs_;
    const bool firmwareGate_;
    const bool readsMacs_;
};

extern template class A_rhxPoeCard<A_poeSeries>;
extern template class A_rhxPoeCard<A_poeProSeries>;
