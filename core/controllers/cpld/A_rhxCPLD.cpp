#include "core/controllers/cpld/A_rhxCPLD.h"

#include "QRT_Types.h"
#include "core/common/C_TransactionLock.h"

namespace {

// Bytes of one bridged transfer phase: the register address (least significant byte first),
// then the data bytes in order.
unsigned char addressOrDataByte(unsigned long regAddr, unsigned int regAddrSize,
                                const unsigned char* data, unsigned int index) {
    if (index < regAddrSize) return static_cast<unsigned char>(regAddr >> (8 * index));
    return data[index - regAddrSize];
}

}  // namespace

A_rhxCPLD::A_rhxCPLD(const RHXCPLD_LAYOUT& layout) : m_layout(layout) {}

A_rhxCPLD::~A_rhxCPLD() = default;

// ---------------------------------------------------------------------------------------------
// Word formats

unsigned long A_rhxCPLD::wordValue(const RHXCPLD_READDATA& word) {
    return static_cast<unsigned long>(word.data[0]) |
           static_cast<unsigned long>(word.data[1]) << 8 |
           static_cast<unsigned long>(word.data[2]) << 16 |
           static_cast<unsigned long>(word.data[3]) << 24;
}

RHXCPLD_WRITEDATA A_rhxCPLD::wordOf(unsigned long value) {
    RHXCPLD_WRITEDATA word;
    for (int i = 0; i < 4; ++i) word.data[i] = static_cast<unsigned char>(value >> (8 * i));
    return word;
}

void A_rhxCPLD::parseTOEConfData(const RHXCPLD_READDATA& word, RHXCPLD_TOECONF* conf) {
    const unsigned long v = wordValue(word);
    conf->triggerEnable = (v & kToETriggerEnable) ? 1 : 0;
    conf->edgeSelectA = (v & kToEEdgeSelectA) ? 1 : 0;
    conf->edgeSelectB = (v & kToEEdgeSelectB) ? 1 : 0;
    conf->oneTriggerAll = (v & kToEOneTriggerAll) ? 1 : 0;
    conf->dpramReadBack = (v & kToEDPRAMReadBack) ? 1 : 0;
    conf->triggerSource = (v & kToETriggerSource) ? 1 : 0;
    conf->exTriggerDebounce = (v >> kToEDebounceShift) & kToEDebounceMax;
}

void A_rhxCPLD::genTOEConfData(RHXCPLD_WRITEDATA* word, const RHXCPLD_TOECONF& conf) {
    unsigned long v = (conf.exTriggerDebounce & kToEDebounceMax) << kToEDebounceShift;
    if (conf.triggerEnable) v |= kToETriggerEnable;
    if (conf.edgeSelectA) v |= kToEEdgeSelectA;
    if (conf.edgeSelectB) v |= kToEEdgeSelectB;
    if (conf.oneTriggerAll) v |= kToEOneTriggerAll;
    if (conf.dpramReadBack) v |= kToEDPRAMReadBack;
    if (conf.triggerSource) v |= kToETriggerSource;
    *word = wordOf(v);
}

void A_rhxCPLD::genSMBusHeader(RHXCPLD_WRITEDATA* word, unsigned char readWrite,
                               unsigned char slaveAddress, unsigned char command,
                               unsigned char byteCount) {
    word->data[0] = static_cast<unsigned char>((slaveAddress << 1) | (readWrite & 1));
    word->data[1] = command;
    word->data[2] = byteCount;
    word->data[3] = 0;
}

void A_rhxCPLD::parseSMBusHeader(const RHXCPLD_READDATA& word, unsigned char* readWrite,
                                 unsigned char* slaveAddress, unsigned char* command,
                                 unsigned char* byteCount) {
    *readWrite = word.data[0] & 1;
    *slaveAddress = word.data[0] >> 1;
    *command = word.data[1];
    *byteCount = word.data[2];
}

void A_rhxCPLD::genSMBusStart(RHXCPLD_WRITEDATA* word, int port) {
    // One bit per port in byte 0; -1 selects every port. Ports beyond the byte select none.
    unsigned long mask = 0;
    if (port == -1)
        mask = 0xFF;
    else if (port >= 0 && port < 8)
        mask = 1ul << port;
    *word = wordOf(mask);
}

