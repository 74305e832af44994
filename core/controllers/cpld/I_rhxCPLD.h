#pragma once

#include "core/bus/I_nkI2C.h"
#include "core/bus/I_nkSPI.h"

// One 32-bit CPLD register word, least significant byte first (data[0] is bits 7..0).
struct RHXCPLD_WRITEDATA {
    unsigned char data[4];
};
struct RHXCPLD_READDATA {
    unsigned char data[4];
};

// The frame-grabber card's CPLD. It is an I2C master of its own (the bus of the card
// microcontroller and the identity EEPROM), so it is an I_nkI2C; on top of that it holds the
// trigger-over-Ethernet machinery: control word, per-port counters, delays and packet memory
// (DPRAM), and the SMBus sender that pushes a stored packet into a port's Ethernet controller.
// Every operation returns 0 or a negative status code.
class I_rhxCPLD : public I_nkI2C {
  public:
    // Binds the register transport: the PCIe switch's serial port or an I2C bus.
    virtual int initial(I_nkSPI* spi) = 0;
    virtual int initial(I_nkI2C* bus) = 0;
    // Date and time stamp of the CPLD design, "YYYYMMDD_hhmm"; read once, then cached.
    virtual int getVersion(char* text, unsigned int size) = 0;
    virtual int getWriteDataSize(unsigned int* size) = 0;
    virtual int getReadDataSize(unsigned int* size) = 0;
    // Raw register access. A null word on writeData is a command-only access (a trigger).
    virtual int readData(unsigned long reg, RHXCPLD_READDATA* word) = 0;
    virtual int writeData(unsigned long reg, RHXCPLD_WRITEDATA* word, unsigned int length) = 0;

    // Trigger-over-Ethernet control word; flags count as zero / non-zero, the debounce is a
    // 24-bit count. The getter skips null pointers.
    virtual int setToEControlConf(int triggerEnable, int edgeSelectA, int edgeSelectB,
                                  int oneTriggerAll, int dpramReadBack, int triggerSource,
                                  unsigned long exTriggerDebounce) = 0;
    virtual int getToEControlConf(int* triggerEnable, int* edgeSelectA, int* edgeSelectB,
                                  int* oneTriggerAll, int* dpramReadBack, int* triggerSource,
                                  unsigned long* exTriggerDebounce) = 0;
    virtual int getToEExTriggerDebounceUnit(unsigned long* unit) = 0;
    // Ports 0..3.
    virtual int getToECounter(unsigned int port, unsigned int* first, unsigned int* second) = 0;
    virtual int resetToECounter() = 0;
    virtual int setToETriggerDelay(unsigned int port, unsigned long delay) = 0;
    virtual int getToETriggerDelay(unsigned int port, unsigned long* delay) = 0;
    virtual int setSMBusHeader(unsigned char readWrite, unsigned char slaveAddress,
                               unsigned char command, unsigned char byteCount) = 0;
    virtual int getSMBusHeader(unsigned char* readWrite, unsigned char* slaveAddress,
                               unsigned char* command, unsigned char* byteCount) = 0;
    // Sends the stored packet on one port, or on every port for -1.
    virtual int setSMBusStart(int port) = 0;
    virtual int getSMBusStart(unsigned char* mask) = 0;
    virtual int setSMBusStop() = 0;
    virtual int setDPRAMData(unsigned int port, unsigned char value, unsigned char address) = 0;
    virtual int getDPRAMData(unsigned int port, unsigned char* value, unsigned char address) = 0;
    // 1 when the CPLD reported its version in the old packed single-word format.
    virtual int isOlderCPLD(int* flag) = 0;
};
