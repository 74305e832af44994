#pragma once

class A_deviceAccessLock;
class C_ObjectSemaphore;
class C_identityRecord;
class I_driverIO;

// One scanned PCI function of the kernel driver: register access, write-command cache and the
// driver's per-device lock. Every operation returns a status code.
class I_pciMap {
  public:
    virtual ~I_pciMap() {}
    virtual int initial(I_driverIO* io, unsigned index) = 0;
    virtual int getDeviceInfo(int* a, int* b) = 0;
    virtual int readRegister(unsigned long offset, unsigned width, unsigned char* data,
                             unsigned length) = 0;
    virtual int writeRegister(unsigned long offset, unsigned width, unsigned char* data,
                              unsigned length) = 0;
    virtual int cacheWriteCmds(unsigned long offset, unsigned width, unsigned char* data,
                               unsigned char* second, unsigned length, unsigned last) = 0;
    virtual int clearCmdCache() = 0;
    virtual int exeCmdCache() = 0;
    virtual int tryLock() = 0;
    virtual int unLock() = 0;
    // The driver's lock as this process holds it through this map, shared by the process's
    // threads (tryLock and unLock underneath); null for a map that no other process can reach.
    virtual A_deviceAccessLock* deviceAccessLock() = 0;
    // What the bound device told about itself, shared by every class that probes it and
    // emptied when the map is bound to another device; null for a map that keeps nothing.
    virtual C_identityRecord* identityRecord() { return nullptr; }
    // The lock of the driver's command cache this map queues into (see I_driverIO), shared with
    // every map on the same channel; null when none is needed.
    virtual const C_ObjectSemaphore* commandCacheLock() { return nullptr; }
};

// The identity record of the map a product's `initial` receives (as void*); null without one.
inline C_identityRecord* identityRecordOf(void* pciMap) {
    return pciMap != nullptr ? static_cast<I_pciMap*>(pciMap)->identityRecord() : nullptr;
}
