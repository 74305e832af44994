#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/FaultTable.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/PciFunction.h"

namespace qrtsim {

// A rig file error; the message names the file, the section and the key.
class RigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One section of a rig file: the board's model and its keys, with typed accessors that throw
// RigError naming file, section and key for a bad value.
class BoardConfig {
  public:
    std::string file;
    std::string section;
    std::map<std::string, std::string> values;  // every key of the section, model included

    bool has(const std::string& key) const { return values.count(key) != 0; }
    std::string text(const std::string& key, const std::string& fallback) const;
    // Decimal or 0x-hex integer within [min, max].
    long long integer(const std::string& key, long long fallback, long long min,
                      long long max) const;
    double number(const std::string& key, double fallback, double min, double max) const;
    // "aa:bb:cc:dd:ee:ff".
    std::array<uint8_t, 6> mac(const std::string& key,
                               const std::array<uint8_t, 6>& fallback) const;
    [[noreturn]] void fail(const std::string& key, const std::string& message) const;
};

// Ethernet frames a board emits (the CPLD's trigger-over-Ethernet sender); `qrt-sim --pcap`.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void emitFrame(const std::vector<uint8_t>& frame) = 0;
    // A frame that leaves through camera port `port` of the board; the rig also puts it on
    // the cable of that port.
    virtual void emitPortFrame(int port, const std::vector<uint8_t>& frame) {
        (void)port;
        emitFrame(frame);
    }
};

// What the rig offers the boards it builds.
struct BoardContext {
    FrameSink* frames = nullptr;                    // never null inside the rig
    std::function<void(const std::string&)> trace;  // decoded trace line; may be empty
    // The time line the board's chips measure the other side's waits on (the rig's clock:
    // real time plus the pauses the requesting process had skipped). Never null.
    const ChipClock* clock = &ChipClock::steady();
    // The seed of the board's latency draws (the rig's seed mixed with the board's section); 0:
    // every chip takes its typical time.
    uint64_t seed = 0;
};

// One product of the rig, assembled from chip models with the product's wiring.
class Board {
  public:
    virtual ~Board() = default;
    // PCI functions the board puts on the bus, in enumeration order.
    virtual std::vector<PciFunction*> pciFunctions() { return {}; }
    // Linux I2C adapters the board provides: adapter number -> bus.
    virtual std::map<int, I2cBus*> i2cAdapters() { return {}; }
    // Hardware state for `qrt-sim --state`.
    virtual void saveState(nlohmann::json& out) const = 0;
    // The fault tables of the board's chips, by the names control lines give them ("switch",
    // "cpld", "mcu", "eeprom", "lan0", "dio"): "<section> fault <chip> ..." sets a fault there.
    virtual std::map<std::string, FaultTable*> faultTables() { return {}; }
};

// A board model of the rig. `keys` lists keys this model accepts beyond the common ones.
struct BoardType {
    std::string model;  // the product's model string, as in "PCIe-W504"
    std::vector<std::string> keys;
    std::function<std::unique_ptr<Board>(const BoardConfig&, BoardContext&)> make;
    // Keys of `keys` whose value may be empty (an empty list).
    std::vector<std::string> listKeys = {};
};

void registerBoardType(BoardType type);
const BoardType* findBoardType(const std::string& model);
std::vector<std::string> boardModels();
// Keys every board accepts (model, sn, pn, card_id, pcb_version, ..., temperature).
const std::vector<std::string>& commonBoardKeys();

// Registers a board type at load time of the rig library: `static BoardRegistrar r{{...}};`
struct BoardRegistrar {
    explicit BoardRegistrar(BoardType type) { registerBoardType(std::move(type)); }
};

}  // namespace qrtsim
