#pragma once

#include "core/bus/A_nkDTSI2C.h"
#include "core/bus/C_i2cAdapterLock.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_ObjectLock.h"

// A Linux I2C adapter device node ("/dev/i2c-N"), used by the embedded vision system to reach
// its microcontroller and identity EEPROM.
//
// Every transfer is a single I2C_RDWR message: a register read is an address write, a 10 ms
// pause and a separate read (no repeated start), because the devices on these buses latch the
// register pointer on the stop condition. A message that is not acknowledged is tried again
// after 30 ms, up to 11 attempts in all. The object's own lock is held across the whole
// transfer, retries included, so two register reads on one object never interleave; so is the
// adapter's advisory lock (C_i2cAdapterLock), which keeps other processes' messages out, and
// which the devices' controllers hold across their exchanges too (deviceAccessLock).
class C_nkDTSI2C : public A_nkDTSI2C, public I_nkSharedBus {
  public:
    // Largest message: register-address bytes plus data bytes.
    static constexpr unsigned int kTransferBytes = 32;

    C_nkDTSI2C();
    ~C_nkDTSI2C() override;

    // Opens the adapter (closing a previous one). A failed open is not reported: the object
    // stays usable and its transfers fail after their retries.
    int initial(unsigned int busNumber) override;
    // Device address (0..255) used by every later transfer; only the low 8 bits reach the wire.
    int setI2CSlave(unsigned long slave) override;
    int writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                 unsigned int length) override;
    int readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                unsigned int regAddrSize) override;
    int getI2CDataBlockSize(unsigned int* size) override;
    // The adapter's lock; null while no adapter is open.
    A_deviceAccessLock* deviceAccessLock() override;

    C_nkDTSI2C(const C_nkDTSI2C&) = delete;
    C_nkDTSI2C& operator=(const C_nkDTSI2C&) = delete;

  private:
    int writeDTSI2Cdata(int fd, unsigned char* buf, int count);
    int readDTSI2Cdata(int fd, unsigned char* buf, int count);
    // One message with the retry policy; true when the adapter transferred it.
    bool transferMessage(int fd, unsigned short flags, unsigned char* buf, int count);
    // Puts the low `size` bytes of regAddr into m_buffer, least significant first.
    void putRegisterAddress(unsigned long regAddr, unsigned int size);
    void closeAdapter();

    bool m_bound = false;  // initial has run (whether or not the node opened)
    int m_fd = -1;         // adapter descriptor; -1 when none is open
    unsigned long m_slave = 0;
    unsigned char m_buffer[kTransferBytes] = {};
    C_ObjectSemaphore m_lock;
    C_i2cAdapterLock m_adapterLock{m_fd};
};
