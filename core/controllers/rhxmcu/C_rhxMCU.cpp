#include "core/controllers/rhxmcu/C_rhxMCU.h"

#include "QRT_Types.h"
#include "core/bus/I_nkSharedBus.h"
#include "core/common/C_TransactionLock.h"

namespace {

using Cmd = C_rhxMCU;

// The firmware's command set. Reads answer after 20 ms, except the temperature (a fresh
// conversion, 100 ms) and the relayed PSE reads, which the firmware performs on the PSE's own
// I2C bus before it can answer (75 ms for one byte, 150 ms for two).
constexpr C_rhxMCU::CommandInfo kCommandTable[C_rhxMCU::CMD_COUNT] = {
    {Cmd::CMD_THERMAL_TEMPERATURE, 0x80, Cmd::DIR_READ, 100},
    {Cmd::CMD_DEVICE_STATE, 0x81, Cmd::DIR_READ, 20},
    {Cmd::CMD_SET_PROTECTED_TEMPERATURE, 0x82, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_SET_RECOVERY_TEMPERATURE, 0x83, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_VERSION, 0x84, Cmd::DIR_READ, 20},
    {Cmd::CMD_PSE_LAST_POWER_STATE, 0x85, Cmd::DIR_READ, 20},
    {Cmd::CMD_SET_POE_ENABLE, 0x86, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_PSE_READ_ONE_BYTE, 0x87, Cmd::DIR_MANUAL, 75},
    {Cmd::CMD_PSE_WRITE_ONE_BYTE, 0x88, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_PORT0_STATUS, 0x89, Cmd::DIR_READ, 20},
    {Cmd::CMD_PORT1_STATUS, 0x8A, Cmd::DIR_READ, 20},
    {Cmd::CMD_PORT2_STATUS, 0x8B, Cmd::DIR_READ, 20},
    {Cmd::CMD_PORT3_STATUS, 0x8C, Cmd::DIR_READ, 20},
    {Cmd::CMD_BUSY, 0x8D, Cmd::DIR_READ, 20},
    {Cmd::CMD_GET_PROTECTED_TEMPERATURE, 0x92, Cmd::DIR_READ, 20},
    {Cmd::CMD_GET_RECOVERY_TEMPERATURE, 0x93, Cmd::DIR_READ, 20},
    {Cmd::CMD_GET_POE_ENABLE, 0x96, Cmd::DIR_READ, 20},
    {Cmd::CMD_PSE_READ_TWO_BYTES, 0x97, Cmd::DIR_MANUAL, 150},
    {Cmd::CMD_RESET, 0x98, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_SET_TEMPERATURE_PROTECTION, 0x99, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_GET_TEMPERATURE_PROTECTION, 0x9A, Cmd::DIR_READ, 20},
    {Cmd::CMD_CONSUMED_POWER_BUDGET, 0x9B, Cmd::DIR_READ, 20},
    {Cmd::CMD_LEFT_POWER_BUDGET, 0x9C, Cmd::DIR_READ, 20},
    {Cmd::CMD_SET_POWER_BUDGET_CONTROL, 0x9D, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_GET_POWER_BUDGET_CONTROL, 0x9E, Cmd::DIR_READ, 20},
    {Cmd::CMD_GET_FAN_DUTY, 0xA6, Cmd::DIR_READ, 20},
    {Cmd::CMD_SET_FAN_DUTY, 0xA7, Cmd::DIR_WRITE, 0},
    {Cmd::CMD_FAN_RPM, 0xA8, Cmd::DIR_READ, 20},
    {Cmd::CMD_GET_SMART_FAN, 0xA9, Cmd::DIR_READ, 20},
    {Cmd::CMD_SET_SMART_FAN, 0xAA, Cmd::DIR_WRITE, 0},
};

constexpr bool tableInCommandOrder() {
    for (int i = 0; i < C_rhxMCU::CMD_COUNT; ++i)
        if (kCommandTable[i].command != i) return false;
    return true;
}
static_assert(tableInCommandOrder(), "the table is indexed by command");

// "No data": the firmware answers all ones while its temperature conversion is not ready.
bool isNoData(const RHXMCU_READDATA& reply) {
    return reply.data[0] == 0xFF && reply.data[1] == 0xFF;
}

constexpr unsigned char kThresholdUnset = 0xFF;
constexpr float kMinFirstSample = 0.0f;
constexpr float kMaxFirstSample = 150.0f;
constexpr int kMaxSampleStep = 10;
constexpr int kMaxFanDuty = 99;

}  // namespace

