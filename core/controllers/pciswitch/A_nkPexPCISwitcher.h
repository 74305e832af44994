#pragma once

#include <cstdint>
#include <vector>

#include "core/bus/A_nkPCISwitcher.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_ObjectLock.h"

class I_pciMap;

// What distinguishes one PLX/Broadcom PEX switch from another for this SDK: its PCI identity,
// where its GPIO and serial-EEPROM port registers sit, and how pin directions are packed.
// All registers are 32 bits wide in the switch's register space.
struct NK_PEXCHIPCONSTANTS {
    int vendorId;
    int deviceId;
    const char* chipName;
    unsigned int gpioPins;
    uint32_t directionRegister;
    // Pin i is an output when bit (stride * i + offset) of the direction register is set; the
    // other bits of a pin's field belong to the chip and are written back as read.
    unsigned int directionBitStride;
    unsigned int directionBitOffset;
    uint32_t inputRegister;   // bit i = level of pin i
    uint32_t outputRegister;  // bit i = driven level of pin i
    uint64_t serialControlRegister;
    uint64_t serialDataRegister;
    uint64_t writeCommandBits;  // ORed onto the block index in the control register
    uint64_t readCommandBits;
    int64_t highestBlockIndex;
    unsigned int serialBlockSize;  // bytes per serial transfer
    uint32_t serialBusyBit;        // in the control register while a transfer runs
};

// All the logic of the PEX switches: the pin caches with their apply/update transfers, the
// serial-EEPROM port (one 4-byte block per transfer, behind which the cards put their CPLD or
// USB3 microcontroller) and the kernel driver's device access lock. The chip classes only
// supply their constant table.
//
// Every operation holds the object lock for its duration, the cache operations too, so that
// threads reading and writing one card's pins never race on the caches. Every register
// sequence (initial's reads, a serial transfer, a pin transfer) runs under the driver's lock
// as well, so that no other process's access falls between its register accesses.
class A_nkPexPCISwitcher : public A_nkPCISwitcher, public I_nkSharedBus {
  public:
    ~A_nkPexPCISwitcher() override;

    int getGPIONums(unsigned int* count) override;
    int setGPIODirection(unsigned int pin, APGPIO_DIRECTION dir) override;
    int getGPIODirection(unsigned int pin, APGPIO_DIRECTION* dir) override;
    int applyGPIODirection() override;
    int updateGPIODirection() override;
    int setGPO(unsigned int pin, int value) override;
    int getGPIO(unsigned int pin, int* value) override;
    int applyGPO() override;
    int updateGPIO() override;
    int updateGPIOInputs() override;

    int writeSPI(unsigned long address, unsigned char* data, unsigned int len) override;
    int readSPI(unsigned long address, unsigned char* buf, unsigned int len) override;
    int getSPIDataBlockSize(unsigned int* size) override;

    // The driver's lock for the calling process, taken with the bounded wait of the object
    // lock; the process's threads share it (one unLockOpation for each tryLockOpation).
    int tryLockOpation() override;
    int unLockOpation() override;
    int getChipName(char* name, unsigned int size) override;
    // Binds the switch's PCI map after checking the device is this chip, then loads the pin
    // caches from the chip.
    int initial(void* pciMap) override;
    int getGPOAddr(int* offset) override;

    A_deviceAccessLock* deviceAccessLock() override;

    A_nkPexPCISwitcher(const A_nkPexPCISwitcher&) = delete;
    A_nkPexPCISwitcher& operator=(const A_nkPexPCISwitcher&) = delete;

  protected:
    explicit A_nkPexPCISwitcher(const NK_PEXCHIPCONSTANTS& chip);

  private:
    int pinTransfer(int (A_nkPexPCISwitcher::*transfer)());
    // The pin transfers, with both locks held.
    int writeDirections();
    int readDirections();
    int writeOutputs();
    int readPins();
    int readInputPins();
    // Polls the busy flag of the serial control register; true when it stays set.
    bool isSPIBusy();
    // Block index of a byte address, or -1 when it is beyond the port.
    int64_t blockIndexOf(unsigned long address) const;
    int readRegister32(uint64_t offset, uint32_t* value);
    int writeRegister32(uint64_t offset, uint32_t value);
    uint32_t directionMask(unsigned int pin) const;

    const NK_PEXCHIPCONSTANTS& m_chip;
    I_pciMap* m_pciMap = nullptr;  // borrowed from the product
    C_ObjectSemaphore m_lock;
    std::vector<APGPIO_DIRECTION> m_directions;
    std::vector<int> m_values;
};
