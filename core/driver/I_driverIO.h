#pragma once

class C_ObjectSemaphore;

// The channel to the kit's kernel driver. Unlike the rest of the SDK these operations answer
// with a truth value: 1 success, 0 failure.
class I_driverIO {
  public:
    virtual ~I_driverIO() {}
    // Opens "/dev/<name>".
    virtual unsigned open(const char* name) = 0;
    // Issues one request with the record's address; success when the system call returns 0.
    virtual unsigned ioctl(unsigned long request, void* record, unsigned int length) = 0;
    virtual unsigned close() = 0;
    // The lock of the driver's command cache behind this channel: the driver keeps one cache
    // per open file, which every thread of the process shares through the channel, so a
    // sequence of queued writes and its execution must hold it (C_commandCacheLock). Null for
    // a channel that no two threads use at once.
    virtual const C_ObjectSemaphore* commandCacheLock() { return nullptr; }
};
