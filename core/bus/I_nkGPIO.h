#pragma once

// General-purpose pins with a cached direction and value per pin; apply/update move the
// cache to and from the chip.
class I_nkGPIO {
  public:
    enum APGPIO_DIRECTION { APGPIO_INPUT = 0, APGPIO_OUTPUT = 1 };

    virtual ~I_nkGPIO() {}
    virtual int getGPIONums(unsigned int* count) = 0;
    virtual int setGPIODirection(unsigned int pin, APGPIO_DIRECTION dir) = 0;
    virtual int getGPIODirection(unsigned int pin, APGPIO_DIRECTION* dir) = 0;
    virtual int applyGPIODirection() = 0;
    virtual int updateGPIODirection() = 0;
    virtual int setGPO(unsigned int pin, int value) = 0;
    virtual int getGPIO(unsigned int pin, int* value) = 0;
    virtual int applyGPO() = 0;
    virtual int updateGPIO() = 0;
    // Refreshes the values of the input pins only, for a caller that reads nothing else: one
    // register read fewer on chips that keep outputs in a register of their own.
    virtual int updateGPIOInputs() { return updateGPIO(); }
};
