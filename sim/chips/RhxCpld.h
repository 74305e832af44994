#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/boards/Board.h"
#include "sim/chips/ChipClock.h"
#include "sim/chips/I2cBus.h"
#include "sim/chips/I2cSlave.h"
#include "sim/chips/Latency.h"
#include "sim/chips/SerialPortDevice.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The frame-grabber cards' CPLD, seen from the chip's side.
//
// One register file with two address maps: cards with a PCIe switch reach it through the
// switch's serial-EEPROM port (spiPort(): 32-bit words, register address = block index x 4,
// trigger-over-Ethernet block at 0x1000, I2C master at 0x2000), the 10-gigabit card through
// its Ethernet controller's I2C master (i2cPort(): an I2C device with a one-byte register
// pointer, the same block at 0x00 and the I2C master at 0x50, two data bytes per access).
//
// The CPLD is an I2C master of its own: it drives masterBus(), on which the card
// microcontroller and the identity EEPROM sit. It also keeps a 64-byte packet per camera port
// and pushes it to the Ethernet controllers as an SMBus block write when the host or the
// trigger input asks; every frame sent goes to the board's FrameSink.
//
// What the CPLD does not take, it counts as a violation (and ignores a write of it):
//   - an address inside its register blocks that is no register, a write to a read-only word;
//   - reserved bits that are not zero: bytes 1..3 of the I2C start word and of the write-byte
//     word, control bits 7..6, delay bits 31..24, byte 3 of the SMBus header, bytes 1..3 of the
//     SMBus start word, the data of the SMBus stop and of the counter reset; bytes 2..3 of a
//     packet-memory word, which must be all ones;
//   - on the serial face: any access while the CPLD is still carrying out the previous one (it
//     shows bit 9 of the status word until the host has read the status once after it);
//   - on the I2C face: any access within 5 ms of a register write, which the CPLD is still
//     carrying out (its address is not acknowledged meanwhile);
//   - its I2C master asked to send or read a byte outside a transfer in that direction, and a
//     byte read before the master has clocked it in (1 ms after the CPLD took up the trigger:
//     on the I2C face when the trigger's write is carried out, on the serial face when the
//     host has collected the status that showed it idle); the register holds the last byte;
//   - a packet not closed with 0xFF at address 0x00 and then 0x00 at 0xFF, or an address
//     beyond the packet outside that pair.
// How many status reads the serial face stays busy is drawn from the seed (1 or 2); at the
// slow end ("slow" fault or key) 999, the most its users wait.
// Faults (qrt-sim --control "<section> fault cpld ..."), kept in the table of the port the board
// wires: "busy", every start of its I2C master finds the bus busy; "error", every byte its
// master writes fails (the write-failed bit); "slow", see above; and the faults of its kind of
// device on that port ("ff" on the serial face, "nack" and "ff" on the I2C face). Addresses outside
// its blocks select nothing on the CPLD: writes go nowhere and reads return the idle level (all
// ones), without a violation, as the kit's detection reads other boards' registers (the USB3 cards'
// microcontroller mailboxes) on every card of the serial port.
class RhxCpld {
  public:
    static constexpr int kPorts = 4;
    static constexpr unsigned kPacketBytes = 64;
    // Where the 10-gigabit card puts i2cPort() on its Ethernet controller's I2C bus.
    static constexpr uint8_t kI2cAddress = 0x42;

    // I2C master status word bits.
    static constexpr uint32_t kStatusAck = 0x100;          // the addressed slave acknowledged
    static constexpr uint32_t kStatusSpiBusy = 0x200;      // still processing a serial access
    static constexpr uint32_t kStatusBusBusy = 0x400;      // the start found the bus busy
    static constexpr uint32_t kStatusWriteFailed = 0x800;  // the last byte was not acknowledged

    // What the version registers report.
    struct Version {
        // Stamped: the serial map's version word holds the marker 0xF0F0F0F0 and the stamp
        // sits in a date and a time word (on the I2C map the stamp is always there).
        // Packed: older CPLDs carry the whole stamp in the version word.
        bool packed = false;
        uint32_t date = 0x20190423;  // year 31..16, month 15..8, day 7..0, read as hex digits
        uint32_t time = 0x00001530;  // hour 15..8, minute 7..0
        // year - 2000 in 31..28, month 27..24, day 23..16, hour 15..8, minute 7..0
        uint32_t packedWord = 0x73150930;
    };
    static constexpr uint32_t kVersionMarker = 0xF0F0F0F0;

