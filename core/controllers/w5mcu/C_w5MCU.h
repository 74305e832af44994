#pragma once

#include <atomic>

#include "core/common/C_ObjectLock.h"
#include "core/controllers/w5mcu/A_w5MCU.h"

class A_deviceAccessLock;

// The USB3 card microcontroller on the serial-EEPROM port of the card's PCIe switch. It answers
// like a memory of 32-bit words: plain addresses take commands (power switch, flash words), and
// mailbox addresses take a command word and hold the answer 50 ms later. Every transport call
// holds the object's lock, a mailbox read including its wait, and the access lock of the card:
// another process's command written in the middle of a mailbox exchange would take its answer.
// A flash text (four words and the check word, or four mailbox reads) is one transaction under
// a lock of its own and the card's, so that texts written and read at the same time are never
// mixed word by word.
class C_w5MCU : public A_w5MCU {
  public:
    C_w5MCU();
    ~C_w5MCU() override;

    // Borrows the switch's serial port.
    int initial(I_nkSPI* spi) override;
    // "major.minor"; read once, then served from the cache.
    int getVersion(char* text, unsigned int size) override;
    int setPN(char* text, unsigned int length) override;
    int setSN(char* text, unsigned int length) override;
    int getPN(char* text, unsigned int length) override;
    int getSN(char* text, unsigned int length) override;
    // All eight channels at once: count must be at least 8.
    int setPowerPortEnable(int* enables, unsigned int count) override;
    int getPowerPortEnable(int* enables, unsigned int count) override;
    // The identifier is written even when the card reports it invalid (QRT_ERR_FAILED).
    int getCardID(int* id) override;
    int readData(unsigned long address, W5MCU_READDATA* word) override;
    int writeData(unsigned long address, W5MCU_WRITEDATA* word) override;
    int readDataFromFlash(unsigned long address, unsigned long command,
                          W5MCU_READDATA* word) override;

    C_w5MCU(const C_w5MCU&) = delete;
    C_w5MCU& operator=(const C_w5MCU&) = delete;

  private:
    A_deviceAccessLock* cardLock();
    int flashText(const FlashField& field, bool write, char* text, unsigned int length);
    // Transport with the lock already held and the bus present.
    int readWord(unsigned long address, W5MCU_READDATA* word);
    int writeWord(unsigned long address, W5MCU_WRITEDATA word);
    int mailboxRead(unsigned long address, W5MCU_WRITEDATA command, W5MCU_READDATA* word);

    const unsigned int powerChannels = kPowerChannels;
    I_nkSPI* m_spi = nullptr;  // borrowed from the product's switch
    C_ObjectSemaphore m_lock;
    C_ObjectSemaphore m_flashLock;  // a whole flash text; taken before m_lock
    W5MCU_READDATA versionWord = 0;
    std::atomic<int> versionCached{0};  // set once versionWord holds the answer
};
