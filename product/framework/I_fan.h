#pragma once

// Fans (feature 6).
class I_fan {
  public:
    virtual ~I_fan() {}
    virtual int getFanNums(unsigned* n) = 0;
    virtual int getFanSpeed(unsigned fan, unsigned* rpm) = 0;
    virtual int getFanPWM(unsigned fan, int* duty) = 0;
    virtual int setFanPWM(unsigned fan, int duty) = 0;
    virtual int getSmartFanEnable(unsigned fan, int* enable) = 0;
    virtual int setSmartFanEnable(unsigned fan, int enable) = 0;
    virtual int getFanDescription(unsigned fan, char* buf, unsigned len) = 0;
};