    // The trigger-over-Ethernet control word, decoded.
    struct ToeControl {
        bool triggerEnable = false;
        bool edgeSelectA = false;  // fire on a rising edge of the trigger input
        bool edgeSelectB = false;  // fire on a falling edge
        bool oneTriggerAll = false;
        bool dpramReadBack = false;
        bool triggerSource = false;
        uint32_t exTriggerDebounce = 0;  // 24 bits
    };

    // What the I2C master did, for tests and the state dump.
    struct MasterCounters {
        unsigned starts = 0;      // start commands, busy ones included
        unsigned busyStarts = 0;  // starts refused because the bus was busy
        unsigned nackedStarts = 0;
        unsigned stops = 0;
        unsigned bytesWritten = 0;  // byte writes the slave acknowledged
        unsigned failedWrites = 0;
        unsigned byteReads = 0;
        unsigned finalReads = 0;
        unsigned wordReads = 0;
    };

    explicit RhxCpld(FrameSink* frames = nullptr);
    RhxCpld(const RhxCpld&) = delete;
    RhxCpld& operator=(const RhxCpld&) = delete;

    // The two ways in. A board wires exactly one of them.
    SerialPortDevice& spiPort() { return spiPort_; }
    I2cSlave& i2cPort() { return i2cPort_; }
    // The bus the CPLD's own I2C master drives.
    I2cBus& masterBus() { return masterBus_; }

    // Configuration.
    void setVersion(const Version& version);
    // The board identity the 10-gigabit card's CPLD reports: the word at 0x0C carries the
    // PCB revision in bits 2..0 of byte 0 (the bits above it are the board's assembly
    // variant), byte 2 of the word at 0x7C (I2C byte address 0x7E) the card identifier.
    void setBoardIdentity(uint8_t pcbByte, uint8_t cardId);
    void setFrameSink(FrameSink* frames);
    // SMBus address of the Ethernet controllers that take the packets; 0 accepts any header.
    void setSmbusTarget(uint8_t address);
    // The time line of the I2C face's write time (steady time by default).
    void setClock(const ChipClock& clock);
    // Seeds the draws of how long the serial face stays busy after an access.
    void setSeed(uint64_t seed);
    // The bit time of the master that drives the I2C face (10 us at 100 kHz): a write is
    // carried out from its stop, which comes that many bit times after the command that
    // started it (0: a master that takes no time on the wire).
    void setI2cBitTime(uint64_t microseconds);
    // Decoded lines for the rig's trace: every I2C message of the master (at its stop or
    // repeated start) and every packet sent.
    void setTrace(std::function<void(const std::string&)> trace);

    // Fault injection: the next `starts` start commands find the bus busy; the next `bytes`
    // byte writes are lost on the wire; the next `reads` status reads show the serial-access
    // busy flag.
    void injectBusBusy(unsigned starts);
    void injectByteWriteFailures(unsigned bytes);
    void injectSpiBusy(unsigned reads);

    // The trigger input of a port changed level. When triggers are enabled and the edge is
    // one the control word selects, the port (or every port in one-trigger-all mode) counts
    // the trigger and sends its packet.
    void triggerInput(int port, bool rising);

    // Observation.
    uint32_t registerWord(uint32_t i2cOffset) const;  // latched word at an I2C-map offset
    ToeControl toeControl() const;
    std::array<uint8_t, kPacketBytes> packet(int port) const;
    uint16_t triggerCount(int port) const;
    uint16_t sentCount(int port) const;
    uint32_t triggerDelay(int port) const;  // 24 bits
    uint8_t smbusStartMask() const;
    uint32_t masterStatus() const;
    MasterCounters masterCounters() const;
    unsigned violationCount() const;

    void saveState(nlohmann::json& out) const;

  private:
    bool faulted(const char* mode) const;
    // A register of the common map, as the I2C map numbers it.
    enum class Reg {
        None,     // not the CPLD's address
        Unknown,  // inside a register block, but no register
        SmbusHeader,
        SmbusStart,
        SmbusStop,
        ToeControl,
        Dpram,
        Counter,
        Delay,
        MasterControl,
        MasterWriteByte,
        MasterReadByte,
        MasterStop,
        MasterReadFinal,
        MasterReadFour,
        VersionTime,
        VersionDate,
        VersionWord,
        PcbVersion,
        CardId,
    };
    struct Slot {
        Reg reg = Reg::None;
        int port = 0;
        uint32_t offset = 0;  // I2C-map offset of the word (latch index)
    };
    static Slot decodeI2cOffset(uint32_t wordOffset);
    Slot decodeSpiAddress(uint32_t address) const;

