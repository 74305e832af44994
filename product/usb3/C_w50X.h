#pragma once

#include <vector>

#include "core/common/C_identityRecord.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "core/controllers/w5mcu/C_w5MCUFactory.h"
#include "product/usb3/A_w5Series.h"

// One USB3 card model as its part number identifies it.
struct W5_MODEL {
    const char* partNumber;  // the 8 characters after the 3-character prefix in flash
    QRT_PRODUCT_TYPE productType;
    const char* modelString;
    unsigned int usbPorts;
    bool twelvePortClass;  // served by C_w51X instead of C_w50X
};

// PCIe USB3 host cards with 4 or 8 ports (PCIe-W504, -W508, -W504P, -W508P).
//
// The card's PCIe switch (a PEX 8718, or a PEX 8608 on some boards) carries the USB controllers;
// the microcontroller on the switch's serial-EEPROM port switches the port power and keeps the
// part and serial numbers. The 8-port cards use microcontroller channel i for port i; the
// 4-port cards use the even channels (port i on channel 2i) and keep the odd ones off. Boards
// from PCB version 2 on have an input for an external power supply, read on switch pin 1
// (low = connected).
//
// The card takes no lock of its own: the microcontroller and the switch serialise their own
// transfers, and concurrent power calls on one card are the caller's to serialise.
class C_w50X : public A_w5Series {
  public:
    static const W5_MODEL kModels[];
    static const unsigned int kModelCount;

    C_w50X();
    ~C_w50X() override;

    int getInfo(char* text, unsigned size) override;
    int getType(QRT_PRODUCT_TYPE* type) override;
    int getSN(char* text, unsigned size) override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;
    int getCardID(int* id) override;

    int getPowerPortNums(unsigned* n) override;
    int setPowerPortEnable(int* enables, unsigned count) override;
    int getPowerPortEnable(int* enables, unsigned count) override;

    int getExPowSupplytNums(unsigned* n) override;
    int getExPowSupplyStates(int* states, unsigned count) override;
    int getExPowSupplyDescription(unsigned index, char* text, unsigned len) override;

    // Binds the card's switch (PEX 8718 tried first, then PEX 8608) and microcontroller and
    // accepts the board when its part number is a model of this class. -13 otherwise.
    int initial(void* pciMap) override;

    // 1 when the board's part number is a model of this class; sets the type, the port count
    // and the PCB version.
    virtual int checkValid();
    // The model string of the card, or "UnknowProduct".
    virtual int genProductString(char* text, int len);

    C_w50X(const C_w50X&) = delete;
    C_w50X& operator=(const C_w50X&) = delete;

  protected:
    // Finds the stored part number among the models of one class.
    int identifyModel(bool twelvePortClass);
    int copyModelString(bool twelvePortClass, char* text, int len) const;
    // Switches microcontroller channels for ports 0..min(ports, 8)-1 of `enables`.
    int switchMicrocontrollerPorts(const int* enables);
    // Reads the supply input on switch pin 1 into states[0].
    int readSupplyInput(int* states);
    int copySupplyDescription(char* text, unsigned len) const;
    // The part-number read whose answer is not used, once per device whichever class asks.
    void discardFirstPartNumber();
    // A flash text (part or serial number): min(length, 14) bytes, read from the board once.
    int readFlashText(bool serialNumber, char* text, unsigned int length);

    // Destroyed in reverse order: the candidate list first, then the microcontroller and the
    // switch objects with their factories.
    C_nkPCISwitcherFactory switchFactory;
    C_w5MCUFactory mcuFactory;
    std::vector<I_nkPCISwitcher*> switcherCandidates;

    int initialized = 0;
    unsigned int usbPortCount = 0;
    char chipName[16] = {};
    QRT_PRODUCT_TYPE productType = QRT_PRODUCT_UNKNOWN;
    I_nkPCISwitcher* pciSwitcher = nullptr;
    I_w5MCU* mcu = nullptr;
    unsigned int exSupplyCount = 0;
    int pcbVersion = -1;
    C_identityRecord* identity = nullptr;  // the PCI map's; null without one

  private:
    void readPcbVersion();
};
