#pragma once

#include <cstdint>

class I_nkSPI;

// One 32-bit word of the USB3 card microcontroller, moved over the switch's serial port least
// significant byte first.
typedef uint32_t W5MCU_WRITEDATA;
typedef uint32_t W5MCU_READDATA;

// The microcontroller of the USB3 host cards: port power of up to eight channels, the card
// identifier, its firmware version and the part and serial numbers kept in its flash.
class I_w5MCU {
  public:
    virtual ~I_w5MCU() {}
    virtual int initial(I_nkSPI* spi) = 0;
    virtual int getVersion(char* text, unsigned int size) = 0;
    virtual int setPN(char* text, unsigned int length) = 0;
    virtual int setSN(char* text, unsigned int length) = 0;
    virtual int getPN(char* text, unsigned int length) = 0;
    virtual int getSN(char* text, unsigned int length) = 0;
    virtual int setPowerPortEnable(int* enables, unsigned int count) = 0;
    virtual int getPowerPortEnable(int* enables, unsigned int count) = 0;
    virtual int getCardID(int* id) = 0;
    virtual int readData(unsigned long address, W5MCU_READDATA* word) = 0;
    virtual int writeData(unsigned long address, W5MCU_WRITEDATA* word) = 0;
    // Mailbox read: writes `command` to `address`, waits 50 ms, reads the answer back there.
    virtual int readDataFromFlash(unsigned long address, unsigned long command,
                                  W5MCU_READDATA* word) = 0;
};