void A_rhxCPLD::genTOEDPRAMData(RHXCPLD_WRITEDATA* word, unsigned char value,
                                unsigned char address) {
    // Bytes 2 and 3 only reach the CPLD on the serial port, where it expects them all ones.
    word->data[0] = value;
    word->data[1] = address;
    word->data[2] = 0xFF;
    word->data[3] = 0xFF;
}

void A_rhxCPLD::parseTOECounterData(const RHXCPLD_READDATA& word, unsigned int* first,
                                    unsigned int* second) {
    const unsigned long v = wordValue(word);
    if (first != nullptr) *first = static_cast<unsigned int>(v & 0xFFFF);
    if (second != nullptr) *second = static_cast<unsigned int>((v >> 16) & 0xFFFF);
}

void A_rhxCPLD::genTOETriggerDelayData(RHXCPLD_WRITEDATA* word, unsigned long delay) {
    *word = wordOf(delay & kToEDelayMask);
}

unsigned long A_rhxCPLD::parseTOETriggerDelayData(const RHXCPLD_READDATA& word) {
    return wordValue(word) & kToEDelayMask;
}

void A_rhxCPLD::genI2CStartData(RHXCPLD_WRITEDATA* word, int direction, unsigned long slave) {
    // The I2C address byte: 7-bit slave address and the read/write bit.
    *word = wordOf(((slave << 1) | (direction ? 1u : 0u)) & 0xFF);
}

void A_rhxCPLD::parseI2CStartData(const RHXCPLD_READDATA& word, RHXCPLD_I2CSTATUS* status) {
    const unsigned long v = wordValue(word);
    status->slaveAck = (v & kStatusSlaveAck) ? 1 : 0;
    status->spiBusy = (v & kStatusSPIBusy) ? 1 : 0;
    status->busBusy = (v & kStatusBusBusy) ? 1 : 0;
    status->writeFailed = (v & kStatusWriteFailed) ? 1 : 0;
    status->bit12 = (v >> 12) & 1;
    status->bit13 = (v >> 13) & 1;
    status->bit14 = (v >> 14) & 1;
}

void A_rhxCPLD::genI2CWrite8bData(RHXCPLD_WRITEDATA* word, unsigned char value) {
    *word = wordOf(value);
}

void A_rhxCPLD::parseI2CRead8bData(const RHXCPLD_READDATA& word, unsigned char* value) {
    *value = word.data[0];
}

void A_rhxCPLD::parseI2CRead32bData(const RHXCPLD_READDATA& word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = word.data[i];
}

// ---------------------------------------------------------------------------------------------
// Operations a bare CPLD object cannot perform

int A_rhxCPLD::getWriteDataSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = sizeof(RHXCPLD_WRITEDATA);
    return QRT_SUCCESS;
}

int A_rhxCPLD::getReadDataSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = sizeof(RHXCPLD_READDATA);
    return QRT_SUCCESS;
}

