#include "product/poe/A_poeProSeries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/common/I_CommonDef.h"

// clang-format off
const unsigned char A_poeProSeries::kActionCommandTemplate[kToEFrameBytes] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // source: the port's MAC
    0x08, 0x00,                          // IPv4
    0x45, 0x00, 0x00, 0x30,              // version 4, 20-byte header; total length 48
    0x00, 0x01, 0x00, 0x00,              // identification 1; not fragmented
    0x80, 0x11, 0x00, 0x00,              // TTL 128, UDP; header checksum
    192, 168, 0, 1,                      // source address
    192, 168, 0, 255,                    // destination: the source's /24 broadcast
    0xFF, 0xFF, 0x0F, 0x74,              // UDP 65535 -> 3956 (GVCP)
    0x00, 0x1C, 0x00, 0x00,              // UDP length 28; checksum
    0x42, 0x00, 0x01, 0x00,              // GVCP key, no acknowledge, ACTION_CMD
    0x00, 0x0C, 0x00, 0x01,              // length 12, request id 1
    0x00, 0x00, 0x00, 0x00,              // device key
    0x00, 0x00, 0x00, 0x00,              // group key
    0x00, 0x00, 0x00, 0x00,              // group mask
    0xFF, 0xFF,                          // padding
};
// clang-format on

namespace {

constexpr unsigned kIpAddressText = 32;
constexpr unsigned char kDpramCloseAddress = 0xFF;
constexpr unsigned char kDpramCloseValue = 0xFF;

constexpr POE_MODEL_NAME kModelNames[] = {
    {QRT_PRODUCT_RHX52PRO, "PCIe-RHX52PRO"},         {QRT_PRODUCT_RHX54PRO, "PCIe-RHX54PRO"},
    {QRT_PRODUCT_RHXGPU_P1000, "PCIe-RHXGPU-P1000"}, {QRT_PRODUCT_RHX10T, "PCIe-RHX10T"},
    {QRT_PRODUCT_RHX52PPRO, "PCIe-RHX52PPRO"},       {QRT_PRODUCT_RHX54PPRO, "PCIe-RHX54PPRO"},
    {QRT_PRODUCT_RHX54IPRO, "PCIe-RHX54IPRO"},
};

unsigned word16(const unsigned char* frame, unsigned offset) {
    return (unsigned{frame[offset]} << 8) | frame[offset + 1];
}

void putWord16(unsigned char* frame, unsigned offset, unsigned value) {
    frame[offset] = static_cast<unsigned char>(value >> 8);
    frame[offset + 1] = static_cast<unsigned char>(value);
}

void putWord32(unsigned char* frame, unsigned offset, unsigned long value) {
    for (unsigned i = 0; i < 4; ++i)
        frame[offset + i] = static_cast<unsigned char>(value >> (8 * (3 - i)));
}

unsigned long word32(const unsigned char* bytes) {
    unsigned long value = 0;
    for (unsigned i = 0; i < 4; ++i) value = (value << 8) | bytes[i];
    return value;
}

// One's-complement sum of big-endian 16-bit words, carries folded back until none remain.
unsigned fold(unsigned long sum) {
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<unsigned>(sum);
}

unsigned long sumWords(const unsigned char* frame, unsigned from, unsigned to, unsigned skip) {
    unsigned long sum = 0;
    for (unsigned offset = from; offset + 1 < to; offset += 2)
        if (offset != skip) sum += word16(frame, offset);
    return sum;
}

}  // namespace

A_poeProSeries::A_poeProSeries() {
    std::memcpy(toeFrame, kActionCommandTemplate, sizeof toeFrame);
}

unsigned A_poeProSeries::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    static const QRT_FEATURE_TYPE kFeatures[] = {QRT_FEATURE_POE, QRT_FEATURE_TOE,
                                                 QRT_FEATURE_EX_POWER_SUPPLY};
    return copyFeatures(kFeatures, list, capacity);
}

