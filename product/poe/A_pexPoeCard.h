#pragma once

#include "core/bus/I_nkPCISwitcher.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/eeprom/C_nkEEPROMFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
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

// Shared part of the PoE cards whose controllers hang off a PEX 8608 PCIe switch: the switch's
// serial port carries the CPLD, the CPLD's I2C master the microcontroller and the EEPROM.
// `Base` is A_poeSeries or A_poeProSeries.
//
// Board straps on the switch pins:
//   - 2, 3, 4, 5, 10: PCB revision bits 0 to 4;
//   - 6, 7, 8, 9: card identifier bits 0 to 3, active low;
//   - 11: reads 0 on the boards identified by straps;
//   - 12: on those boards, 1 for a two-port card.
// Bring-up binds the controllers and asks the model's checkValid() whether the board is one
// of its models.
template <class Base>
class A_pexPoeCard : public Base {
  public:
    // Bring-up: binds switch, CPLD, microcontroller and EEPROM to the probed device and
    // accepts the board when checkValid() recognises it (QRT_ERR_NOT_INITIALIZED otherwise).
    // On an accepted card it only re-reads the MAC table, where the series reads MACs.
    int initial(void* pciMap) override;
    // 1 when the board is one of the class's models; sets the product type and port count.
    virtual int checkValid() = 0;

    int getCardID(int* id) override;
    int getPCBVersion() override;
    int getExPowSupplyStates(int* states, unsigned n) override;
    int getExPowSupplyDescription(unsigned index, char* buf, unsigned len) override;
    // Adds the total budget (property 6) that the sensed power input allows.
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) override;
    int setPoEPowConsumCalcProps(int mode) override;
    int getPoEPowConsumCalcProps(int* mode) override;

  protected:
    // Pins of the board straps.
    static constexpr unsigned kPcbVersionPins[5] = {2, 3, 4, 5, 10};
    static constexpr unsigned kCardIdPins[4] = {6, 7, 8, 9};
    static constexpr unsigned kTiedLowPin = 11;
    static constexpr unsigned kTwoPortPin = 12;

    // `firmwareGate`: the power consumption calculation needs microcontroller firmware newer
    // than 1.13. `readsMacs`: accepted cards fill their MAC table.
    A_pexPoeCard(const RHX_POWER_INPUTS& inputs, bool firmwareGate, bool readsMacs);

    // Identification of the first boards: PCB revision 1, pin 11 low and the CPLD design
    // stamp; pin 12 tells the two-port model from the four-port one.
    int identifyByStraps(const char* cpldStamp, QRT_PRODUCT_TYPE twoPort,
                         QRT_PRODUCT_TYPE fourPort);
    // Identification by the part number the EEPROM holds, on boards of PCB revision 2 or more
    // when `minimumPcbVersion` is 2.
    int identifyByPartNumber(const RHX_PARTNUMBER_MODEL* models, unsigned count,
                             int minimumPcbVersion);

    C_rhxCPLDFactory cpldFactory;
    C_rhxMCUFactory mcuFactory;
    C_nkEEPROMFactory eepromFactory;
    I_nkPCISwitcher* switcher = nullptr;
    C_nkPCISwitcherFactory switchFactory;

  private:
    int bindControllers(void* pciMap);
    int readPowerSource(unsigned* source);
    // QRT_SUCCESS when the firmware offers the power consumption calculation.
    int checkFirmwareForPowerCalc();

    const RHX_POWER_INPUTS& inputs_;
    const bool firmwareGate_;
    const bool readsMacs_;
};

extern template class A_pexPoeCard<A_poeSeries>;
extern template class A_pexPoeCard<A_poeProSeries>;
