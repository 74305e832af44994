#pragma once

// Register-addressed I2C transfers. Register address bytes go out least significant first.
class I_nkI2C {
  public:
    virtual ~I_nkI2C() {}
    virtual int setI2CSlave(unsigned long slave) = 0;
    virtual int writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                         unsigned int length) = 0;
    // Note the order: buffer and length first.
    virtual int readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                        unsigned int regAddrSize) = 0;
    virtual int getI2CDataBlockSize(unsigned int* size) = 0;
    virtual int getI2CRegisterAdrSize(unsigned int* size) = 0;
    virtual int getI2CDataAccessSize(unsigned int* size) = 0;
};
