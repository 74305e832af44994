#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "I_poeSeries.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_ObjectLock.h"
#include "core/common/C_TransactionLock.h"
#include "core/common/C_identityRecord.h"
#include "core/controllers/cpld/I_rhxCPLD.h"
#include "core/controllers/eeprom/I_nkEEPROM.h"
#include "core/controllers/rhxmcu/I_rhxMCU.h"

// The model string of a product type.
struct POE_MODEL_NAME {
    QRT_PRODUCT_TYPE type;
    const char* text;
};

// Base of every PCIe PoE frame-grabber card.
//
// A card carries a CPLD, a card microcontroller and an identity EEPROM. The CPLD is also the
// I2C master through which the microcontroller (0x2D) and the EEPROM (0x50) are reached: an
// EEPROM read points the CPLD's master at the EEPROM and back at the microcontroller, so every
// exchange with either of them runs under the card lock, and microcontroller traffic never
// lands between those two address changes. The microcontroller supervises the power-sourcing
// chip (PSE) and relays its registers.
//
// The base implements the PoE component, the identity text and the EEPROM-backed serial
// number, part number and port MAC addresses. What it cannot know answers
// QRT_ERR_NOT_SUPPORTED: bring-up, card identifier, PCB version, external power inputs,
// trigger over Ethernet and fans. The model classes bind the controllers, identify the board
// and set `initialized` once they accept it; until then every card operation answers
// QRT_ERR_NOT_INITIALIZED.
//
// Identity EEPROM layout: port MAC addresses at 0x00, 0x08, 0x10 and 0x18 (6 bytes each), the
// serial number text at 0x40 and the part number text at 0x60 (32-byte fields); characters 3
// to 10 of the part number are the board part number ("27640-0A").
class A_poeSeries : public I_poeSeries {
  public:
    static constexpr unsigned long kMacField = 0x00;  // port i at kMacField + 8 * i
    static constexpr unsigned kMacSlots = 4;
    static constexpr unsigned kMacBytes = 6;
    static constexpr unsigned long kSerialNumberField = 0x40;
    static constexpr unsigned long kPartNumberField = 0x60;
    static constexpr unsigned kTextField = 32;
    static constexpr unsigned kToEFrameBytes = 64;
    static constexpr unsigned long kMcuSlave = 0x2D;
    static constexpr unsigned long kEepromSlave = 0x50;

    A_poeSeries();
    ~A_poeSeries() override;
    A_poeSeries(const A_poeSeries&) = delete;
    A_poeSeries& operator=(const A_poeSeries&) = delete;

    // I_nkProduct, I_nkVisionCardProduct
    int getInfo(char* buf, unsigned len) override;
    int getType(QRT_PRODUCT_TYPE* type) override;
    int getSN(char* buf, unsigned len) override;
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;
    int getCardID(int*) override { return QRT_ERR_NOT_SUPPORTED; }

    int initial(void*) override { return QRT_ERR_NOT_SUPPORTED; }