void* A_poeProSeries::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    if (feature == QRT_FEATURE_TOE) return static_cast<I_toe*>(this);
    return A_poeSeries::getFeatureHandle(feature);
}

int A_poeProSeries::genProductString(char* buf, int len) {
    return copyModelName(kModelNames, buf, len);
}

// ---- checksums ------------------------------------------------------------------------------

unsigned short A_poeProSeries::ipv4HeaderChecksum(const unsigned char* frame) {
    return static_cast<unsigned short>(
        ~fold(sumWords(frame, kIpHeader, kIpHeaderEnd, kIpChecksum)));
}

unsigned short A_poeProSeries::udpChecksum(const unsigned char* frame) {
    const unsigned udpLength = word16(frame, kUdpLength);
    const unsigned end = std::min(kUdpHeader + udpLength, kFrameBytes);
    // Pseudo-header: source and destination address, protocol, UDP length.
    unsigned long sum = sumWords(frame, kIpSource, kIpHeaderEnd, kIpHeaderEnd);
    sum += frame[kIpProtocol];
    sum += udpLength;
    sum += sumWords(frame, kUdpHeader, end, kUdpChecksum);
    const unsigned checksum = ~fold(sum) & 0xFFFF;
    // A computed zero goes out as all ones: zero in the field means "no checksum".
    return static_cast<unsigned short>(checksum == 0 ? 0xFFFF : checksum);
}

// ---- control word ---------------------------------------------------------------------------

int A_poeProSeries::readControl(ToEControl* c) {
    return cpld->getToEControlConf(&c->triggerEnable, &c->edgeSelectA, &c->edgeSelectB,
                                   &c->oneTriggerAll, &c->dpramReadBack, &c->triggerSource,
                                   &c->exTriggerDebounce);
}

int A_poeProSeries::writeControl(const ToEControl& c) {
    return cpld->setToEControlConf(c.triggerEnable, c.edgeSelectA, c.edgeSelectB, c.oneTriggerAll,
                                   c.dpramReadBack, c.triggerSource, c.exTriggerDebounce);
}

int A_poeProSeries::setControlFlag(int ToEControl::*flag, int value) {
    return withCpld([&]() -> int {
        ToEControl control;
        const int status = readControl(&control);
        if (status != QRT_SUCCESS) return status;
        const int wanted = value != 0 ? 1 : 0;
        if ((control.*flag != 0) == (wanted != 0)) return QRT_SUCCESS;
        control.*flag = wanted;
        return writeControl(control);
    });
}

int A_poeProSeries::getControlFlag(int ToEControl::*flag, int* value) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    return withCpld([&]() -> int {
        ToEControl control;
        const int status = readControl(&control);
        if (status == QRT_SUCCESS) *value = control.*flag != 0 ? 1 : 0;
        return status;
    });
}

int A_poeProSeries::setToETriggerSource(int source) {
    return setControlFlag(&ToEControl::triggerSource, source);
}
int A_poeProSeries::getToETriggerSource(int* source) {
    return getControlFlag(&ToEControl::triggerSource, source);
}
int A_poeProSeries::setToETriggerEnable(int enable) {
    return setControlFlag(&ToEControl::triggerEnable, enable);
}
int A_poeProSeries::getToETriggerEnable(int* enable) {
    return getControlFlag(&ToEControl::triggerEnable, enable);
}
int A_poeProSeries::setToEOneTriggerAllMode(int mode) {
    return setControlFlag(&ToEControl::oneTriggerAll, mode);
}
int A_poeProSeries::getToEOneTriggerAllMode(int* mode) {
    return getControlFlag(&ToEControl::oneTriggerAll, mode);
}

