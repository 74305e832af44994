#pragma once

// Block transfers over a chip's serial port.
class I_nkSPI {
  public:
    virtual ~I_nkSPI() {}
    virtual int setSPISlave(long slave) = 0;
    virtual int writeSPI(unsigned long address, unsigned char* data, unsigned int len) = 0;
    virtual int readSPI(unsigned long address, unsigned char* buf, unsigned int len) = 0;
    virtual int getSPIDataBlockSize(unsigned int* size) = 0;
};