int A_rhxCPLD::isOlderCPLD(int* flag) {
    if (flag == nullptr) return QRT_ERR_INVALID_PARAM;
    *flag = m_olderFlag;
    return QRT_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Register helpers

unsigned long A_rhxCPLD::toeRegister(unsigned long offset) const {
    return m_layout.toeBlock + offset;
}

unsigned long A_rhxCPLD::masterRegister(unsigned long offset) const {
    return m_layout.i2cMasterBlock + offset;
}

int A_rhxCPLD::writeShort(unsigned long reg, RHXCPLD_WRITEDATA* word) {
    return writeData(reg, word, m_layout.shortWriteLength);
}

// A read of the I2C master's receive registers: a command-only write starts the bus cycle,
// the byte (or word) is ready in the same register a moment later.
int A_rhxCPLD::triggerAndRead(unsigned long offset, RHXCPLD_READDATA* word) {
    int status = writeShort(masterRegister(offset), nullptr);
    if (status != QRT_SUCCESS) return status;
    I_CommonDef::Sleep(kReadBytePauseMs);
    return readData(masterRegister(offset), word);
}

// ---------------------------------------------------------------------------------------------
// Bridge primitives

int A_rhxCPLD::writeI2COneByte(unsigned char value) {
    RHXCPLD_WRITEDATA out;
    genI2CWrite8bData(&out, value);
    int status = writeShort(masterRegister(kRegI2CWriteByte), &out);
    if (status != QRT_SUCCESS) return status;
    RHXCPLD_READDATA in;
    if (readData(masterRegister(kRegI2CControl), &in) != QRT_SUCCESS) return QRT_ERR_FAILED;
    RHXCPLD_I2CSTATUS flags;
    parseI2CStartData(in, &flags);
    return flags.writeFailed ? QRT_ERR_FAILED : QRT_SUCCESS;
}

int A_rhxCPLD::readI2COneByte(unsigned char* value) {
    RHXCPLD_READDATA in;
    int status = triggerAndRead(kRegI2CReadByte, &in);
    if (status == QRT_SUCCESS) parseI2CRead8bData(in, value);
    return status;
}

int A_rhxCPLD::readI2CFinalByte(unsigned char* value) {
    RHXCPLD_READDATA in;
    int status = triggerAndRead(kRegI2CReadFinalByte, &in);
    if (status == QRT_SUCCESS) parseI2CRead8bData(in, value);
    return status;
}

int A_rhxCPLD::readI2CFourByte(unsigned char* bytes) {
    RHXCPLD_READDATA in;
    int status = triggerAndRead(kRegI2CReadFourByte, &in);
    if (status != QRT_SUCCESS) return status;
    // The CPLD shifts the received bytes in from the bottom: the first byte on the wire ends
    // up in the word's most significant byte.
    unsigned char word[4];
    parseI2CRead32bData(in, word);
    for (int i = 0; i < 4; ++i) bytes[i] = word[3 - i];
    return QRT_SUCCESS;
}

int A_rhxCPLD::stopI2C() {
    return writeShort(masterRegister(kRegI2CStop), nullptr);
}

// `busBusy` tells the CPLD's own busy flag (another master holds its bus) apart from a failed
// access to the CPLD, whose status may be busy as well.
int A_rhxCPLD::startOnce(int direction, bool* busBusy) {
    *busBusy = false;
    RHXCPLD_WRITEDATA out;
    genI2CStartData(&out, direction, m_i2cSlave);
    int status = writeShort(masterRegister(kRegI2CControl), &out);
    if (status != QRT_SUCCESS) return status;
    RHXCPLD_READDATA in;
    status = readData(masterRegister(kRegI2CControl), &in);
    if (status != QRT_SUCCESS) return status;
    RHXCPLD_I2CSTATUS flags;
    parseI2CStartData(in, &flags);
    *busBusy = flags.busBusy != 0;
    if (flags.busBusy) return QRT_ERR_BUSY;
    return flags.slaveAck ? QRT_SUCCESS : QRT_ERR_FAILED;
}

// Only the CPLD's busy flag is worth another attempt: a transport that cannot carry the start
// (the switch's serial port or the Ethernet controller still busy) would not carry the next
// one either, so its failure ends the start at once.
int A_rhxCPLD::startI2C(int direction) {
    int status = QRT_ERR_BUSY;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0) I_CommonDef::Sleep(kStartBusyPauseMs);
        bool busBusy = false;
        status = startOnce(direction, &busBusy);
        if (status == QRT_SUCCESS || (!busBusy && status != QRT_ERR_BUSY)) return status;
        // Another master holds the bus, or the start's access is still under way: release our
        // half-issued start, and never leave the master with a pending start.
        stopI2C();
        if (!busBusy) return status;
    }
    return status;
}

// ---------------------------------------------------------------------------------------------
// The CPLD's I2C master as a bus

int A_rhxCPLD::setI2CSlave(unsigned long slave) {
    C_ObjectLock lock(m_bridgeLock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_i2cSlave = slave;
    return QRT_SUCCESS;
}

void A_rhxCPLD::releaseBridge() {
    C_ObjectLock lock(m_bridgeLock);
    if (lock.held()) m_i2cSlave = 0;
}

int A_rhxCPLD::getI2CDataBlockSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = 1;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getI2CDataAccessSize(unsigned int* size) {
    if (size == nullptr) return QRT_ERR_INVALID_PARAM;
    *size = 4;
    return QRT_SUCCESS;
}

int A_rhxCPLD::sendBytes(unsigned long regAddr, unsigned int regAddrSize, const unsigned char* data,
                         unsigned int length) {
    for (unsigned int i = 0; i < regAddrSize + length; ++i) {
        int status = writeI2COneByte(addressOrDataByte(regAddr, regAddrSize, data, i));
        if (status != QRT_SUCCESS) return status;
    }
    return QRT_SUCCESS;
}

// One write phase (start, address bytes, data bytes, stop). A byte the slave did not take
// repeats the whole phase after a back-off; a start that fails (no acknowledge, bus held,
// register access failed) ends the transfer at once, as repeating it would not help.
int A_rhxCPLD::transferWithRetry(unsigned long regAddr, unsigned int regAddrSize,
                                 const unsigned char* data, unsigned int length) {
    int status = QRT_ERR_FAILED;
    for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
        if (attempt > 0) I_CommonDef::Sleep(kTransferBackoffMs);
        int started = startI2C(0);
        if (started != QRT_SUCCESS) return started;
        status = sendBytes(regAddr, regAddrSize, data, length);
        stopI2C();
        if (status == QRT_SUCCESS) return QRT_SUCCESS;
    }
    return status;
}