    // Both maps end here, with the CPLD lock held. `mask`: bytes of the word written.
    uint32_t readRegister(const Slot& slot);
    void writeRegister(const Slot& slot, uint32_t value, unsigned mask);
    // Whether a write is one the CPLD takes; counts what it does not.
    bool writeAccepted(const Slot& slot, uint32_t value, unsigned mask);
    // The serial face: whether the CPLD is free for the access (it is busy until the host has
    // read the status once after the previous one).
    bool serialAccessAdmitted(const Slot& slot, const char* what);
    uint32_t serialStatusRead();

    void masterStart(uint8_t addressByte);
    void masterWrite(uint8_t byte);
    uint8_t masterRead(bool last);
    void masterStop();

    void flushMasterTrace();

    void writeDpram(int port, uint32_t word);
    void sendPackets(uint8_t mask);
    bool sendPacket(int port);

    class SpiPort : public SerialPortDevice {
      public:
        explicit SpiPort(RhxCpld& cpld) : cpld_(cpld) {}
        void writeBlock(uint32_t blockIndex, uint32_t word) override;
        uint32_t readBlock(uint32_t blockIndex) override;
        void wordCollected() override;
        void saveState(nlohmann::json& out) const override { cpld_.saveState(out); }

      private:
        RhxCpld& cpld_;
    };

    // The I2C device face: a register pointer, then data bytes that land in the addressed
    // words at the stop condition (or a repeated start).
    class I2cPort : public I2cSlave {
      public:
        explicit I2cPort(RhxCpld& cpld) : cpld_(cpld) {}
        bool start(bool read) override;
        bool writeByte(uint8_t byte) override;
        uint8_t readByte(bool last) override;
        void stop() override;
        void saveState(nlohmann::json& out) const override { cpld_.saveState(out); }

      private:
        void commit();
        RhxCpld& cpld_;
        uint8_t pointer_ = 0;
        bool reading_ = false;
        bool pointerPending_ = false;  // the next written byte is the register pointer
        std::array<uint8_t, 16> pending_{};
        unsigned pendingCount_ = 0;
        uint8_t pendingStart_ = 0;
        int wordOffset_ = -1;  // word being read out, fetched once per read transaction
        uint32_t word_ = 0;
    };

    mutable std::mutex mutex_;
    SpiPort spiPort_{*this};
    I2cPort i2cPort_{*this};
    I2cBus masterBus_;
    FrameSink* frames_ = nullptr;
    Version version_;
    uint8_t smbusTarget_ = 0;
    uint8_t pcbByte_ = 0;
    uint8_t cardId_ = 0;

    std::array<uint32_t, 0x80 / 4> latch_{};  // last word written per I2C-map offset
    std::array<std::array<uint8_t, kPacketBytes>, kPorts> dpram_{};
    std::array<uint8_t, kPorts> dpramAddress_{};
    std::array<uint16_t, kPorts> triggers_{};
    std::array<uint16_t, kPorts> sent_{};

    // I2C master.
    bool transferOpen_ = false;
    bool transferRead_ = false;
    uint32_t status_ = 0;
    unsigned busyStarts_ = 0;
    unsigned lostBytes_ = 0;
    unsigned spiBusyReads_ = 0;
    unsigned serialBusyReads_ = 0;  // status reads still showing the last serial access busy
    const ChipClock* clock_ = &ChipClock::steady();
    ReadyAt i2cWriteDone_;         // the I2C face's last register write is carried out
    uint64_t i2cBitUs_ = 0;        // bit time of the master on the I2C face
    bool i2cFaceWrite_ = false;    // the register write being carried out came over I2C
    uint64_t i2cFaceWriteUs_ = 0;  // and takes this long from its command
    // A read trigger of the I2C master whose byte is still being clocked in.
    bool masterReadPending_ = false;
    bool masterReadAwaitsStatus_ = false;  // serial face: until the host saw the status idle
    bool idleStatusShifted_ = false;       // the last status word shifted out showed it idle
    uint32_t masterReadWord_ = 0;
    ReadyAt masterReadReady_;
    Latency latency_;
    // Where each port's packet write stands, for the closing pair.
    enum class DpramStep { Writing, LastByteWritten, ClosingFirst };
    std::array<DpramStep, kPorts> dpramStep_{};
    MasterCounters counters_;

    // Trace of the message the master is carrying.
    std::function<void(const std::string&)> trace_;
    bool traceOpen_ = false;
    bool traceNacked_ = false;
    std::vector<uint8_t> traceBytes_;
    Violations violations_{"cpld"};
};

}  // namespace qrtsim
