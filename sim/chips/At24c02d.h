#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
class At24c02d : public I2cSlave {
  public:
    static constexpr uint8_t kAddress = 0x50;
    static constexpr unsigned kSize = 256;
    static constexpr unsigned kPageSize = 8;

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
    // After each programmed write the device ignores its address for `starts` start
    // conditions, as during its internal write cycle.
    void setWriteCycleNacks(unsigned starts);

    std::vector<PageWrite> pageWrites() const;
    void clearPageWrites();

    // Decoded lines for the rig's trace: one per programmed page write.
    void setTrace(std::function<void(const std::string&)> trace);

  private:
    void program();

    mutable std::mutex mutex_;
    std::array<uint8_t, kSize> memory_;
    uint8_t counter_ = 0;
    bool writing_ = false;
    bool addressPending_ = false;
    std::vector<std::pair<uint8_t, uint8_t>> pageBuffer_;  // word address, byte
    uint8_t firstAddress_ = 0;
    bool writeProtect_ = false;
    unsigned writeCycleNacks_ = 0;
    unsigned busyStarts_ = 0;
    std::vector<PageWrite> writes_;
    std::function<void(const std::string&)> trace_;
    Violations violations_{"eeprom"};
};

}  // namespace qrtsim