int A_rhxCPLD::writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                        unsigned int length) {
    if (regAddrSize > kMaxRegAddrSize) return QRT_ERR_INVALID_PARAM;
    if (data == nullptr && length > 0) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_bridgeLock, deviceAccessLock());
    if (!lock.held()) return lock.status();
    return transferWithRetry(regAddr, regAddrSize, data, length);
}

int A_rhxCPLD::readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                       unsigned int regAddrSize) {
    if (length == 0 || buffer == nullptr) return QRT_ERR_INVALID_PARAM;
    if (regAddrSize > kMaxRegAddrSize) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_bridgeLock, deviceAccessLock());
    if (!lock.held()) return lock.status();

    if (regAddrSize > 0) {
        int status = transferWithRetry(regAddr, regAddrSize, nullptr, 0);
        if (status != QRT_SUCCESS) return status;
    }
    int status = startI2C(1);
    if (status != QRT_SUCCESS) return status;

    // The master receives in words of four, then single bytes; the last byte of the transfer
    // must be a final-byte read so that the master answers it with a not-acknowledge.
    unsigned int words = length / 4;
    unsigned int singles = length % 4;
    if (singles == 0) {
        words -= 1;
        singles = 4;
    }
    unsigned char* out = buffer;
    for (unsigned int i = 0; i < words && status == QRT_SUCCESS; ++i, out += 4)
        status = readI2CFourByte(out);
    for (unsigned int i = 0; i + 1 < singles && status == QRT_SUCCESS; ++i, ++out)
        status = readI2COneByte(out);
    if (status == QRT_SUCCESS) status = readI2CFinalByte(out);
    stopI2C();
    return status;
}

// ---------------------------------------------------------------------------------------------
// Trigger-over-Ethernet registers. Transport errors end an operation with QRT_ERR_FAILED,
// except for the SMBus header, start and stop writes, which pass the transport's status on.

