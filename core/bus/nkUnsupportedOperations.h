#pragma once

#include "QRT_Types.h"

// Default answers of the abstract bus bases: a chip object derives from the bus interfaces it
// could offer, and every operation its hardware lacks answers "not supported". One macro per
// interface keeps the A_ classes to a list of what they leave out.

#define NK_UNSUPPORTED_GPIO_OPERATIONS                               \
    int getGPIONums(unsigned int*) override {                        \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int setGPIODirection(unsigned int, APGPIO_DIRECTION) override {  \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int getGPIODirection(unsigned int, APGPIO_DIRECTION*) override { \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int applyGPIODirection() override {                              \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int updateGPIODirection() override {                             \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int setGPO(unsigned int, int) override {                         \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int getGPIO(unsigned int, int*) override {                       \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int applyGPO() override {                                        \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }                                                                \
    int updateGPIO() override {                                      \
        return QRT_ERR_NOT_SUPPORTED;                                \
    }

#define NK_UNSUPPORTED_I2C_OPERATIONS                                                  \
    int setI2CSlave(unsigned long) override {                                          \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }                                                                                  \
    int writeI2C(unsigned long, unsigned int, unsigned char*, unsigned int) override { \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }                                                                                  \
    int readI2C(unsigned char*, unsigned int, unsigned long, unsigned int) override {  \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }                                                                                  \
    int getI2CDataBlockSize(unsigned int*) override {                                  \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }                                                                                  \
    int getI2CRegisterAdrSize(unsigned int*) override {                                \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }                                                                                  \
    int getI2CDataAccessSize(unsigned int*) override {                                 \
        return QRT_ERR_NOT_SUPPORTED;                                                  \
    }

#define NK_UNSUPPORTED_SPI_OPERATIONS                                    \
    int setSPISlave(long) override {                                     \
        return QRT_ERR_NOT_SUPPORTED;                                    \
    }                                                                    \
    int writeSPI(unsigned long, unsigned char*, unsigned int) override { \
        return QRT_ERR_NOT_SUPPORTED;                                    \
    }                                                                    \
    int readSPI(unsigned long, unsigned char*, unsigned int) override {  \
        return QRT_ERR_NOT_SUPPORTED;                                    \
    }                                                                    \
    int getSPIDataBlockSize(unsigned int*) override {                    \
        return QRT_ERR_NOT_SUPPORTED;                                    \
    }

// The four operations both multi-bus chip families add after the pin operations.
#define NK_UNSUPPORTED_CHIP_OPERATIONS              \
    int tryLockOpation() override {                 \
        return QRT_ERR_NOT_SUPPORTED;               \
    }                                               \
    int unLockOpation() override {                  \
        return QRT_ERR_NOT_SUPPORTED;               \
    }                                               \
    int getChipName(char*, unsigned int) override { \
        return QRT_ERR_NOT_SUPPORTED;               \
    }                                               \
    int initial(void*) override {                   \
        return QRT_ERR_NOT_SUPPORTED;               \
    }
