#pragma once

// The real SDK controllers wired in-process onto the chip models, as a card wires them:
//
//   SPI card:  C_rhxSPICPLD -> C_nkPex8608 -> SimPciMap -> PexSwitch model -> RhxCpld (serial)
//   10G card:  C_rhxI2CCPLD -> HostI2c (an Ethernet controller's I2C master) -> RhxCpld (0x42)
//
// and behind the CPLD's own I2C master the card microcontroller (0x2D) and the EEPROM (0x50).
// The models run on the program's recorded pauses (the program's pauses are instant), so they
// find the SDK's waits exactly as long as it asked for.

#include <cstdint>
#include <vector>

#include "core/bus/I_nkI2C.h"
#include "core/bus/I_nkPCISwitcher.h"
#include "core/controllers/cpld/C_rhxCPLDFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/PexSwitch.h"
#include "sim/chips/RhxCpld.h"
#include "sim/chips/RhxMcu.h"
#include "support/ChipClocks.h"
#include "support/SimPciMap.h"

namespace qrttest {

struct FrameLog : qrtsim::FrameSink {
    std::vector<std::vector<uint8_t>> frames;
    void emitFrame(const std::vector<uint8_t>& frame) override { frames.push_back(frame); }
};

// An I2C master of the kind the 10-gigabit card's Ethernet controller has: a write is one
// message (register address, then data, zeros for a null buffer); a read moves two bytes per
// command, each command setting the register address again.
class HostI2c : public I_nkI2C {
  public:
    explicit HostI2c(qrtsim::I2cBus& bus) : bus_(bus) {}
    unsigned writes = 0;
    unsigned reads = 0;

    int setI2CSlave(unsigned long slave) override {
        slave_ = static_cast<uint8_t>(slave);
        return 0;
    }
    int writeI2C(unsigned long regAddr, unsigned int regAddrSize, unsigned char* data,
                 unsigned int length) override {
        ++writes;
        std::vector<uint8_t> bytes;
        for (unsigned i = 0; i < regAddrSize; ++i) bytes.push_back(uint8_t(regAddr >> (8 * i)));
        for (unsigned i = 0; i < length; ++i) bytes.push_back(data != nullptr ? data[i] : 0);
        return message(bytes) ? 0 : -1;
    }
    int readI2C(unsigned char* buffer, unsigned int length, unsigned long regAddr,
                unsigned int regAddrSize) override {
        ++reads;
        for (unsigned offset = 0; offset < length; offset += 2) {
            std::vector<uint8_t> address;
            for (unsigned i = 0; i < regAddrSize; ++i)
                address.push_back(uint8_t((regAddr + offset) >> (8 * i)));
            if (regAddrSize != 0 && !message(address)) return -1;
            if (!bus_.start(slave_, true)) {
                bus_.stop();
                return -1;
            }
            for (unsigned i = offset; i < length && i < offset + 2; ++i)
                buffer[i] = bus_.readByte(i + 1 == length || i == offset + 1);
            bus_.stop();
        }
        return 0;
    }
    int getI2CDataBlockSize(unsigned int* size) override { return put(size, 1); }
    int getI2CRegisterAdrSize(unsigned int* size) override { return put(size, 1); }
    int getI2CDataAccessSize(unsigned int* size) override { return put(size, 2); }

  private:
    static int put(unsigned int* size, unsigned value) {
        if (size == nullptr) return -11;
        *size = value;
        return 0;
    }
    bool message(const std::vector<uint8_t>& bytes) {
        bool ok = bus_.start(slave_, false);
        for (size_t i = 0; ok && i < bytes.size(); ++i) ok = bus_.writeByte(bytes[i]);
        bus_.stop();
        return ok;
    }
    qrtsim::I2cBus& bus_;
    uint8_t slave_ = 0;
};

// The chips behind every CPLD, and the CPLD model itself.
struct CardChips {
    RecordedPauseClock clock;
    FrameLog frames;
    qrtsim::RhxCpld cpld{&frames};
    qrtsim::RhxMcu mcu;
    qrtsim::At24c02d eeprom;
    C_rhxCPLDFactory cpldFactory;
    I_rhxCPLD* sdk = nullptr;  // the SDK's CPLD object under test
    int bindStatus = -1;

    CardChips() {
        cpld.masterBus().attach(qrtsim::RhxMcu::kAddress, &mcu);
        cpld.masterBus().attach(qrtsim::At24c02d::kAddress, &eeprom);
        cpld.setClock(clock);
        mcu.setClock(clock);
        eeprom.setClock(clock);
    }
};

struct SpiCard : CardChips {
    static constexpr bool kSerial = true;
    qrtsim::PexSwitch pex{qrtsim::PexSwitch::pex8608()};
    SimPciMap map{pex};
    C_nkPCISwitcherFactory switches;

    SpiCard() {
        pex.attachSerialDevice(&cpld.spiPort());
        pex.setClock(clock);
        I_nkPCISwitcher* sw = switches.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
        sdk = cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
        if (sw != nullptr && sdk != nullptr && sw->initial(static_cast<I_pciMap*>(&map)) == 0)
            bindStatus = sdk->initial(static_cast<I_nkSPI*>(sw));
    }
};

struct I2cCard : CardChips {
    static constexpr bool kSerial = false;
    static constexpr uint8_t kCpldAddress = qrtsim::RhxCpld::kI2cAddress;
    qrtsim::I2cBus hostBus;
    HostI2c host{hostBus};

    I2cCard() {
        hostBus.attach(kCpldAddress, &cpld.i2cPort());
        host.setI2CSlave(kCpldAddress);
        sdk = cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_I2C);
        if (sdk != nullptr) bindStatus = sdk->initial(static_cast<I_nkI2C*>(&host));
    }
};

}  // namespace qrttest
