#pragma once

#include <cstdint>

#include "core/bus/A_nkEthCtrl.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_ObjectLock.h"

class I_pciMap;

// Where an Intel Ethernet controller keeps its I2C master, and who it is.
struct NK_ETHCTRLCHIP {
    int vendorId;
    int deviceId;
    const char* chipName;
    uint64_t i2cCommandRegister;
    uint64_t i2cParameterRegister;
};

// The I2C master that the X550 and the I210 both offer through one 32-bit command register:
// the host writes a command word (data in bits 15:0, the device's register in bits 23:16, the
// command byte in bits 31:24: bit 27 read, bit 28 "new slave"), the controller runs one I2C
// transfer of two data bytes and then shows bit 29 (ready) and, when the device did not
// answer, bit 31 (error) in the same register; a read leaves the two bytes in bits 15:0.
//
// This class holds what both controllers do alike: binding to the PCI map, the transfer loops
// with their completion waits, the sizes and the kernel driver's device lock. The chip bases
// add their setup, how the slave address reaches the controller and their command bytes.
// Every register sequence (the setup, a parameter update, a transfer's commands with their
// completion waits) holds the object lock and then the driver's lock, so neither another
// thread nor another process can put a command between a command and its completion.
//
// The master runs one command at a time and drops a command written while another runs; the
// register then goes on showing the running command and, once it ends, that command's result.
// So no command is written before the end of the one before it has been seen: a command whose
// end was not seen (a poll that could not be read, a write whose fate is unknown, a read slower
// than its polls) is watched further at once, within the same budget of polls, so that neither
// this process's next command nor another process's is lost; if it still runs, the next
// command first waits for it and is not written when it does not end.
//
// Every transfer moves two bytes per command. Odd lengths: a read keeps only the bytes that fit
// the caller's buffer (the last command's second byte is dropped); a write is refused (-11),
// because its last command would have to send a byte the caller never gave to a register the
// caller never named.
class A_nkEthCtrlI2CMaster : public A_nkEthCtrl, public I_nkSharedBus {
  public:
    static constexpr unsigned int kDataBytesPerCommand = 2;
    static constexpr unsigned long kHighestRegister = 255;
    // A write command is polled up to this many times, 1 ms apart; a read command this many
    // for its result. No command is watched longer than kWritePolls polls in all.
    static constexpr int kWritePolls = 1000;
    static constexpr int kReadPolls = 30;
    static constexpr uint32_t kReadyBit = 1u << 29;
    static constexpr uint32_t kErrorBit = 1u << 31;
    static constexpr uint8_t kReadCommandBit = 0x08;  // bit 27 of the command word
    static constexpr uint8_t kNewSlaveMark = 0x10;    // bit 28

    ~A_nkEthCtrlI2CMaster() override;

    // Binds the controller's PCI map after checking its identity, then runs the chip's setup.
    int initial(void* pciMap) override;
    int writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                 unsigned int length) override;
    int readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                unsigned int regAddrSize) override;
    int getI2CDataBlockSize(unsigned int* size) override;
    int getI2CRegisterAdrSize(unsigned int* size) override;
    int getI2CDataAccessSize(unsigned int* size) override;
    // The driver's lock for the calling process, taken with the bounded wait of the object
    // lock; the process's threads share it (one unLockOpation for each tryLockOpation).
    int tryLockOpation() override;
    int unLockOpation() override;
    int getChipName(char* name, unsigned int size) override;
    A_deviceAccessLock* deviceAccessLock() override;

    A_nkEthCtrlI2CMaster(const A_nkEthCtrlI2CMaster&) = delete;
    A_nkEthCtrlI2CMaster& operator=(const A_nkEthCtrlI2CMaster&) = delete;

  protected:
    explicit A_nkEthCtrlI2CMaster(const NK_ETHCTRLCHIP& chip);

    // The chip's setup after binding, with the object lock held: 0 or the failing status.
    virtual int setupController() = 0;
    // The command byte (bits 31:24) of the next command; may consume the new-slave flag.
    virtual uint8_t commandByte(bool read) = 0;
    // The parameter register as the slave address wants it, from the word read.
    virtual uint32_t parameterWord(uint32_t asRead) const = 0;

    // Reads the parameter register, applies parameterWord and writes it back (object lock
    // held by the caller).
    int updateParameterRegister();
    int readRegister32(uint64_t offset, uint32_t* value);
    int writeRegister32(uint64_t offset, uint32_t value);

    I_pciMap* m_pciMap = nullptr;  // borrowed from the product
    C_ObjectSemaphore m_lock;
    unsigned char m_slave = 0;  // 0: no device selected
    bool m_newSlave = false;

  private:
    // Polls the command register until the command is ready: 0 when it finished cleanly, -1
    // when it finished with the error bit, -100 when it is still running after `polls` reads,
    // or the failing register access's status. `word` receives the last word read, `used` the
    // number of polls made. Seeing the ready bit marks the master idle.
    int waitForCommand(int polls, uint32_t* word, int* used);
    // 0 at once when the last command's end was seen; else the wait of waitForCommand.
    int waitUntilIdle(int polls);
    // One command: waits for the master to be idle, writes the word and polls for its end
    // (`polls` times at most); a command left running is watched on up to kWritePolls polls.
    int runCommand(bool read, unsigned long reg, uint16_t data, int polls, uint32_t* word);
    int issueCommand(uint8_t command, unsigned long reg, uint16_t data);
    int checkTransfer(unsigned long regAddr, unsigned int length) const;

    const NK_ETHCTRLCHIP& m_chip;
    bool m_masterIdle = true;  // the end of the last command written has been seen
};