const C_rhxMCU::CommandInfo& C_rhxMCU::commandInfo(Command command) {
    static_assert(sizeof(kCommandTable) / sizeof(kCommandTable[0]) == CMD_COUNT,
                  "one table entry per command");
    return kCommandTable[command];
}

C_rhxMCU::C_rhxMCU() = default;

C_rhxMCU::~C_rhxMCU() {
    C_ObjectLock lock(m_lock);
    m_bus = nullptr;
}

int C_rhxMCU::initial(I_nkI2C* bus) {
    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    m_bus = bus;
    return QRT_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Exchanges

int C_rhxMCU::readData(unsigned long cmd, RHXMCU_READDATA* reply, unsigned int waitMs) {
    if (reply == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, deviceAccessLockOf(m_bus));
    if (!lock.held()) return lock.status();
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    unsigned char zeros[2] = {0, 0};
    int status = m_bus->writeI2C(cmd, 1, zeros, 2);
    if (status != QRT_SUCCESS) return status;
    I_CommonDef::Sleep(static_cast<int>(waitMs != 0 ? waitMs : kDefaultReadWaitMs));
    unsigned char answer[2];
    status = m_bus->readI2C(answer, 2, 0, 0);
    if (status != QRT_SUCCESS) return status;
    reply->data[0] = answer[0];
    reply->data[1] = answer[1];
    return QRT_SUCCESS;
}

int C_rhxMCU::writeData(unsigned long cmd, RHXMCU_WRITEDATA* data) {
    if (data == nullptr) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, deviceAccessLockOf(m_bus));
    if (!lock.held()) return lock.status();
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    return m_bus->writeI2C(cmd, 1, data->data, 2);
}

int C_rhxMCU::writeReadManualData(unsigned long cmd, unsigned char* buf, unsigned int writeLen,
                                  unsigned int readLen, unsigned int waitMs) {
    if (buf == nullptr || readLen == 0) return QRT_ERR_INVALID_PARAM;
    C_TransactionLock lock(m_lock, deviceAccessLockOf(m_bus));
    if (!lock.held()) return lock.status();
    if (m_bus == nullptr) return QRT_ERR_NOT_INITIALIZED;
    int status = m_bus->writeI2C(cmd, 1, buf, writeLen);
    if (status != QRT_SUCCESS) return status;
    I_CommonDef::Sleep(static_cast<int>(waitMs != 0 ? waitMs : readLen * kManualWaitPerByteMs));
    return m_bus->readI2C(buf, readLen, 0, 0);
}

int C_rhxMCU::read(Command command, RHXMCU_READDATA* reply) {
    const CommandInfo& info = commandInfo(command);
    return readData(info.code, reply, info.waitMs);
}

int C_rhxMCU::write(Command command, RHXMCU_WRITEDATA data) {
    return writeData(commandInfo(command).code, &data);
}

int C_rhxMCU::readFlag(Command command, int* enable) {
    if (enable == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(command, &reply);
    if (status == QRT_SUCCESS) *enable = parseEnable(reply);
    return status;
}

int C_rhxMCU::readByte(Command command, int* value) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(command, &reply);
    if (status == QRT_SUCCESS) *value = reply.data[0];
    return status;
}

// 16-bit values come least significant byte first.
int C_rhxMCU::readWord(Command command, unsigned int* value) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(command, &reply);
    if (status == QRT_SUCCESS) *value = reply.data[0] + 256u * reply.data[1];
    return status;
}

int C_rhxMCU::readTenths(Command command, float* value) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    unsigned int tenths = 0;
    int status = readWord(command, &tenths);
    if (status == QRT_SUCCESS) *value = static_cast<float>(tenths * 0.1);
    return status;
}

// ---------------------------------------------------------------------------------------------
// Identity and control

int C_rhxMCU::getVersion(char* text, unsigned int size) {
    if (text == nullptr || size == 0) return QRT_ERR_INVALID_PARAM;
    unsigned int version = m_versionByte.load();
    if (version == 0) {
        RHXMCU_READDATA reply;
        int status = read(CMD_VERSION, &reply);
        if (status != QRT_SUCCESS) return status;
        // A firmware still starting answers 0x00 or 0xFF; do not remember that.
        if (reply.data[0] == 0x00 || reply.data[0] == 0xFF) return QRT_ERR_FAILED;
        version = reply.data[0];
        m_versionByte.store(version);
    }
    const RHXMCU_READDATA cached = {{static_cast<unsigned char>(version), 0}};
    parseVersion(cached, text, size);
    return QRT_SUCCESS;
}

