#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/ChipClock.h"
#include "sim/chips/I2cSlave.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The PoE frame-grabber cards' microcontroller (I2C address 0x2D), seen from the chip's side.
//
// Every exchange is a three-byte write: the command byte and a two-byte data word. The
// firmware acts on it at the stop condition. A read command makes it prepare a reply, which the
// host's next plain read clocks out (two bytes, three for the two-byte PSE relay) once it is
// ready: 20 ms after the command, 100 ms for the temperature, 75 ms and 150 ms for the PSE
// relays. It supervises the PSE (the PoE power chip, whose registers it relays with commands
// 0x87, 0x97 and 0x88), the card temperature and its protection thresholds, the power budget
// and the fan.
//
// The firmware is strict about its protocol, and counts every breach as a violation:
//   - an unknown command byte is not acknowledged;
//   - the data word of a read command must be zero, byte 1 of a setter must be zero, a switch
//     must be 0 or 1, a fan duty 0..99, a PoE enable code 1, 2 or 0 (keep); otherwise the
//     setting is refused;
//   - a relayed PSE read (0x87, 0x97) needs the register selected with 0x88 at least 20 ms
//     before; without it the relay answers with the register it has selected (or 0xFF);
//   - a reply read before it is ready, or a second read without a new command, clocks out the
//     idle level 0xFF; a command while a reply is still being prepared is dropped;
//   - a read must end with a byte the host does not acknowledge, and must not run past the
//     reply;
//   - a protection or recovery temperature that would put the recovery threshold above the
//     protection threshold it holds at that moment is refused (the host must order the two
//     writes so that they never cross).
// Replies carry the full value ranges: the two lowest bits of a temperature code hold the
// sensor's sub-resolution noise, and a port the host enabled but the protection holds off
// reports enable code 3.
class RhxMcu : public I2cSlave {
  public:
    static constexpr uint8_t kAddress = 0x2D;
    static constexpr int kPorts = 4;

    // The firmware's settings and sensors. Temperatures in whole degrees Celsius, budgets in
    // tenths of a watt.
    struct Settings {
        double temperature = 41.0;
        std::array<bool, kPorts> poeEnabled{{true, true, true, true}};
        uint8_t lastPowerStates = 0x0F;  // bit i: port i was on; restored after protection
        uint8_t protectTemperature = 100;
        uint8_t recoveryTemperature = 85;
        bool temperatureProtection = true;
        uint8_t powerBudgetControl = 0;
        uint16_t consumedBudget = 0;  // tenths of a watt
        uint16_t leftBudget = 600;
        // The budget the card's power input allows, in tenths of a watt. When set, the
        // firmware books the allocation of every powered port against it and reports the
        // consumed and remaining budget from that instead of the two fixed values above.
        uint16_t totalBudget = 0;
        uint8_t fanDuty = 60;  // percent
        bool smartFan = false;
        unsigned fanFullSpeedRpm = 6000;
        bool busy = false;
        uint8_t version = 0x15;  // high nibble major, low nibble minor
        int powerSource = 0;     // 0..3, device-state bits 3..2
        uint8_t stateFlags = 0;  // the other device-state bits (0, 1, 4..7)
        unsigned resets = 0;
    };

    // A powered device on a PoE port as the PSE measures it.
    struct PortDevice {
        uint8_t classCode = 0;    // PSE class code 1..7; 0 = nothing connected
        uint16_t voltage = 0;     // PSE counts (5.835 mV each)
        uint16_t current = 0;     // PSE counts (122.07 uA each)
        uint16_t allocation = 0;  // tenths of a watt booked against the budget while powered
    };

    // One exchange as the firmware received it.
    struct Command {
        uint8_t command;
        uint8_t data0;
        uint8_t data1;
        bool operator==(const Command& o) const {
            return command == o.command && data0 == o.data0 && data1 == o.data1;
        }
    };