    // I_exPowerSupply
    int getExPowSupplytNums(unsigned* n) override;
    int getExPowSupplyStates(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getExPowSupplyDescription(unsigned, char*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    // I_poe
    int getPoEPortNums(unsigned* n) override;
    int setPoEPortEnable(int* enables, unsigned n) override;
    int getPoEPortEnable(int* enables, unsigned n) override;
    int setPoEPowConsumCalcProps(int mode) override;
    int getPoEPowConsumCalcProps(int* mode) override;
    int setPoEProtectTempRange(int protect, int recover) override;
    int getPoEProtectTempRange(int* protect, int* recover) override;
    int getPoEProperty(QRT_POEPROPERTY_TYPE p, float* value) override;
    int getPoEPortProperty(unsigned port, QRT_POEPORTPROPERTY_TYPE p, float* value) override;

    // I_toe: not on this card.
    int getToEPortNums(unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int sendToEActionCommand(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int setToEActionCommand(unsigned, unsigned long, unsigned long, unsigned long) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int getToEActionCommand(unsigned, unsigned long*, unsigned long*, unsigned long*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int setToETriggerSource(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToETriggerSource(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setToETriggerEnable(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToETriggerEnable(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setToEOneTriggerAllMode(int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToEOneTriggerAllMode(int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setToEExTriggerDebounce(unsigned long) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToEExTriggerDebounce(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToEExTriggerDebounceUnit(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getToETriggerCount(unsigned, unsigned*, unsigned*) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int resetToETriggerCount() override { return QRT_ERR_NOT_SUPPORTED; }

    // I_fan: the count only.
    int getFanNums(unsigned* n) override;
    int getFanSpeed(unsigned, unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getFanPWM(unsigned, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setFanPWM(unsigned, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSmartFanEnable(unsigned, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setSmartFanEnable(unsigned, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getFanDescription(unsigned, char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }

    // The PCB revision (0 or more), or -1 when the card cannot tell.
    virtual int getPCBVersion();
    virtual int getPN(char* buf, unsigned len);
    // The model string of `productType`, cut to len.
    virtual int genProductString(char* buf, int len);
    // Hands out the card's 6-byte MAC buffer of a port (owned by the card).
    virtual int getMAC(unsigned port, unsigned char** mac);
    // Fills the MAC table from the EEPROM's slots; called once the board is accepted.
    virtual int updateMAC();
    // Reads EEPROM bytes under the card lock, pointing the CPLD's I2C master at the EEPROM and
    // back at the microcontroller.
    virtual int getEEPROM(unsigned long offset, unsigned char* buf, unsigned len);

    // Per-port PSE readings through the microcontroller's register relay.
    int getPoEPSECurrent(unsigned port, float* amperes);
    int getPoEPSEVolt(unsigned port, float* volts);
    int getPoELastState(unsigned port, unsigned* state);
    int getPowerClass(unsigned port, unsigned* code);
    int getPowerGood(unsigned port, unsigned* good);
    int getPhyMACFromEEPROM(unsigned port, unsigned char* mac);

  protected:
    // The lock that keeps other processes off the card's microcontroller: the access lock of
    // the bus the CPLD sits on; null while there is none.
    virtual A_deviceAccessLock* cardAccessLock() { return deviceAccessLockOf(cpld); }
    // Runs `call` under the card lock on an accepted card: QRT_ERR_BUSY when the lock is not
    // obtained, QRT_ERR_NOT_INITIALIZED before acceptance. The card's access lock is held too,
    // so that the operation's exchanges and read-modify-writes are one transaction against
    // other processes as well.
    template <class Call>
    int onAcceptedCard(Call&& call) {
        C_TransactionLock guard(lock, cardAccessLock());
        if (!guard.held()) return guard.status();
        if (!initialized) return QRT_ERR_NOT_INITIALIZED;
        return call();
    }
    // The same for a microcontroller exchange; QRT_ERR_NOT_SUPPORTED without a microcontroller.
    template <class Call>
    int withMcu(Call&& call) {
        return onAcceptedCard(
            [&]() -> int { return mcu == nullptr ? QRT_ERR_NOT_SUPPORTED : call(); });
    }
    // Reads a text field of the EEPROM into buf: at most len - 1 bytes of the field, always
    // terminated.
    int getEEPROMText(unsigned long field, char* buf, unsigned len);
    // EEPROM bytes and firmware versions do not change while the card is in use: each is read
    // from the board once per device and then served from its identity record (see
    // C_identityRecord), for every class that probes the card.
    int readIdentityEEPROM(unsigned long offset, unsigned char* buf, unsigned len);
    int readCpldVersion(char* text, unsigned size);
    int readMcuVersion(char* text, unsigned size);
    // The number a caller passed as an enumeration. A C caller may pass any 32-bit value, which
    // C++ must not load as the enumeration itself; the bits are read as they are.
    template <class Enum>
    static int enumValue(const Enum& value) {
        static_assert(sizeof(Enum) == sizeof(int), "32-bit enumerations");
        int number;
        std::memcpy(&number, &value, sizeof number);
        return number;
    }
    // Copies `text` into buf the way the model strings and descriptions are handed out.
    static int copyText(const char* text, char* buf, unsigned len);
    // A model string by product type; "UnknownProduct" for a type not in the table.
    template <unsigned N>
    int copyModelName(const POE_MODEL_NAME (&names)[N], char* buf, int len) const {
        const char* text = "UnknownProduct";
        for (const POE_MODEL_NAME& name : names)
            if (name.type == productType) text = name.text;
        return copyText(text, buf, len > 0 ? static_cast<unsigned>(len) : 0);
    }
    // Hands out a component list: written only when the caller has room for all of it.
    template <unsigned N>
    static unsigned copyFeatures(const QRT_FEATURE_TYPE (&features)[N], QRT_FEATURE_TYPE* list,
                                 unsigned capacity) {
        if (list != nullptr && capacity >= N)
            for (unsigned i = 0; i < N; ++i) list[i] = features[i];
        return N;
    }

    int initialized = 0;
    QRT_PRODUCT_TYPE productType = QRT_PRODUCT_UNKNOWN;
    I_rhxCPLD* cpld = nullptr;
    I_rhxMCU* mcu = nullptr;
    I_nkEEPROM* eeprom = nullptr;
    C_identityRecord* identity = nullptr;  // the PCI map's, set by bring-up; null without one
    // False on a card accepted because no microcontroller answers: its version is not asked.
    bool mcuAnswers = true;
    C_ObjectSemaphore lock;
    unsigned poePortCount = 0;
    unsigned exPowSupplyCount = 0;
    unsigned fanCount = 0;
    unsigned long eepromSlave = kEepromSlave;
    unsigned long mcuSlave = kMcuSlave;
    // The trigger-over-Ethernet frame; the Pro series loads and edits it.
    unsigned char toeFrame[kToEFrameBytes] = {};
    unsigned char smbusHeader[3] = {0x49, 0xC4, 0x3E};
    std::vector<std::unique_ptr<unsigned char[]>> macTable;

  private:
    int readPseWord(unsigned char reg, unsigned* word);
    int readPseByte(unsigned char reg, unsigned char* value);
    int writeProtectionPair(int protect, int recover, int current);
};
