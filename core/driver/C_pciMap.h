#pragma once

#include <cstdint>

#include "core/common/C_identityRecord.h"
#include "core/driver/A_pciMap.h"
#include "core/driver/C_pciFunctionLock.h"

// One PCI function scanned by the kit's kernel driver: register reads and writes, the driver's
// write-command cache and its per-device lock, each one request on the driver channel. Every
// operation but initial answers -13 until a channel is bound, -1 when the request itself fails
// and otherwise the driver's status mapped by ZEPPCIManager::returnZEPVal.
//
// The map holds no lock of its own: its users serialise with their own semaphores. The
// driver's lock serialises register sequences between processes; while this map holds it, the
// key travels with every register access. The map's users take the driver's lock through
// deviceAccessLock(), which shares it among the process's threads; the key is therefore read
// only by threads that hold it.
class C_pciMap : public A_pciMap {
  public:
    C_pciMap();
    // Releases a driver lock still held.
    ~C_pciMap() override;
    C_pciMap(const C_pciMap&) = delete;
    C_pciMap& operator=(const C_pciMap&) = delete;

    // Binds the map to device `index` of the channel, releasing a lock held under the previous
    // binding first. Always 0.
    int initial(I_driverIO* io, unsigned index) override;
    // The driver's two values for this device; written only when the driver reports 0.
    int getDeviceInfo(int* a, int* b) override;
    // `length` bytes (at most 32) at `offset`, accessed `width` bytes at a time.
    int readRegister(unsigned long offset, unsigned width, unsigned char* data,
                     unsigned length) override;
    int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                      unsigned length) override;
    // Queues a register write in the driver: `data` and `second`, `length` bytes each.
    int cacheWriteCmds(unsigned long offset, unsigned width, unsigned char* data,
                       unsigned char* second, unsigned length, unsigned last) override;
    int clearCmdCache() override;
    int exeCmdCache() override;
    // Takes the driver's lock on this device; -11 when this map already holds it.
    int tryLock() override;
    // Releases it; 0 without a request when none is held.
    int unLock() override;
    A_deviceAccessLock* deviceAccessLock() override { return &m_accessLock; }
    C_identityRecord* identityRecord() override { return &m_identity; }
    const C_ObjectSemaphore* commandCacheLock() override;

  private:
    int accessRegister(uint32_t operation, unsigned long offset, unsigned width,
                       unsigned char* data, unsigned length);

    uint32_t m_index = 0;
    I_driverIO* m_io = nullptr;  // borrowed from the driver-I/O factory
    uint32_t m_lockKey = 0;      // 0: no driver lock held
    C_pciFunctionLock m_accessLock{*this};
    C_identityRecord m_identity;
};