    // PSE registers with a meaning here (the rest are plain read-write cells).
    static constexpr uint8_t kPsePortStatus = 0x0C;   // + port: class in 6..4, detection in 2..0
    static constexpr uint8_t kPsePowerStatus = 0x10;  // power enable 3..0, power good 7..4
    static constexpr uint8_t kPseCurrent = 0x30;      // + 4 x port, two bytes little-endian
    static constexpr uint8_t kPseVoltage = 0x32;      // + 4 x port, two bytes little-endian

    RhxMcu();

    // I2cSlave
    bool start(bool read) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte(bool last) override;
    void stop() override;
    void saveState(nlohmann::json& out) const override;

    Settings settings() const;
    void setSettings(const Settings& settings);
    void setTemperature(double celsius);
    // Readings the temperature command reports first, one per command, before the steady
    // temperature again.
    void queueTemperatureSamples(const std::vector<double>& celsius);
    void setPortDevice(int port, const PortDevice& device);
    // Whether the firmware has cut the ports for over-temperature.
    bool overTemperature() const;

    uint8_t pseRegister(uint8_t reg) const;
    void setPseRegister(uint8_t reg, uint8_t value);

    // Fault modes: reply 0xFF to the next `times` exchanges of `command` (negative: always);
    // never acknowledge the address; answer the next `times` relay reads with a wrong echo.
    void answerFF(uint8_t command, int times);
    void setSilent(bool silent);
    void corruptEchoes(int times);

    std::vector<Command> commandLog() const;
    void clearCommandLog();

    // Decoded lines for the rig's trace: one per command the firmware acts on.
    void setTrace(std::function<void(const std::string&)> trace);
    // The time line replies become ready on (steady time by default).
    void setClock(const ChipClock& clock);

    const Violations& violations() const { return violations_; }

    // Encoding of the temperature reply: sign bit, then the magnitude in 1/128 degree; the
    // sensor resolves 1/32 degree and `noise` (0..3) fills the two bits below.
    static std::array<uint8_t, 2> encodeTemperature(double celsius, unsigned noise = 0);

  private:
    void execute(const Command& c);
    bool dataWordValid(const Command& c);
    std::vector<uint8_t> replyFor(const Command& c);
    std::vector<uint8_t> relayReply(const Command& c);
    void endRead();
    bool portPowered(int port) const;
    uint8_t readPse(uint8_t reg) const;
    void writePse(uint8_t reg, uint8_t value);
    void updateProtection();
    uint8_t deviceState() const;
    void budgets(uint16_t& consumed, uint16_t& left) const;
    void traceCommand(const Command& c) const;

    mutable std::mutex mutex_;
    Settings settings_;
    std::deque<double> samples_;
    std::array<PortDevice, kPorts> devices_{};
    std::array<uint8_t, 256> pse_{};
    bool tripped_ = false;

    std::map<uint8_t, int> ffReplies_;
    bool silent_ = false;
    int corruptEchoes_ = 0;

    // Wire state.
    const ChipClock* clock_ = &ChipClock::steady();
    std::vector<uint8_t> received_;
    bool writing_ = false;
    bool dropped_ = false;  // a byte of this write was not acknowledged
    bool reading_ = false;
    bool lastNacked_ = true;  // the host did not acknowledge the last byte it read
    bool overrun_ = false;
    std::vector<uint8_t> reply_;  // what the current read clocks out
    size_t replyPos_ = 0;
    bool replyPending_ = false;  // a read command's reply that no read has taken yet
    std::vector<uint8_t> pending_;
    ReadyAt replyReady_;
    int selectedPse_ = -1;  // the PSE register the relay has selected (0x88), -1: none
    ReadyAt selectDone_;
    unsigned noise_ = 0;
    std::vector<Command> log_;
    std::function<void(const std::string&)> trace_;
    Violations violations_{"mcu"};
};

}  // namespace qrtsim
