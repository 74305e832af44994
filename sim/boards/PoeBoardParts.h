#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/boards/Board.h"
#include "sim/chips/At24c02d.h"
#include "sim/chips/RhxMcu.h"

namespace qrtsim {

// What every PoE board of the kit (the frame-grabber cards and the embedded system's PoE
// board) makes of the rig keys for its card microcontroller and its identity EEPROM.
namespace poe_board {

// The identity EEPROM's layout: port MAC addresses in 8-byte slots from 0x00, the serial
// number at 0x40 and the part number at 0x60, each text NUL-padded to its 32-byte field.
constexpr uint8_t kMacSlot = 0x00;  // port i at kMacSlot + 8 * i
constexpr uint8_t kSerialNumberField = 0x40;
constexpr uint8_t kPartNumberField = 0x60;
constexpr unsigned kTextField = 32;  // bytes, terminator included

// The MAC address a port gets when the rig file gives none: locally administered, derived
// from the section name so that it is the same on every run.
std::array<uint8_t, 6> defaultMac(const std::string& section, unsigned port);

// The microcontroller as the keys mcu_version ("major.minor", default 2.1), temperature,
// power_source and poe_class0..N-1 set it up for a board with `ports` camera ports; `fan`:
// the board's fan has a tachometer.
void configureMcu(RhxMcu& mcu, const BoardConfig& config, unsigned ports, bool fan);

// The EEPROM as the factory programs it: MAC addresses (keys mac0..N-1, each unicast and
// distinct), serial number (key sn, default `serialPrefix` and seven digits derived from the
// section) and part number (key pn, default `partNumber`; none when both are empty).
void programIdentity(At24c02d& eeprom, const BoardConfig& config, unsigned ports,
                     const std::string& serialPrefix, const std::string& partNumber);

// The identity as the EEPROM holds it now: {"mac": [...], "sn", "pn", "board_part_number"}.
nlohmann::json identityState(const At24c02d& eeprom, unsigned ports);

}  // namespace poe_board

}  // namespace qrtsim
