#include "core/controllers/rhxmcu/A_rhxMCU.h"

#include <cstdio>

#include "QRT_Types.h"

// ---------------------------------------------------------------------------------------------
// Word formats of the command set

RHXMCU_WRITEDATA A_rhxMCU::genEnable(int enable) {
    return {{static_cast<unsigned char>(enable ? 1 : 0), 0}};
}

int A_rhxMCU::parseEnable(const RHXMCU_READDATA& reply) {
    return reply.data[0] != 0 ? 1 : 0;
}

RHXMCU_WRITEDATA A_rhxMCU::genProtectTemperature(int degrees) {
    return {{static_cast<unsigned char>(degrees & 0xFF), 0}};
}

int A_rhxMCU::parseProtectTemperature(const RHXMCU_READDATA& reply) {
    return reply.data[0];
}

RHXMCU_WRITEDATA A_rhxMCU::genRecoveryTemperature(int degrees) {
    return {{static_cast<unsigned char>(degrees & 0xFF), 0}};
}

int A_rhxMCU::parseRecoveryTemperature(const RHXMCU_READDATA& reply) {
    return reply.data[0];
}

float A_rhxMCU::parseThermalTemperature(const RHXMCU_READDATA& reply) {
    const unsigned int raw = (reply.data[1] & 0x7Fu) * 256u + (reply.data[0] & 0xFCu);
    const float magnitude = static_cast<float>(raw) / 128.0f;
    return (reply.data[1] & 0x80) ? -magnitude : magnitude;
}

void A_rhxMCU::parseDeviceState(const RHXMCU_READDATA& reply, RHXMCU_POESTATE* state) {
    const unsigned char b = reply.data[0];
    state->stateBit0 = b & 0x01;
    state->stateBit1 = (b >> 1) & 0x01;
    state->powerSource = (b >> 2) & 0x03;
    state->stateBit5 = (b >> 5) & 0x01;
    state->bit6Code = (b & 0x40) ? 2 : 4;
}

void A_rhxMCU::parseVersion(const RHXMCU_READDATA& reply, char* text, unsigned int size) {
    std::snprintf(text, size, "%d.%d", reply.data[0] >> 4, reply.data[0] & 0x0F);
}

RHXMCU_WRITEDATA A_rhxMCU::genPoEEnableList(const int* enables, unsigned int count,
                                            unsigned int portCount) {
    RHXMCU_WRITEDATA word = {{0, 0}};
    for (unsigned int i = 0; i < portCount && i < count && i < 4; ++i) {
        const unsigned int code = enables[i] ? 2u : 1u;
        word.data[0] |= static_cast<unsigned char>(code << (2 * i));
    }
    return word;
}

void A_rhxMCU::parsePoEEnableList(const RHXMCU_READDATA& reply, int* enables, unsigned int count,
                                  unsigned int portCount) {
    for (unsigned int i = 0; i < portCount && i < count && i < 4; ++i)
        enables[i] = ((reply.data[0] >> (2 * i)) & 0x03) == 2 ? 1 : 0;
}

void A_rhxMCU::parsePoELastStateList(const RHXMCU_READDATA& reply, int* states, unsigned int count,
                                     unsigned int portCount) {
    for (unsigned int i = 0; i < portCount && i < count && i < 8; ++i)
        states[i] = (reply.data[0] >> i) & 0x01;
}

void A_rhxMCU::parsePoEClass(unsigned int code, unsigned int* poeClass) {
    switch (code & 0x07) {
        case 0:
            *poeClass = 65535;
            break;
        case 6:
            *poeClass = 0;
            break;
        case 7:
            *poeClass = 255;
            break;
        default:
            *poeClass = code & 0x07;
            break;
    }
}