// Activation modes as the CPLD's two edge flags (first, second): 0 -> (0, 1), 1 -> (1, 0),
// 2 -> (1, 1).
int A_poeProSeries::setToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE mode) {
    int first, second;
    switch (enumValue(mode)) {
        case QRT_EDGE_TRIGGER_EDGE0:
            first = 0, second = 1;
            break;
        case QRT_EDGE_TRIGGER_EDGE1:
            first = 1, second = 0;
            break;
        case QRT_EDGE_TRIGGER_BOTH:
            first = 1, second = 1;
            break;
        default:
            return QRT_ERR_INVALID_PARAM;
    }
    return withCpld([&]() -> int {
        ToEControl control;
        const int status = readControl(&control);
        if (status != QRT_SUCCESS) return status;
        if ((control.edgeSelectA != 0) == (first != 0) &&
            (control.edgeSelectB != 0) == (second != 0))
            return QRT_SUCCESS;
        control.edgeSelectA = first;
        control.edgeSelectB = second;
        return writeControl(control);
    });
}

int A_poeProSeries::getToEEdgeTriggerMode(QRT_EDGETRIGGER_TYPE* mode) {
    if (mode == nullptr) return QRT_ERR_INVALID_PARAM;
    return withCpld([&]() -> int {
        int first = 0, second = 0;
        int status =
            cpld->getToEControlConf(nullptr, &first, &second, nullptr, nullptr, nullptr, nullptr);
        if (status != QRT_SUCCESS) return status;
        if (first && second)
            *mode = QRT_EDGE_TRIGGER_BOTH;
        else if (first)
            *mode = QRT_EDGE_TRIGGER_EDGE1;
        else if (second)
            *mode = QRT_EDGE_TRIGGER_EDGE0;
        else
            return QRT_ERR_FAILED;  // the trigger fires on no edge at all
        return QRT_SUCCESS;
    });
}

int A_poeProSeries::setToEExTriggerDebounce(unsigned long t) {
    return withCpld([&]() -> int {
        ToEControl control;
        const int status = readControl(&control);
        if (status != QRT_SUCCESS || control.exTriggerDebounce == t) return status;
        control.exTriggerDebounce = t;  // the CPLD refuses more than 24 bits
        return writeControl(control);
    });
}

int A_poeProSeries::getToEExTriggerDebounce(unsigned long* t) {
    if (t == nullptr) return QRT_ERR_INVALID_PARAM;
    return withCpld([&]() -> int {
        return cpld->getToEControlConf(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, t);
    });
}

int A_poeProSeries::getToEExTriggerDebounceUnit(unsigned long* unit) {
    if (unit == nullptr) return QRT_ERR_INVALID_PARAM;
    // A constant of the CPLD: the card itself is not asked, so its access lock is not taken.
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    if (cpld == nullptr) return QRT_ERR_NOT_SUPPORTED;
    return cpld->getToEExTriggerDebounceUnit(unit);
}

// ---- counters and sending -------------------------------------------------------------------

int A_poeProSeries::getToEPortNums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = poePortCount;
    return QRT_SUCCESS;
}

int A_poeProSeries::getToETriggerCount(unsigned port, unsigned* first, unsigned* second) {
    if (port >= poePortCount || first == nullptr || second == nullptr) return QRT_ERR_INVALID_PARAM;
    return withCpld([&]() -> int { return cpld->getToECounter(port, first, second); });
}

int A_poeProSeries::resetToETriggerCount() {
    return withCpld([&]() -> int { return cpld->resetToECounter(); });
}

int A_poeProSeries::sendToEActionCommand(int port) {
    if (port >= static_cast<int>(poePortCount)) return QRT_ERR_INVALID_PARAM;
    // -1 fires every port at once; the CPLD refuses other negative ports.
    return withCpld([&]() -> int { return cpld->setSMBusStart(port); });
}

// ---- action commands ------------------------------------------------------------------------

int A_poeProSeries::initialToE() {
    if (toeHeaderSet) return QRT_SUCCESS;
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (cpld == nullptr) return QRT_ERR_NOT_INITIALIZED;
    // Write to the port's Ethernet controller (SMBus address, command), 62 bytes: the frame.
    const int status = cpld->setSMBusHeader(0, smbusHeader[0], smbusHeader[1], smbusHeader[2]);
    if (status == QRT_SUCCESS) toeHeaderSet = 1;
    return status;
}

