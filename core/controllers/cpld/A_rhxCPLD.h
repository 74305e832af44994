#pragma once

#include "QRT_Types.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_ObjectLock.h"
#include "core/controllers/cpld/I_rhxCPLD.h"

// Where a register transport places the CPLD's two register blocks, and how many bytes its
// short writes carry (the I2C master's byte writes and triggers, SMBus start and stop, the
// counter reset and the DPRAM access word).
struct RHXCPLD_LAYOUT {
    unsigned long toeBlock;
    unsigned long i2cMasterBlock;
    unsigned int shortWriteLength;
};

// Flags of the I2C master's control and status word.
struct RHXCPLD_I2CSTATUS {
    int slaveAck;     // the addressed slave acknowledged the start
    int spiBusy;      // the CPLD is still processing a serial-port access
    int busBusy;      // another master holds the I2C bus; the start must be repeated
    int writeFailed;  // the last byte write was not acknowledged
    int bit12;
    int bit13;
    int bit14;
};

// Fields of the trigger-over-Ethernet control word.
struct RHXCPLD_TOECONF {
    int triggerEnable;
    int edgeSelectA;
    int edgeSelectB;
    int oneTriggerAll;
    int dpramReadBack;
    int triggerSource;
    unsigned long exTriggerDebounce;
};

// Shared logic of both CPLD transports: the I2C bridge and the trigger-over-Ethernet
// registers. The transports provide readData/writeData and their register layout.
//
// Two locks: the bridge lock covers a whole bridged I2C transfer (start to stop, retries and
// back-off included) and changes of the slave address, so the microcontroller and the EEPROM
// sharing the bridge never interleave; the register lock, taken inside readData/writeData,
// covers one register access. Order: bridge lock first. A bridged transfer and a register
// access also hold the access lock of the device that carries the CPLD, so another process's
// transfer never falls between a start and its stop.
class A_rhxCPLD : public I_rhxCPLD, public I_nkSharedBus {
  public:
    // Offsets inside the trigger-over-Ethernet block.
    static constexpr unsigned long kRegSMBusHeader = 0x00;
    static constexpr unsigned long kRegSMBusStart = 0x04;
    static constexpr unsigned long kRegSMBusStop = 0x08;
    static constexpr unsigned long kRegToEControl = 0x10;
    static constexpr unsigned long kRegDPRAMAccess = 0x20;      // + 4 * port
    static constexpr unsigned long kRegToECounter = 0x30;       // + 4 * port; a write resets
    static constexpr unsigned long kRegToETriggerDelay = 0x40;  // + 4 * port
    // Offsets inside the I2C master block.
    static constexpr unsigned long kRegI2CControl = 0x00;  // write: start word, read: status
    static constexpr unsigned long kRegI2CWriteByte = 0x04;
    static constexpr unsigned long kRegI2CReadByte = 0x08;
    static constexpr unsigned long kRegI2CStop = 0x0C;
    static constexpr unsigned long kRegI2CReadFinalByte = 0x14;
    static constexpr unsigned long kRegI2CReadFourByte = 0x18;

    // I2C master status bits.
    static constexpr unsigned long kStatusSlaveAck = 1ul << 8;
    static constexpr unsigned long kStatusSPIBusy = 1ul << 9;
    static constexpr unsigned long kStatusBusBusy = 1ul << 10;
    static constexpr unsigned long kStatusWriteFailed = 1ul << 11;

    // ToE control word fields.
    static constexpr unsigned long kToETriggerEnable = 1ul << 0;
    static constexpr unsigned long kToEEdgeSelectA = 1ul << 1;
    static constexpr unsigned long kToEEdgeSelectB = 1ul << 2;
    static constexpr unsigned long kToEOneTriggerAll = 1ul << 3;
    static constexpr unsigned long kToEDPRAMReadBack = 1ul << 4;
    static constexpr unsigned long kToETriggerSource = 1ul << 5;
    static constexpr unsigned int kToEDebounceShift = 8;
    static constexpr unsigned long kToEDebounceMax = 0xFFFFFF;
    static constexpr unsigned long kToEDelayMask = 0xFFFFFF;
    // Size of one debounce count in the units of the public debounce value.
    static constexpr unsigned long kToEDebounceUnit = 40;
    static constexpr unsigned int kToEPortCount = 4;

    // Bridge protocol limits.
    static constexpr int kTransferAttempts = 30;
    static constexpr int kTransferBackoffMs = 100;
    static constexpr int kStartAttempts = 10;
    static constexpr int kStartBusyPauseMs = 10;
    static constexpr int kReadBytePauseMs = 1;
    static constexpr unsigned int kMaxRegAddrSize = 8;

    ~A_rhxCPLD() override;

