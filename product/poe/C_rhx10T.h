#pragma once

#include "core/bus/I_nkEthCtrl.h"
#include "core/controllers/ethctrl/C_nkEthCtrlFactory.h"
#include "product/poe/A_rhxPoeCard.h"

// PCIe-RHX10T, the two-port 10-gigabit PoE card with trigger over Ethernet and one external
// power input. It has no PCIe switch: the card is found through its Intel X550, whose I2C
// master carries the CPLD (0x42); the microcontroller and the identity EEPROM sit behind the
// CPLD's own I2C master as on the other cards. The CPLD reports the PCB revision (register
// 0x0C, bits 2..0) and the card identifier (register 0x7E, byte 0). The X550 takes the trigger
// frames at SMBus address 0x62.
//
// The card numbers its two ports the other way round from the hardware: public port 0 is
// hardware port 1 and the other way round. Every per-port call and array is translated; the
// caller's arrays are never changed to do so. The MAC addresses follow the public numbering:
// public port p has the EEPROM's MAC slot p.
class C_rhx10T : public A_rhxPoeCard<A_poeProSeries> {
  public:
    static constexpr unsigned long kCpldSlave = 0x42;
    static constexpr unsigned long kPcbVersionRegister = 0x0C;
    static constexpr unsigned long kCardIdRegister = 0x7E;
    static const RHX_POWER_INPUTS kPowerInputs;
    static const RHX_PARTNUMBER_MODEL kModel;

    C_rhx10T();

    // The board part number "53105-00".
    int checkValid() override;
    int getPCBVersion() override;
    int getCardID(int* id) override;
    int setPoEPortEnable(int* enables, unsigned n) override;
    int getPoEPortEnable(int* enables, unsigned n) override;
    int getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) override;
    int getMAC(unsigned port, unsigned char** mac) override;
    int sendToEActionCommand(int port) override;
    int setToEActionCommand(unsigned port, unsigned long deviceKey, unsigned long groupKey,
                            unsigned long groupMask) override;
    int getToEActionCommand(unsigned port, unsigned long* deviceKey, unsigned long* groupKey,
                            unsigned long* groupMask) override;
    int getToETriggerCount(unsigned port, unsigned* first, unsigned* second) override;

    // The hardware port of a public port (and the other way round).
    unsigned hardwarePort(unsigned port) const;

  protected:
    // Binds the X550, the CPLD on its I2C master, the microcontroller and the EEPROM.
    int bindControllers(void* pciMap) override;

  private:
    I_nkEthCtrl* ethCtrl = nullptr;
    unsigned long cpldSlave = kCpldSlave;
    C_nkEthCtrlFactory ethCtrlFactory;
};