int A_poeProSeries::setToEActionCommand(unsigned port, unsigned long deviceKey,
                                        unsigned long groupKey, unsigned long groupMask) {
    if (port >= poePortCount) return QRT_ERR_INVALID_PARAM;
    int status = initialToE();
    if (status != QRT_SUCCESS) return status;
    return withCpld([&]() -> int {
        // The host writes the DPRAM with the read-back flag clear.
        ToEControl control;
        int result = readControl(&control);
        if (result != QRT_SUCCESS) return result;
        if (control.dpramReadBack) {
            control.dpramReadBack = 0;
            result = writeControl(control);
            if (result != QRT_SUCCESS) return result;
        }
        if (port >= macTable.size()) return QRT_ERR_INVALID_PARAM;
        const unsigned char* mac = macTable[port].get();
        char ipText[kIpAddressText] = {};
        if (!I_CommonDef::getLocalAdpaterIPByMAC(ipText, sizeof ipText, mac) ||
            std::strcmp(ipText, "0.0.0.0") == 0)
            return QRT_ERR_FAILED;
        unsigned address[4] = {};
        if (std::sscanf(ipText, "%u.%u.%u.%u", &address[0], &address[1], &address[2],
                        &address[3]) != 4)
            return QRT_ERR_FAILED;

        putWord32(toeFrame, kDeviceKey, deviceKey & 0xFFFFFFFFul);
        putWord32(toeFrame, kGroupKey, groupKey & 0xFFFFFFFFul);
        putWord32(toeFrame, kGroupMask, groupMask & 0xFFFFFFFFul);
        std::memcpy(toeFrame + kEthSource, mac, kMacBytes);
        for (unsigned i = 0; i < 4; ++i) {
            toeFrame[kIpSource + i] = static_cast<unsigned char>(address[i]);
            // The directed broadcast of the interface's /24 network.
            if (i < 3) toeFrame[kIpDestination + i] = static_cast<unsigned char>(address[i]);
        }
        putWord16(toeFrame, kIpChecksum, ipv4HeaderChecksum(toeFrame));
        putWord16(toeFrame, kUdpChecksum, udpChecksum(toeFrame));
        return storeFrame(port);
    });
}

int A_poeProSeries::storeFrame(unsigned port) {
    for (unsigned address = 0; address < kToEFrameBytes; ++address) {
        const int status =
            cpld->setDPRAMData(port, toeFrame[address], static_cast<unsigned char>(address));
        if (status != QRT_SUCCESS) return status;
    }
    // Two closing writes end the transfer into the packet memory.
    cpld->setDPRAMData(port, kDpramCloseValue, 0x00);
    cpld->setDPRAMData(port, 0x00, kDpramCloseAddress);
    return QRT_SUCCESS;
}

int A_poeProSeries::getToEActionCommand(unsigned port, unsigned long* deviceKey,
                                        unsigned long* groupKey, unsigned long* groupMask) {
    if (port >= poePortCount || deviceKey == nullptr || groupKey == nullptr || groupMask == nullptr)
        return QRT_ERR_INVALID_PARAM;
    return withCpld([&]() -> int {
        // The DPRAM answers reads only with the read-back flag set.
        ToEControl control;
        int status = readControl(&control);
        if (status != QRT_SUCCESS) return status;
        if (!control.dpramReadBack) {
            control.dpramReadBack = 1;
            status = writeControl(control);
            if (status != QRT_SUCCESS) return status;
        }
        unsigned char keys[kFrameBytes - kDeviceKey] = {};
        for (unsigned i = 0; i < sizeof keys; ++i) {
            status = cpld->getDPRAMData(port, &keys[i], static_cast<unsigned char>(kDeviceKey + i));
            if (status != QRT_SUCCESS) return status;
        }
        *deviceKey = word32(keys);
        *groupKey = word32(keys + (kGroupKey - kDeviceKey));
        *groupMask = word32(keys + (kGroupMask - kDeviceKey));
        return QRT_SUCCESS;
    });
}