int A_rhxCPLD::setToEControlConf(int triggerEnable, int edgeSelectA, int edgeSelectB,
                                 int oneTriggerAll, int dpramReadBack, int triggerSource,
                                 unsigned long exTriggerDebounce) {
    if (exTriggerDebounce > kToEDebounceMax) return QRT_ERR_INVALID_PARAM;
    const RHXCPLD_TOECONF conf = {triggerEnable, edgeSelectA,   edgeSelectB,      oneTriggerAll,
                                  dpramReadBack, triggerSource, exTriggerDebounce};
    RHXCPLD_WRITEDATA word;
    genTOEConfData(&word, conf);
    if (writeData(toeRegister(kRegToEControl), &word, 4) != QRT_SUCCESS) return QRT_ERR_FAILED;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getToEControlConf(int* triggerEnable, int* edgeSelectA, int* edgeSelectB,
                                 int* oneTriggerAll, int* dpramReadBack, int* triggerSource,
                                 unsigned long* exTriggerDebounce) {
    RHXCPLD_READDATA word;
    if (readData(toeRegister(kRegToEControl), &word) != QRT_SUCCESS) return QRT_ERR_FAILED;
    RHXCPLD_TOECONF conf;
    parseTOEConfData(word, &conf);
    if (triggerEnable != nullptr) *triggerEnable = conf.triggerEnable;
    if (edgeSelectA != nullptr) *edgeSelectA = conf.edgeSelectA;
    if (edgeSelectB != nullptr) *edgeSelectB = conf.edgeSelectB;
    if (oneTriggerAll != nullptr) *oneTriggerAll = conf.oneTriggerAll;
    if (dpramReadBack != nullptr) *dpramReadBack = conf.dpramReadBack;
    if (triggerSource != nullptr) *triggerSource = conf.triggerSource;
    if (exTriggerDebounce != nullptr) *exTriggerDebounce = conf.exTriggerDebounce;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getToEExTriggerDebounceUnit(unsigned long* unit) {
    if (unit == nullptr) return QRT_ERR_INVALID_PARAM;
    *unit = kToEDebounceUnit;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getToECounter(unsigned int port, unsigned int* first, unsigned int* second) {
    if (port >= kToEPortCount) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_READDATA word;
    if (readData(toeRegister(kRegToECounter + 4 * port), &word) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    parseTOECounterData(word, first, second);
    return QRT_SUCCESS;
}

int A_rhxCPLD::resetToECounter() {
    RHXCPLD_WRITEDATA word = wordOf(0);
    if (writeShort(toeRegister(kRegToECounter), &word) != QRT_SUCCESS) return QRT_ERR_FAILED;
    return QRT_SUCCESS;
}

int A_rhxCPLD::setToETriggerDelay(unsigned int port, unsigned long delay) {
    if (port >= kToEPortCount) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_WRITEDATA word;
    genTOETriggerDelayData(&word, delay);
    if (writeData(toeRegister(kRegToETriggerDelay + 4 * port), &word, 4) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getToETriggerDelay(unsigned int port, unsigned long* delay) {
    if (port >= kToEPortCount || delay == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_READDATA word;
    if (readData(toeRegister(kRegToETriggerDelay + 4 * port), &word) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    *delay = parseTOETriggerDelayData(word);
    return QRT_SUCCESS;
}

int A_rhxCPLD::setDPRAMData(unsigned int port, unsigned char value, unsigned char address) {
    if (port >= kToEPortCount) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_WRITEDATA word;
    genTOEDPRAMData(&word, value, address);
    if (writeShort(toeRegister(kRegDPRAMAccess + 4 * port), &word) != QRT_SUCCESS)
        return QRT_ERR_FAILED;
    return QRT_SUCCESS;
}

int A_rhxCPLD::getDPRAMData(unsigned int port, unsigned char* value, unsigned char address) {
    if (port >= kToEPortCount || value == nullptr) return QRT_ERR_INVALID_PARAM;
    const unsigned long reg = toeRegister(kRegDPRAMAccess + 4 * port);
    // Writing the address (with data 0) makes the CPLD fetch that DPRAM byte into the register;
    // no other process may move the address before the byte is read.
    C_TransactionLock transaction(deviceAccessLock());
    if (!transaction.held()) return QRT_ERR_FAILED;
    RHXCPLD_WRITEDATA out;
    genTOEDPRAMData(&out, 0, address);
    if (writeShort(reg, &out) != QRT_SUCCESS) return QRT_ERR_FAILED;
    RHXCPLD_READDATA in;
    if (readData(reg, &in) != QRT_SUCCESS) return QRT_ERR_FAILED;
    *value = in.data[0];
    return QRT_SUCCESS;
}

int A_rhxCPLD::setSMBusHeader(unsigned char readWrite, unsigned char slaveAddress,
                              unsigned char command, unsigned char byteCount) {
    RHXCPLD_WRITEDATA word;
    genSMBusHeader(&word, readWrite, slaveAddress, command, byteCount);
    return writeData(toeRegister(kRegSMBusHeader), &word, 4);
}

int A_rhxCPLD::getSMBusHeader(unsigned char* readWrite, unsigned char* slaveAddress,
                              unsigned char* command, unsigned char* byteCount) {
    if (readWrite == nullptr || slaveAddress == nullptr || command == nullptr ||
        byteCount == nullptr)
        return QRT_ERR_INVALID_PARAM;
    RHXCPLD_READDATA word;
    if (readData(toeRegister(kRegSMBusHeader), &word) != QRT_SUCCESS) return QRT_ERR_FAILED;
    parseSMBusHeader(word, readWrite, slaveAddress, command, byteCount);
    return QRT_SUCCESS;
}

int A_rhxCPLD::setSMBusStart(int port) {
    if (port < -1) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_WRITEDATA word;
    genSMBusStart(&word, port);
    return writeShort(toeRegister(kRegSMBusStart), &word);
}

int A_rhxCPLD::getSMBusStart(unsigned char* mask) {
    if (mask == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXCPLD_READDATA word;
    if (readData(toeRegister(kRegSMBusStart), &word) != QRT_SUCCESS) return QRT_ERR_FAILED;
    *mask = word.data[0];
    return QRT_SUCCESS;
}

int A_rhxCPLD::setSMBusStop() {
    RHXCPLD_WRITEDATA word = wordOf(0);
    return writeShort(toeRegister(kRegSMBusStop), &word);
}
