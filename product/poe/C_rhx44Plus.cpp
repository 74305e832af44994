#include "product/poe/C_rhx44Plus.h"

#include "core/common/C_TransactionLock.h"
#include "core/driver/C_commandCacheLock.h"
#include "core/driver/I_pciMap.h"
#include "product/poe/C_pexBoardStraps.h"

namespace {

constexpr unsigned kPorts = 4;
constexpr unsigned kPowerInputs = 1;
constexpr unsigned kClockPin = 0;
constexpr unsigned kDataPin = 1;
constexpr unsigned kSettle = 10;  // after a clock edge and at the start
constexpr unsigned kNoSettle = 0;
constexpr unsigned kVersionText = 16;

// The power chip's commands: register, selector, value (low byte), high byte.
constexpr unsigned char kPortPower = 0x30;
constexpr unsigned char kDcDetection = 0xCA;
constexpr unsigned char kAcDetection = 0x95;
constexpr unsigned char kAllPortsOff = 0x0F;  // detection: a set bit turns a port's off

unsigned char detectionMask(int on) {
    return on != 0 ? 0x00 : kAllPortsOff;
}

void putWord(unsigned char* bytes, unsigned value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

C_rhx44Plus::C_rhx44Plus() {
    poePortCount = kPorts;
    exPowSupplyCount = kPowerInputs;
}

// ---- bring-up -------------------------------------------------------------------------------

int C_rhx44Plus::bindControllers(void* map) {
    if (switcher == nullptr)
        switcher = switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    if (cpld == nullptr) cpld = cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
    if (mcu == nullptr) mcu = mcuFactory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
    if (switcher == nullptr || cpld == nullptr || mcu == nullptr) return QRT_ERR_NOT_INITIALIZED;
    identity = identityRecordOf(map);
    // Any device that is not a PEX 8608 stops here.
    int status = switcher->initial(map);
    if (status == QRT_SUCCESS) status = cpld->initial(static_cast<I_nkSPI*>(switcher));
    if (status != QRT_SUCCESS) return status;
    cpld->setI2CSlave(mcuSlave);
    return mcu->initial(cpld);
}

// Straps of a late revision, no microcontroller behind the CPLD, and the CPLD itself.
int C_rhx44Plus::checkValid() {
    char version[kVersionText] = {};
    if (getPCBVersion() < kMinimumPcbVersion ||
        readMcuVersion(version, sizeof version) == QRT_SUCCESS ||
        readCpldVersion(version, sizeof version) != QRT_SUCCESS)
        return 0;
    productType = QRT_PRODUCT_RHX44PLUS;
    mcuAnswers = false;
    return 1;
}

// The two bus pins become outputs; their levels come with the first transaction.
void C_rhx44Plus::preparePins() {
    switcher->getGPOAddr(&gpoRegister);
    switcher->updateGPIODirection();
    switcher->setGPIODirection(kClockPin, I_nkGPIO::APGPIO_OUTPUT);
    switcher->setGPIODirection(kDataPin, I_nkGPIO::APGPIO_OUTPUT);
    switcher->applyGPIODirection();
}

int C_rhx44Plus::initial(void* map) {
    if (initialized) return QRT_SUCCESS;
    {
        C_ObjectLock guard(lock);
        if (!guard.held()) return QRT_ERR_BUSY;
        const int status = bindControllers(map);
        if (status != QRT_SUCCESS) return status;
        if (!checkValid()) return QRT_ERR_NOT_INITIALIZED;
        preparePins();
        pciMap = static_cast<I_pciMap*>(map);
    }
    // The power chip's detection settings of this card.
    setDCEnable(1);
    setACEnable(0);
    C_ObjectLock guard(lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    initialized = 1;
    return QRT_SUCCESS;
}

int C_rhx44Plus::getPCBVersion() {
    return C_pexBoardStraps::pcbVersion(switcher);
}

// ---- bit-banged I2C ---------------------------------------------------------------------------

int C_rhx44Plus::pinStep(int scl, int sda, unsigned settle) {
    unsigned value = 0, mask = 0;
    if (scl >= 0) mask |= 1u << kClockPin, value |= unsigned(scl) << kClockPin;
    if (sda >= 0) mask |= 1u << kDataPin, value |= unsigned(sda) << kDataPin;
    unsigned char valueBytes[4], maskBytes[4];
    putWord(valueBytes, value);
    putWord(maskBytes, mask);
    return pciMap->cacheWriteCmds(static_cast<unsigned long>(gpoRegister), 4, valueBytes, maskBytes,
                                  4, settle);
}

// A run of pin steps, up to the first the driver did not queue.
struct C_rhx44Plus::PinStep {
    int scl, sda;
    unsigned settle;
};

int C_rhx44Plus::queueSteps(const PinStep* steps, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        int status = pinStep(steps[i].scl, steps[i].sda, steps[i].settle);
        if (status != QRT_SUCCESS) return status;
    }
    return QRT_SUCCESS;
}

// Data falls while the clock is high.
int C_rhx44Plus::startGPIOI2C() {
    if (switcher == nullptr || pciMap == nullptr) return QRT_ERR_FAILED;
    const PinStep steps[] = {{1, 1, kSettle}, {-1, 0, kNoSettle}, {0, -1, kSettle}};
    return queueSteps(steps, 3);
}

// Eight bits, most significant first, then the acknowledge slot's clock (not read).
int C_rhx44Plus::writeGPIOI2C(unsigned char byte) {
    if (switcher == nullptr || pciMap == nullptr) return QRT_ERR_FAILED;
    for (int bit = 7; bit >= 0; --bit) {
        const PinStep steps[] = {
            {-1, (byte >> bit) & 1, kNoSettle}, {1, -1, kSettle}, {0, -1, kSettle}};
        int status = queueSteps(steps, 3);
        if (status != QRT_SUCCESS) return status;
    }
    const PinStep acknowledge[] = {{1, -1, kSettle}, {0, -1, kSettle}};
    return queueSteps(acknowledge, 2);
}

// Data rises while the clock is high; then the driver runs the queued steps.
int C_rhx44Plus::stopGPIOI2C() {
    if (switcher == nullptr || pciMap == nullptr) return QRT_ERR_FAILED;
    const PinStep steps[] = {{-1, 0, kNoSettle}, {1, -1, kNoSettle}, {-1, 1, kNoSettle}};
    int status = queueSteps(steps, 3);
    if (status != QRT_SUCCESS) return status;
    return pciMap->exeCmdCache();
}

int C_rhx44Plus::sendTransaction(const unsigned char* bytes, unsigned count) {
    // The queued steps must carry this process's key of the driver's lock: run while another
    // process holds the function, the driver would refuse them and the transaction would be
    // lost.
    C_TransactionLock guard(lock, pciMap != nullptr ? pciMap->deviceAccessLock() : nullptr);
    if (!guard.held()) return guard.status();
    if (switcher == nullptr || pciMap == nullptr) return QRT_ERR_FAILED;
    // The steps queue in the driver's command cache of this process's file, which the cards
    // other threads drive queue into as well.
    C_commandCacheLock cache(*pciMap);
    if (!cache.held()) return QRT_ERR_BUSY;
    int status = startGPIOI2C();
    for (unsigned i = 0; i < count && status == QRT_SUCCESS; ++i) status = writeGPIOI2C(bytes[i]);
    if (status == QRT_SUCCESS) status = stopGPIOI2C();
    if (status != QRT_SUCCESS) pciMap->clearCmdCache();
    return status;
}

int C_rhx44Plus::setDCEnable(int on) {
    const unsigned char bytes[] = {kPowerChipWrite, kDcDetection, 0x00, detectionMask(on), 0x00};
    return sendTransaction(bytes, sizeof bytes);
}

int C_rhx44Plus::setACEnable(int on) {
    const unsigned char bytes[] = {kPowerChipWrite, kAcDetection, 0x00, detectionMask(on), 0x00};
    return sendTransaction(bytes, sizeof bytes);
}

int C_rhx44Plus::setPoEPortEnable(int* enables, unsigned n) {
    if (enables == nullptr || n < poePortCount) return QRT_ERR_INVALID_PARAM;
    if (!initialized) return QRT_ERR_NOT_INITIALIZED;
    unsigned char mask = 0;
    for (unsigned port = 0; port < kPorts; ++port)
        if (enables[port] != 0) mask |= static_cast<unsigned char>(1u << port);
    const unsigned char bytes[] = {kPowerChipWrite, kPortPower, 0x01, mask, 0x00};
    return sendTransaction(bytes, sizeof bytes);
}