int C_rhxMCU::resetMCU() {
    return write(CMD_RESET, {{0, 0}});
}

int C_rhxMCU::isMCUBusy(int* busy) {
    if (busy == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(CMD_BUSY, &reply);
    if (status == QRT_SUCCESS) *busy = reply.data[0] & 0x01;
    return status;
}

int C_rhxMCU::getPoEState(RHXMCU_POESTATE* state) {
    if (state == nullptr) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(CMD_DEVICE_STATE, &reply);
    if (status == QRT_SUCCESS) parseDeviceState(reply, state);
    return status;
}

// ---------------------------------------------------------------------------------------------
// Port power

int C_rhxMCU::setPoEEnable(int* enables, unsigned int count) {
    if (enables == nullptr && count > 0) return QRT_ERR_INVALID_PARAM;
    return write(CMD_SET_POE_ENABLE, genPoEEnableList(enables, count, m_portCount));
}

int C_rhxMCU::getPoEEnable(int* enables, unsigned int count) {
    if (enables == nullptr && count > 0) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(CMD_GET_POE_ENABLE, &reply);
    if (status == QRT_SUCCESS) parsePoEEnableList(reply, enables, count, m_portCount);
    return status;
}

int C_rhxMCU::getPSERecvoeryPowerState(int* states, unsigned int count) {
    if (states == nullptr && count > 0) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(CMD_PSE_LAST_POWER_STATE, &reply);
    if (status == QRT_SUCCESS) parsePoELastStateList(reply, states, count, m_portCount);
    return status;
}

int C_rhxMCU::getPoEPortStatus(unsigned int port, unsigned int* poeClass, unsigned int* flag) {
    if (port >= m_portCount) return QRT_ERR_INVALID_PARAM;
    RHXMCU_READDATA reply;
    int status = read(static_cast<Command>(CMD_PORT0_STATUS + port), &reply);
    if (status != QRT_SUCCESS) return status;
    if (poeClass != nullptr) parsePoEClass(reply.data[0] & 0x07, poeClass);
    if (flag != nullptr) *flag = (reply.data[0] >> 3) & 0x01;
    return QRT_SUCCESS;
}

int C_rhxMCU::getConsumedPowerBudget(float* budget) {
    return readTenths(CMD_CONSUMED_POWER_BUDGET, budget);
}

int C_rhxMCU::getLeftPowerBudget(float* budget) {
    return readTenths(CMD_LEFT_POWER_BUDGET, budget);
}

int C_rhxMCU::setPowerBudgetControlEnable(int enable) {
    return write(CMD_SET_POWER_BUDGET_CONTROL, genEnable(enable));
}

int C_rhxMCU::getPowerBudgetControlEnable(int* enable) {
    return readByte(CMD_GET_POWER_BUDGET_CONTROL, enable);
}

// ---------------------------------------------------------------------------------------------
// Temperature

// One sample: up to three reads, as the firmware may still be converting (all-ones reply).
int C_rhxMCU::readTemperatureSample(float* sample) {
    int status = QRT_ERR_BUSY;
    for (int attempt = 0; attempt < kTemperatureSampleTries; ++attempt) {
        RHXMCU_READDATA reply;
        status = read(CMD_THERMAL_TEMPERATURE, &reply);
        if (status != QRT_SUCCESS) return status;
        if (isNoData(reply)) {
            status = QRT_ERR_BUSY;
            continue;
        }
        *sample = parseThermalTemperature(reply);
        I_CommonDef::Sleep(kTemperatureSamplePauseMs);
        return QRT_SUCCESS;
    }
    return status;
}

// The sensor occasionally returns a wild value; a reading counts only when a first sample is
// plausible and a second one agrees with it to within 10 degrees. The second is reported.
int C_rhxMCU::getThermalTemperature(float* temperature) {
    if (temperature == nullptr) return QRT_ERR_INVALID_PARAM;
    for (int attempt = 0; attempt < kTemperatureAttempts; ++attempt) {
        float first = 0.0f, second = 0.0f;
        int status = readTemperatureSample(&first);
        if (status == QRT_SUCCESS) status = readTemperatureSample(&second);
        if (status == QRT_ERR_NOT_INITIALIZED) return status;
        if (status != QRT_SUCCESS) continue;
        if (!(first > kMinFirstSample && first < kMaxFirstSample)) continue;
        const int step = static_cast<int>(second - first);  // truncated toward zero
        if (step < -kMaxSampleStep || step > kMaxSampleStep) continue;
        *temperature = second;
        return QRT_SUCCESS;
    }
    return QRT_ERR_BUSY;
}

int C_rhxMCU::setTemperatureProtectionEnable(int enable) {
    return write(CMD_SET_TEMPERATURE_PROTECTION, genEnable(enable));
}

int C_rhxMCU::getTemperatureProtectionEnable(int* enable) {
    return readFlag(CMD_GET_TEMPERATURE_PROTECTION, enable);
}

int C_rhxMCU::setProtectedTemperature(int degrees) {
    return write(CMD_SET_PROTECTED_TEMPERATURE, genProtectTemperature(degrees));
}

int C_rhxMCU::setRecoveryTemperature(int degrees) {
    return write(CMD_SET_RECOVERY_TEMPERATURE, genRecoveryTemperature(degrees));
}

// A threshold reads 0xFF while the firmware reloads its settings; ask up to three times and
// report 255 if it never settles.
int C_rhxMCU::readThreshold(Command command, int* degrees) {
    if (degrees == nullptr) return QRT_ERR_INVALID_PARAM;
    for (int attempt = 0; attempt < kThresholdReadTries; ++attempt) {
        RHXMCU_READDATA reply;
        int status = read(command, &reply);
        if (status != QRT_SUCCESS) return status;
        *degrees = command == CMD_GET_PROTECTED_TEMPERATURE ? parseProtectTemperature(reply)
                                                            : parseRecoveryTemperature(reply);
        if (reply.data[0] != kThresholdUnset) break;
    }
    return QRT_SUCCESS;
}

int C_rhxMCU::getProtectedTemperature(int* degrees) {
    return readThreshold(CMD_GET_PROTECTED_TEMPERATURE, degrees);
}

int C_rhxMCU::getRecoveryTemperature(int* degrees) {
    return readThreshold(CMD_GET_RECOVERY_TEMPERATURE, degrees);
}

// ---------------------------------------------------------------------------------------------
// Fan

int C_rhxMCU::setFanPWMDuty(int duty) {
    if (duty < 0 || duty > kMaxFanDuty) return QRT_ERR_INVALID_PARAM;
    return write(CMD_SET_FAN_DUTY, {{static_cast<unsigned char>(duty), 0}});
}

int C_rhxMCU::getFanPWMDuty(int* duty) {
    return readByte(CMD_GET_FAN_DUTY, duty);
}

int C_rhxMCU::getFanRPM(unsigned int* rpm) {
    return readWord(CMD_FAN_RPM, rpm);
}

int C_rhxMCU::setSmartFanEnable(int enable) {
    return write(CMD_SET_SMART_FAN, genEnable(enable));
}

int C_rhxMCU::getSmartFanEnable(int* enable) {
    return readFlag(CMD_GET_SMART_FAN, enable);
}

// ---------------------------------------------------------------------------------------------
// PSE register relay

int C_rhxMCU::writePSEOneByteData(unsigned char reg, unsigned char value) {
    return write(CMD_PSE_WRITE_ONE_BYTE, {{reg, value}});
}

// The firmware first needs the register selected (a relay write of the register number), then
// performs the read on the PSE's bus and answers with the register number as an echo followed
// by the value. An echo of another register means the answer belongs to someone else.
int C_rhxMCU::readPSERegister(Command command, unsigned char reg, unsigned char* value,
                              unsigned int valueLength) {
    if (value == nullptr) return QRT_ERR_INVALID_PARAM;
    // Selection and read are one relay transaction: another thread's or process's selection in
    // between would make the answer belong to another register.
    C_TransactionLock lock(m_relayLock, deviceAccessLockOf(m_bus));
    if (!lock.held()) return lock.status();
    writePSEOneByteData(reg, 0);
    I_CommonDef::Sleep(kPSESelectPauseMs);
    unsigned char buf[3] = {reg, 0, 0};
    const CommandInfo& info = commandInfo(command);
    int status = writeReadManualData(info.code, buf, 2, valueLength + 1, info.waitMs);
    if (status != QRT_SUCCESS) return status;
    if (buf[0] != reg) return QRT_ERR_FAILED;
    for (unsigned int i = 0; i < valueLength; ++i) value[i] = buf[1 + i];
    return QRT_SUCCESS;
}

int C_rhxMCU::readPSEOneByteData(unsigned char reg, unsigned char* value) {
    return readPSERegister(CMD_PSE_READ_ONE_BYTE, reg, value, 1);
}

int C_rhxMCU::readPSETwoByteData(unsigned char reg, unsigned char* value2) {
    return readPSERegister(CMD_PSE_READ_TWO_BYTES, reg, value2, 2);
}
