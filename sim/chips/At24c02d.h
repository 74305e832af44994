#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/I2cSlave.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// Microchip AT24C02D: a 256-byte serial EEPROM with a one-byte word address and 8-byte pages.
//
// A write is the word address followed by data bytes; the bytes collect in the page buffer and
// are programmed at the stop condition. The address counter wraps inside the 8-byte page while
// data comes in, so a write that runs past the end of a page continues at the page's first
// byte (and more than eight bytes overwrite the earliest ones). A write broken off by a
// repeated start programs nothing. Reads continue from the address counter and roll over from
// 255 to 0; a write of the word address alone only sets the counter (the "dummy write" in
// front of a random read).
//
// Programming takes the write cycle (5 ms by the chip clock) after the stop; until it is over
// the device does not acknowledge its address. Counted as violations: an address sent during
// the write cycle, a page write that runs past the end of its page (the bytes wrap onto the
// page's first ones), and a read that the host ends by acknowledging the last byte.
class At24c02d : public I2cSlave {
  public:
    static constexpr uint8_t kAddress = 0x50;
    static constexpr unsigned kSize = 256;
    static constexpr unsigned kPageSize = 8;
    static constexpr uint64_t kWriteCycleUs = 5000;

    // One programmed page write: first word address and the number of bytes programmed.
    struct PageWrite {
        uint8_t address;
        unsigned length;
    };

    At24c02d();

    // I2cSlave
    bool start(bool read) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte(bool last) override;
    void stop() override;
    void saveState(nlohmann::json& out) const override;

    // Factory programming and inspection.
    void load(uint8_t address, const std::vector<uint8_t>& bytes);  // rolls over like a read
    std::array<uint8_t, kSize> contents() const;
    uint8_t addressCounter() const;

    // The write-protect pin: data bytes are not acknowledged and nothing is programmed.
    void setWriteProtect(bool on);
    // The time line the write cycle runs on (steady time by default).
    void setClock(const ChipClock& clock);
    // Whether the last programmed write is still being programmed.
    bool inWriteCycle() const;
    // Fault injection: a write cycle of another length than the datasheet's 5 ms.
    void setWriteCycleUs(uint64_t us);
    const Violations& violations() const { return violations_; }

    std::vector<PageWrite> pageWrites() const;
    void clearPageWrites();

    // Decoded lines for the rig's trace: one per programmed page write.
    void setTrace(std::function<void(const std::string&)> trace);

  private:
    void program();
    void endRead();

    mutable std::mutex mutex_;
    std::array<uint8_t, kSize> memory_;
    uint8_t counter_ = 0;
    bool writing_ = false;
    bool addressPending_ = false;
    std::vector<std::pair<uint8_t, uint8_t>> pageBuffer_;  // word address, byte
    uint8_t firstAddress_ = 0;
    bool writeProtect_ = false;
    const ChipClock* clock_ = &ChipClock::steady();
    ReadyAt writeCycle_;
    uint64_t writeCycleUs_ = kWriteCycleUs;
    bool reading_ = false;
    bool lastNacked_ = true;
    std::vector<PageWrite> writes_;
    std::function<void(const std::string&)> trace_;
    Violations violations_{"eeprom"};
};

}  // namespace qrtsim
