#pragma once

#include <atomic>

#include "core/common/C_ObjectLock.h"
#include "core/controllers/rhxmcu/A_rhxMCU.h"

// The frame-grabber card microcontroller at I2C address 0x2D (selected by the owner of the
// bus). Reads are a command with a zero word, a pause while the firmware prepares the answer
// and a plain two-byte read; each exchange holds the object lock from write to read, and the
// access lock of the device that carries the bus, so that no other process's command reaches
// the firmware before the answer is read. A relayed PSE read (selection, pause, read) is one
// transaction under a relay lock of its own and the device's.
class C_rhxMCU : public A_rhxMCU {
  public:
    // Commands by what they do. The command bytes and pauses are in the table in the source.
    enum Command {
        CMD_THERMAL_TEMPERATURE,
        CMD_DEVICE_STATE,
        CMD_SET_PROTECTED_TEMPERATURE,
        CMD_SET_RECOVERY_TEMPERATURE,
        CMD_VERSION,
        CMD_PSE_LAST_POWER_STATE,
        CMD_SET_POE_ENABLE,
        CMD_PSE_READ_ONE_BYTE,
        CMD_PSE_WRITE_ONE_BYTE,
        CMD_PORT0_STATUS,
        CMD_PORT1_STATUS,
        CMD_PORT2_STATUS,
        CMD_PORT3_STATUS,
        CMD_BUSY,
        CMD_GET_PROTECTED_TEMPERATURE,
        CMD_GET_RECOVERY_TEMPERATURE,
        CMD_GET_POE_ENABLE,
        CMD_PSE_READ_TWO_BYTES,
        CMD_RESET,
        CMD_SET_TEMPERATURE_PROTECTION,
        CMD_GET_TEMPERATURE_PROTECTION,
        CMD_CONSUMED_POWER_BUDGET,
        CMD_LEFT_POWER_BUDGET,
        CMD_SET_POWER_BUDGET_CONTROL,
        CMD_GET_POWER_BUDGET_CONTROL,
        CMD_GET_FAN_DUTY,
        CMD_SET_FAN_DUTY,
        CMD_FAN_RPM,
        CMD_GET_SMART_FAN,
        CMD_SET_SMART_FAN,
        CMD_COUNT
    };
    enum Direction { DIR_READ, DIR_WRITE, DIR_MANUAL };
    struct CommandInfo {
        Command command;
        unsigned char code;  // the command byte, sent as the I2C register address
        Direction direction;
        unsigned int waitMs;  // pause between command and reply
    };
    static const CommandInfo& commandInfo(Command command);

    static constexpr unsigned int kPortCount = 4;
    static constexpr unsigned int kDefaultReadWaitMs = 20;
    static constexpr unsigned int kManualWaitPerByteMs = 10;
    static constexpr int kPSESelectPauseMs = 20;
    static constexpr int kTemperatureSamplePauseMs = 10;
    static constexpr int kTemperatureAttempts = 2;
    static constexpr int kTemperatureSampleTries = 3;
    static constexpr int kThresholdReadTries = 3;

    C_rhxMCU();
    ~C_rhxMCU() override;

    int initial(I_nkI2C* bus) override;
    int getVersion(char* text, unsigned int size) override;
    int getPSERecvoeryPowerState(int* states, unsigned int count) override;
    int setPoEEnable(int* enables, unsigned int count) override;
    int getPoEEnable(int* enables, unsigned int count) override;
    int getThermalTemperature(float* temperature) override;
    int setTemperatureProtectionEnable(int enable) override;
    int getTemperatureProtectionEnable(int* enable) override;
    int resetMCU() override;
    int isMCUBusy(int* busy) override;
    int readPSEOneByteData(unsigned char reg, unsigned char* value) override;
    int readPSETwoByteData(unsigned char reg, unsigned char* value2) override;
    int writePSEOneByteData(unsigned char reg, unsigned char value) override;
    int setProtectedTemperature(int degrees) override;
    int setRecoveryTemperature(int degrees) override;
    int getProtectedTemperature(int* degrees) override;
    int getRecoveryTemperature(int* degrees) override;
    int getPoEState(RHXMCU_POESTATE* state) override;
    int getPoEPortStatus(unsigned int port, unsigned int* poeClass, unsigned int* flag) override;
    int getConsumedPowerBudget(float* budget) override;
    int getLeftPowerBudget(float* budget) override;
    int setPowerBudgetControlEnable(int enable) override;
    int getPowerBudgetControlEnable(int* enable) override;
    int setFanPWMDuty(int duty) override;
    int getFanPWMDuty(int* duty) override;
    int getFanRPM(unsigned int* rpm) override;
    int setSmartFanEnable(int enable) override;
    int getSmartFanEnable(int* enable) override;
    int readData(unsigned long cmd, RHXMCU_READDATA* reply, unsigned int waitMs) override;
    int writeData(unsigned long cmd, RHXMCU_WRITEDATA* data) override;

    // The command byte and writeLen bytes of buf, a pause (waitMs, or readLen * 10 ms when 0),
    // then a plain read of readLen bytes into buf. buf must hold the larger of the two.
    int writeReadManualData(unsigned long cmd, unsigned char* buf, unsigned int writeLen,
                            unsigned int readLen, unsigned int waitMs);

  private:
    int read(Command command, RHXMCU_READDATA* reply);
    int write(Command command, RHXMCU_WRITEDATA data);
    int readFlag(Command command, int* enable);
    int readByte(Command command, int* value);
    int readWord(Command command, unsigned int* value);
    int readTenths(Command command, float* value);
    int readThreshold(Command command, int* degrees);
    int readTemperatureSample(float* sample);
    int readPSERegister(Command command, unsigned char reg, unsigned char* value,
                        unsigned int valueLength);

    const unsigned int m_portCount = kPortCount;
    C_ObjectSemaphore m_lock;
    C_ObjectSemaphore m_relayLock;  // a whole relayed PSE read; taken before m_lock
    I_nkI2C* m_bus = nullptr;
    // The version byte once a valid one has been read (never 0x00), else 0.
    std::atomic<unsigned int> m_versionByte{0};
};
