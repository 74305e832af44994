#pragma once

#include <atomic>

#include "product/poe/A_poeSeries.h"

// Base of the Pro PoE cards: trigger over Ethernet (ToE).
//
// The card's CPLD keeps one complete Ethernet frame per camera port in its packet memory
// (DPRAM) and pushes it over SMBus into the port's Ethernet controller when its trigger logic
// fires (trigger enable, source, activation edges, one-trigger-all, debounce: the ToE control
// word) or when the host asks. The frame is a GigE Vision action command (GVCP ACTION_CMD, a
// UDP broadcast to port 3956 that addresses cameras by device key, group key and group mask):
//
//   offset  size  field                          value
//        0     6  Ethernet destination           ff:ff:ff:ff:ff:ff
//        6     6  Ethernet source                the port's MAC
//       12     2  EtherType                      0x0800 (IPv4)
//       14    20  IPv4 header                    version 4, length 48, id 1, TTL 128, UDP,
//                                                checksum (RFC 791), source = the address of
//                                                the port's host interface, destination =
//                                                that address's /24 broadcast
//       34     8  UDP header                     65535 -> 3956, length 28, checksum (RFC 768)
//       42     8  GVCP header                    key 0x42, flags 0, ACTION_CMD (0x0100),
//                                                length 12, request id 1
//       50    12  device key, group key, mask    big-endian 32-bit words
//       62     2  padding                        ff ff
//
// One template per card: writing a port's action command edits it for that port and copies
// all 64 bytes into the port's DPRAM, under the card lock. The SMBus header that tells the
// CPLD where to push the frame is written before the first frame.
class A_poeProSeries : public A_poeSeries {
  public:
    // Frame offsets.
    static constexpr unsigned kEthSource = 6;
    static constexpr unsigned kIpHeader = 14;
    static constexpr unsigned kIpProtocol = 23;
    static constexpr unsigned kIpChecksum = 24;
    static constexpr unsigned kIpSource = 26;
    static constexpr unsigned kIpDestination = 30;
    static constexpr unsigned kIpHeaderEnd = 34;
    static constexpr unsigned kUdpHeader = 34;
    static constexpr unsigned kUdpLength = 38;
    static constexpr unsigned kUdpChecksum = 40;
    static constexpr unsigned kUdpPayload = 42;
    static constexpr unsigned kDeviceKey = 50;
    static constexpr unsigned kGroupKey = 54;
    static constexpr unsigned kGroupMask = 58;
    static constexpr unsigned kFrameBytes = 62;  // without the padding
    static const unsigned char kActionCommandTemplate[kToEFrameBytes];

    A_poeProSeries();

    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;
    int initial(void*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getExPowSupplyStates(int*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getExPowSupplyDescription(unsigned, char*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int genProductString(char* buf, int len) override;

    int getToEPortNums(unsigned* n) override;
    // Fires the stored frame of one port, or of every port for -1.
    int sendToEActionCommand(int port) override;
    int setToEActionCommand(unsigned port, unsigned long deviceKey, unsigned long groupKey,
                            unsigned long groupMask) override;
    int getToEActionCommand(unsigned port, unsigned long* deviceKey, unsigned long* groupKey,
                            unsigned long* groupMask) override;
    int setToETriggerSource(int source) override;
    int getToETriggerSource(int* source) override;
    int setToETriggerEnable(int enable) override;
    int getToETriggerEnable(int* enable) override;
    int setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE mode) override;
    int getToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE* mode) override;
    int setToEOneTriggerAllMode(int mode) override;
    int getToEOneTriggerAllMode(int* mode) override;
    int setToEExTriggerDebounce(unsigned long t) override;
    int getToEExTriggerDebounce(unsigned long* t) override;
    int getToEExTriggerDebounceUnit(unsigned long* unit) override;
    int getToETriggerCount(unsigned port, unsigned* first, unsigned* second) override;
    int resetToETriggerCount() override;

    // Writes the SMBus header to the CPLD once per card.
    int initialToE();

    // The RFC 791 header checksum and the RFC 768 checksum of an IPv4/UDP frame laid out as
    // above, as they are stored.
    static unsigned short ipv4HeaderChecksum(const unsigned char* frame);
    static unsigned short udpChecksum(const unsigned char* frame);

  protected:
    // The ToE control word, field by field.
    struct ToEControl {
        int triggerEnable = 0;
        int edgeSelectA = 0;
        int edgeSelectB = 0;
        int oneTriggerAll = 0;
        int dpramReadBack = 0;
        int triggerSource = 0;
        unsigned long exTriggerDebounce = 0;
    };
    // Runs `call` on an accepted card with a CPLD, under the card lock.
    template <class Call>
    int withCpld(Call&& call) {
        return onAcceptedCard(
            [&]() -> int { return cpld == nullptr ? QRT_ERR_NOT_SUPPORTED : call(); });
    }
    int readControl(ToEControl* control);
    int writeControl(const ToEControl& control);
    // Sets one flag of the control word to 0 or 1, writing only when it changes.
    int setControlFlag(int ToEControl::*flag, int value);
    int getControlFlag(int ToEControl::*flag, int* value);
    // Stores the frame for `port` in its DPRAM, the template already edited.
    int storeFrame(unsigned port);

    // Set once the CPLD holds the SMBus header; read without the card lock.
    std::atomic<int> toeHeaderSet{0};
};
