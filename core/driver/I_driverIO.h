#pragma once

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
};