    // I_nkI2C: the CPLD's I2C master as a bus.
    int setI2CSlave(unsigned long slave) override;
    int writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                 unsigned int length) override;
    int readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                unsigned int regAddrSize) override;
    int getI2CDataBlockSize(unsigned int* size) override;
    // The register-address width belongs to the devices behind the bridge, not to the bridge.
    int getI2CRegisterAdrSize(unsigned int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getI2CDataAccessSize(unsigned int* size) override;

    int initial(I_nkSPI*) override { return QRT_ERR_NOT_SUPPORTED; }
    int initial(I_nkI2C*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getVersion(char*, unsigned int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getWriteDataSize(unsigned int* size) override;
    int getReadDataSize(unsigned int* size) override;
    int readData(unsigned long, RHXCPLD_READDATA*) override { return QRT_ERR_NOT_SUPPORTED; }
    int writeData(unsigned long, RHXCPLD_WRITEDATA*, unsigned int) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    int setToEControlConf(int triggerEnable, int edgeSelectA, int edgeSelectB, int oneTriggerAll,
                          int dpramReadBack, int triggerSource,
                          unsigned long exTriggerDebounce) override;
    int getToEControlConf(int* triggerEnable, int* edgeSelectA, int* edgeSelectB,
                          int* oneTriggerAll, int* dpramReadBack, int* triggerSource,
                          unsigned long* exTriggerDebounce) override;
    int getToEExTriggerDebounceUnit(unsigned long* unit) override;
    int getToECounter(unsigned int port, unsigned int* first, unsigned int* second) override;
    int resetToECounter() override;
    int setToETriggerDelay(unsigned int port, unsigned long delay) override;
    int getToETriggerDelay(unsigned int port, unsigned long* delay) override;
    int setSMBusHeader(unsigned char readWrite, unsigned char slaveAddress, unsigned char command,
                       unsigned char byteCount) override;
    int getSMBusHeader(unsigned char* readWrite, unsigned char* slaveAddress,
                       unsigned char* command, unsigned char* byteCount) override;
    int setSMBusStart(int port) override;
    int getSMBusStart(unsigned char* mask) override;
    int setSMBusStop() override;
    int setDPRAMData(unsigned int port, unsigned char value, unsigned char address) override;
    int getDPRAMData(unsigned int port, unsigned char* value, unsigned char address) override;
    int isOlderCPLD(int* flag) override;

    // Unbinds the register transport.
    virtual void release() {}
    // The access lock of the device that carries the CPLD (none without a transport).
    A_deviceAccessLock* deviceAccessLock() override { return nullptr; }

    // Word encoders and decoders (pure functions of the register formats).
    static unsigned long wordValue(const RHXCPLD_READDATA& word);
    static RHXCPLD_WRITEDATA wordOf(unsigned long value);
    static void parseTOEConfData(const RHXCPLD_READDATA& word, RHXCPLD_TOECONF* conf);
    static void genTOEConfData(RHXCPLD_WRITEDATA* word, const RHXCPLD_TOECONF& conf);
    static void genSMBusHeader(RHXCPLD_WRITEDATA* word, unsigned char readWrite,
                               unsigned char slaveAddress, unsigned char command,
                               unsigned char byteCount);
    static void parseSMBusHeader(const RHXCPLD_READDATA& word, unsigned char* readWrite,
                                 unsigned char* slaveAddress, unsigned char* command,
                                 unsigned char* byteCount);
    static void genSMBusStart(RHXCPLD_WRITEDATA* word, int port);
    static void genTOEDPRAMData(RHXCPLD_WRITEDATA* word, unsigned char value,
                                unsigned char address);
    static void parseTOECounterData(const RHXCPLD_READDATA& word, unsigned int* first,
                                    unsigned int* second);
    static void genTOETriggerDelayData(RHXCPLD_WRITEDATA* word, unsigned long delay);
    static unsigned long parseTOETriggerDelayData(const RHXCPLD_READDATA& word);
    static void genI2CStartData(RHXCPLD_WRITEDATA* word, int direction, unsigned long slave);
    static void parseI2CStartData(const RHXCPLD_READDATA& word, RHXCPLD_I2CSTATUS* status);
    static void genI2CWrite8bData(RHXCPLD_WRITEDATA* word, unsigned char value);
    static void parseI2CRead8bData(const RHXCPLD_READDATA& word, unsigned char* value);
    static void parseI2CRead32bData(const RHXCPLD_READDATA& word, unsigned char* bytes);

  protected:
    explicit A_rhxCPLD(const RHXCPLD_LAYOUT& layout);

    // Bridge primitives; each is a few register accesses, called under the bridge lock.
    virtual int writeI2COneByte(unsigned char value);
    virtual int readI2COneByte(unsigned char* value);
    virtual int readI2CFinalByte(unsigned char* value);
    virtual int readI2CFourByte(unsigned char* bytes);
    virtual int startI2C(int direction);
    virtual int stopI2C();

    // Forgets the slave address (under the bridge lock); the transports clear their bus.
    void releaseBridge();

    C_ObjectSemaphore m_registerLock;
    int m_olderFlag = 0;

  private:
    unsigned long toeRegister(unsigned long offset) const;
    unsigned long masterRegister(unsigned long offset) const;
    int writeShort(unsigned long reg, RHXCPLD_WRITEDATA* word);
    int triggerAndRead(unsigned long offset, RHXCPLD_READDATA* word);
    int startOnce(int direction, bool* busBusy);
    int sendBytes(unsigned long regAddr, unsigned int regAddrSize, const unsigned char* data,
                  unsigned int length);
    int transferWithRetry(unsigned long regAddr, unsigned int regAddrSize,
                          const unsigned char* data, unsigned int length);

    const RHXCPLD_LAYOUT& m_layout;
    C_ObjectSemaphore m_bridgeLock;
    unsigned long m_i2cSlave = 0;
};
