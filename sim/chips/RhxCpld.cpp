#include "sim/chips/RhxCpld.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qrtsim {

namespace {

// The serial map puts the trigger-over-Ethernet part of the block (below 0x50) at
// 0x1000 + offset and the I2C master at 0x2000 + (offset - 0x50).
constexpr uint32_t kSerialToeBase = 0x1000;
constexpr uint32_t kSerialMasterBase = 0x2000;
constexpr uint32_t kMasterOffset = 0x50;
constexpr uint32_t kSerialVersionWord = 0x201C;
constexpr uint32_t kSerialVersionTime = 0x704;
constexpr uint32_t kSerialVersionDate = 0x708;
constexpr uint32_t kI2cVersionTime = 0x74;
constexpr uint32_t kI2cVersionDate = 0x78;

constexpr uint32_t kOffSmbusHeader = 0x00;
constexpr uint32_t kOffSmbusStart = 0x04;
constexpr uint32_t kOffToeControl = 0x10;
constexpr uint32_t kOffDelay = 0x40;

// The register blocks the CPLD decodes on each face (end exclusive).
constexpr uint32_t kI2cBlockEnd = 0x80;
constexpr uint32_t kSerialToeEnd = kSerialToeBase + kMasterOffset;
constexpr uint32_t kSerialMasterEnd = kSerialMasterBase + 0x20;
constexpr uint32_t kSerialStampBase = 0x700;
constexpr uint32_t kSerialStampEnd = 0x710;

// Bits of a written word that the CPLD reserves: they must be zero (or, for the packet memory,
// one), byte by byte as the word is written.
constexpr uint32_t kStartReserved = 0xFFFFFF00;
constexpr uint32_t kControlReserved = 0x000000C0;
constexpr uint32_t kDelayReserved = 0xFF000000;
constexpr uint32_t kHeaderReserved = 0xFF000000;
constexpr uint32_t kDpramOnes = 0xFFFF0000;

// The serial face: an access keeps the CPLD busy for 1 or 2 status reads (drawn), at the slow
// end for 999: its users poll the status up to 1000 times.
constexpr unsigned kSerialBusyMin = 1;
constexpr unsigned kSerialBusyMax = 2;
constexpr unsigned kSerialBusySlow = 999;
// The I2C face: a register write takes the CPLD this long, from the stop that ends it; the
// Ethernet controller's master clocks the bytes at 100 kHz (9 bits a byte, start and stop).
constexpr uint64_t kI2cWriteUs = 5000;
// The I2C master's byte (or word) read lands in its register this long after the CPLD took up
// the trigger: the master runs from the CPLD's slow housekeeping clock.
constexpr uint64_t kMasterReadUs = 1000;
// The packet memory's closing pair after a packet: 0xFF at address 0x00, then 0x00 at 0xFF.
constexpr uint8_t kDpramLastAddress = 63;
constexpr uint8_t kDpramCloseAddress = 0xFF;

uint32_t byteMask(unsigned mask) {
    uint32_t bits = 0;
    for (unsigned b = 0; b < 4; ++b)
        if (mask & (1u << b)) bits |= 0xFFu << (8 * b);
    return bits;
}

std::string hexWord(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

uint8_t byteOf(uint32_t word, unsigned index) {
    return static_cast<uint8_t>(word >> (8 * index));
}

std::string hexBytes(const uint8_t* data, size_t n) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        text += pair;
    }
    return text;
}

RhxCpld::ToeControl decodeControl(uint32_t word) {
    RhxCpld::ToeControl c;
    c.triggerEnable = word & 0x01;
    c.edgeSelectA = word & 0x02;
    c.edgeSelectB = word & 0x04;
    c.oneTriggerAll = word & 0x08;
    c.dpramReadBack = word & 0x10;
    c.triggerSource = word & 0x20;
    c.exTriggerDebounce = word >> 8;
    return c;
}

}  // namespace

RhxCpld::RhxCpld(FrameSink* frames) : frames_(frames) {
    spiPort_.faults.addModes({"busy", "error", "slow"});
    i2cPort_.faults.addModes({"busy", "error"});
}

bool RhxCpld::faulted(const char* mode) const {
    return spiPort_.faults.active(mode) || i2cPort_.faults.active(mode);
}

// ---------------------------------------------------------------------------------------------
// Address decoding

RhxCpld::Slot RhxCpld::decodeI2cOffset(uint32_t wordOffset) {
    // The register block at its I2C-map offsets; per-port registers are one word per port.
    struct Entry {
        uint32_t offset;
        Reg reg;
        int ports;
    };
    static const Entry kBlock[] = {
        {0x00, Reg::SmbusHeader, 1},
        {0x04, Reg::SmbusStart, 1},
        {0x08, Reg::SmbusStop, 1},
        {0x10, Reg::ToeControl, 1},
        {0x20, Reg::Dpram, kPorts},
        {0x30, Reg::Counter, kPorts},
        {0x40, Reg::Delay, kPorts},
        {0x50, Reg::MasterControl, 1},
        {0x54, Reg::MasterWriteByte, 1},
        {0x58, Reg::MasterReadByte, 1},
        {0x5C, Reg::MasterStop, 1},
        {0x64, Reg::MasterReadFinal, 1},
        {0x68, Reg::MasterReadFour, 1},
        {kI2cVersionTime, Reg::VersionTime, 1},
        {kI2cVersionDate, Reg::VersionDate, 1},
        {0x0C, Reg::PcbVersion, 1},
        {0x7C, Reg::CardId, 1},
    };
    for (const auto& e : kBlock) {
        if (wordOffset >= e.offset && wordOffset < e.offset + 4u * static_cast<uint32_t>(e.ports))
            return Slot{e.reg, static_cast<int>((wordOffset - e.offset) / 4), wordOffset};
    }
    return Slot{wordOffset < kI2cBlockEnd ? Reg::Unknown : Reg::None, 0, wordOffset};
}

RhxCpld::Slot RhxCpld::decodeSpiAddress(uint32_t address) const {
    if (address == kSerialVersionWord) return Slot{Reg::VersionWord, 0, 0};
    if (address >= kSerialStampBase && address < kSerialStampEnd) {
        // Older CPLDs have no stamp registers; the packed version word is all they carry.
        if (version_.packed) return Slot{};
        if (address == kSerialVersionTime) return Slot{Reg::VersionTime, 0, kI2cVersionTime};
        if (address == kSerialVersionDate) return Slot{Reg::VersionDate, 0, kI2cVersionDate};
        return Slot{Reg::Unknown, 0, 0};
    }
    if (address >= kSerialToeBase && address < kSerialToeEnd)
        return decodeI2cOffset(address - kSerialToeBase);
    if (address >= kSerialMasterBase && address < kSerialMasterEnd) {
        Slot slot = decodeI2cOffset(address - kSerialMasterBase + kMasterOffset);
        // The version words of the I2C map sit at the end of this block on the serial map.
        if (slot.reg == Reg::VersionTime || slot.reg == Reg::VersionDate) slot.reg = Reg::Unknown;
        return slot;
    }
    return Slot{};
}

// ---------------------------------------------------------------------------------------------
// The serial face: one word per block, the register address is the block's byte address.

void RhxCpld::SpiPort::writeBlock(uint32_t blockIndex, uint32_t word) {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    Slot slot = cpld_.decodeSpiAddress(blockIndex * 4);
    if (slot.reg == Reg::None || !cpld_.serialAccessAdmitted(slot, "write")) return;
    cpld_.writeRegister(slot, word, 0xF);
}

uint32_t RhxCpld::SpiPort::readBlock(uint32_t blockIndex) {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    Slot slot = cpld_.decodeSpiAddress(blockIndex * 4);
    if (slot.reg == Reg::None) return 0xFFFFFFFF;
    if (slot.reg == Reg::MasterControl) return cpld_.serialStatusRead();
    if (!cpld_.serialAccessAdmitted(slot, "read")) return 0xFFFFFFFF;
    return cpld_.readRegister(slot);
}

bool RhxCpld::serialAccessAdmitted(const Slot& slot, const char* what) {
    if (serialBusyReads_ > 0) {
        char text[48];
        std::snprintf(text, sizeof text, "%s of 0x%02x before the status showed it idle", what,
                      slot.offset);
        violations_.count("access-while-busy", text);
        return false;
    }
    serialBusyReads_ = faulted("slow")
                           ? kSerialBusySlow
                           : latency_.draw(kSerialBusyMin, kSerialBusyMax, kSerialBusyMin);
    return true;
}

// The switch has handed the host the word the CPLD shifted out: when it was the status that
// showed the CPLD idle after a read trigger, the CPLD takes up the trigger now.
void RhxCpld::SpiPort::wordCollected() {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    if (cpld_.masterReadAwaitsStatus_ && cpld_.idleStatusShifted_) {
        cpld_.masterReadAwaitsStatus_ = false;
        cpld_.masterReadReady_.start(*cpld_.clock_, kMasterReadUs);
    }
    cpld_.idleStatusShifted_ = false;
}

// A read of the status word: the I2C master's status, with bit 9 while the CPLD is still
// carrying out the previous serial access.
uint32_t RhxCpld::serialStatusRead() {
    uint32_t status = status_;
    idleStatusShifted_ = serialBusyReads_ == 0 && spiBusyReads_ == 0;
    if (serialBusyReads_ > 0) {
        --serialBusyReads_;
        status |= kStatusSpiBusy;
    } else if (spiBusyReads_ > 0) {
        --spiBusyReads_;
        status |= kStatusSpiBusy;
    }
    return status;
}

// ---------------------------------------------------------------------------------------------
// The I2C face: [pointer] [data...] writes, reads from the pointer on. Register words are
// little-endian: pointer 0x12 addresses bytes 2 and 3 of the word at 0x10.

bool RhxCpld::I2cPort::start(bool read) {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    commit();  // a repeated start ends the previous write
    if (!cpld_.i2cWriteDone_.ready(*cpld_.clock_)) {
        cpld_.violations_.count("address-during-write",
                                std::to_string(cpld_.i2cWriteDone_.remainingUs(*cpld_.clock_)) +
                                    " us before the last write is done");
        reading_ = false;
        pointerPending_ = false;
        return false;
    }
    reading_ = read;
    pointerPending_ = !read;
    wordOffset_ = -1;
    return true;
}

bool RhxCpld::I2cPort::writeByte(uint8_t byte) {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    if (reading_) return false;
    if (pointerPending_) {
        pointer_ = byte;
        pointerPending_ = false;
        pendingStart_ = byte;
        pendingCount_ = 0;
        return true;
    }
    if (pendingCount_ >= pending_.size()) return false;  // longer than any register access
    pending_[pendingCount_++] = byte;
    pointer_ = static_cast<uint8_t>(pointer_ + 1);
    return true;
}

uint8_t RhxCpld::I2cPort::readByte(bool last) {
    (void)last;
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    if (!reading_) return 0xFF;
    int word = pointer_ & ~3;
    if (word != wordOffset_) {
        wordOffset_ = word;
        Slot slot = decodeI2cOffset(static_cast<uint32_t>(word));
        word_ = slot.reg == Reg::None ? 0xFFFFFFFF : cpld_.readRegister(slot);
    }
    uint8_t value = byteOf(word_, pointer_ & 3u);
    pointer_ = static_cast<uint8_t>(pointer_ + 1);
    return value;
}

void RhxCpld::I2cPort::stop() {
    std::lock_guard<std::mutex> lock(cpld_.mutex_);
    commit();
    reading_ = false;
    pointerPending_ = false;
}

// Lands the bytes of a finished write in their register words, one register write per word.
void RhxCpld::I2cPort::commit() {
    // The stop comes after the address, the pointer and the data bytes on the wire.
    const uint64_t transferUs = (9 * (2 + uint64_t{pendingCount_}) + 2) * cpld_.i2cBitUs_;
    if (pendingCount_ > 0) cpld_.i2cWriteDone_.start(*cpld_.clock_, transferUs + kI2cWriteUs);
    cpld_.i2cFaceWrite_ = true;
    cpld_.i2cFaceWriteUs_ = transferUs + kI2cWriteUs;
    unsigned i = 0;
    while (i < pendingCount_) {
        unsigned address = pendingStart_ + i;
        uint32_t word = address & ~3u;
        unsigned mask = 0;
        uint32_t value = word < kI2cBlockEnd ? cpld_.latch_[word / 4] : 0;
        for (; i < pendingCount_ && ((pendingStart_ + i) & ~3u) == word; ++i) {
            unsigned b = (pendingStart_ + i) & 3u;
            value = (value & ~(0xFFu << (8 * b))) | (uint32_t{pending_[i]} << (8 * b));
            mask |= 1u << b;
        }
        Slot slot = decodeI2cOffset(word);
        if (slot.reg != Reg::None) cpld_.writeRegister(slot, value, mask);
    }
    pendingCount_ = 0;
    cpld_.i2cFaceWrite_ = false;
}

// ---------------------------------------------------------------------------------------------
// The register file

uint32_t RhxCpld::readRegister(const Slot& slot) {
    switch (slot.reg) {
        case Reg::None:
            return 0xFFFFFFFF;
        case Reg::Unknown: {
            char text[16];
            std::snprintf(text, sizeof text, "0x%02x", slot.offset);
            violations_.count("unknown-register", std::string("read of ") + text);
            return 0;
        }
        case Reg::Counter:
            return uint32_t{triggers_[slot.port]} | (uint32_t{sent_[slot.port]} << 16);
        case Reg::Dpram: {
            uint32_t word = latch_[slot.offset / 4];
            if (!decodeControl(latch_[kOffToeControl / 4]).dpramReadBack) return word;
            // Read-back mode: byte 0 carries the memory cell the address byte selects.
            uint8_t address = dpramAddress_[slot.port];
            uint8_t cell = address < kPacketBytes ? dpram_[slot.port][address] : 0;
            return (word & 0xFFFF0000u) | (uint32_t{address} << 8) | cell;
        }
        case Reg::MasterControl:
            return status_;
        case Reg::MasterReadByte:
        case Reg::MasterReadFinal:
        case Reg::MasterReadFour:
            if (masterReadPending_) {
                if (masterReadAwaitsStatus_ || !masterReadReady_.ready(*clock_)) {
                    // The master is still clocking the byte in: the register holds the last one.
                    violations_.count(
                        "master-read-too-early",
                        masterReadAwaitsStatus_
                            ? "before the status showed the trigger taken up"
                            : std::to_string(masterReadReady_.remainingUs(*clock_)) + " us early");
                } else {
                    latch_[slot.offset / 4] = masterReadWord_;
                }
                masterReadPending_ = false;
                masterReadAwaitsStatus_ = false;
            }
            return latch_[slot.offset / 4];
        case Reg::PcbVersion:
            return pcbByte_;
        case Reg::CardId:
            return uint32_t{cardId_} << 16;
        case Reg::VersionTime:
            return version_.time;
        case Reg::VersionDate:
            return version_.date;
        case Reg::VersionWord:
            return version_.packed ? version_.packedWord : kVersionMarker;
        default:
            return latch_[slot.offset / 4];
    }
}

// The checks of a written word, by register.
bool RhxCpld::writeAccepted(const Slot& slot, uint32_t value, unsigned mask) {
    uint32_t written = byteMask(mask);
    char where[24];
    std::snprintf(where, sizeof where, "0x%02x <- ", slot.offset);
    std::string detail = where + hexWord(value & written);
    uint32_t reserved = 0;  // bits that must be zero
    uint32_t ones = 0;      // bits that must be one
    switch (slot.reg) {
        case Reg::Unknown:
            violations_.count("unknown-register", "write of " + detail);
            return false;
        case Reg::VersionTime:
        case Reg::VersionDate:
        case Reg::VersionWord:
        case Reg::PcbVersion:
        case Reg::CardId:
            violations_.count("write-to-read-only", detail);
            return false;
        case Reg::Counter:
            // Only the first counter takes a write: zero, which clears every port's counts.
            if (slot.port != 0) {
                violations_.count("write-to-read-only", detail);
                return false;
            }
            reserved = 0xFFFFFFFF;
            break;
        case Reg::SmbusStop:
            reserved = 0xFFFFFFFF;
            break;
        case Reg::MasterControl:
        case Reg::MasterWriteByte:
        case Reg::SmbusStart:
            reserved = kStartReserved;
            break;
        case Reg::ToeControl:
            reserved = kControlReserved;
            break;
        case Reg::Delay:
            reserved = kDelayReserved;
            break;
        case Reg::SmbusHeader:
            reserved = kHeaderReserved;
            break;
        case Reg::Dpram:
            ones = kDpramOnes;
            break;
        default:
            break;  // the read triggers: the data carries no meaning
    }
    if ((value & reserved & written) != 0 || (~value & ones & written) != 0) {
        violations_.count("reserved-bits", detail);
        return false;
    }
    return true;
}

void RhxCpld::writeRegister(const Slot& slot, uint32_t value, unsigned mask) {
    if (!writeAccepted(slot, value, mask)) return;
    if (slot.reg == Reg::Counter) {
        triggers_.fill(0);
        sent_.fill(0);
        return;
    }
    const bool masterReadTrigger = slot.reg == Reg::MasterReadByte ||
                                   slot.reg == Reg::MasterReadFinal ||
                                   slot.reg == Reg::MasterReadFour;
    if (!masterReadTrigger) latch_[slot.offset / 4] = value;
    if (masterReadTrigger) {
        // The byte lands in the register once the master has clocked it in: on the I2C face
        // after the write is carried out, on the serial face after the host has seen the
        // status show the trigger taken up.
        masterReadPending_ = true;
        masterReadAwaitsStatus_ = !i2cFaceWrite_;
        idleStatusShifted_ = false;
        if (i2cFaceWrite_) masterReadReady_.start(*clock_, i2cFaceWriteUs_ + kMasterReadUs);
    }
    bool fires = mask & 1u;  // actions start with the write of byte 0
    switch (slot.reg) {
        case Reg::SmbusStart:
            if (fires) sendPackets(byteOf(value, 0));
            break;
        case Reg::SmbusStop:
            latch_[kOffSmbusStart / 4] = 0;
            break;
        case Reg::Dpram:
            if (fires) writeDpram(slot.port, value);
            break;
        case Reg::MasterControl:
            if (fires) masterStart(byteOf(value, 0));
            break;
        case Reg::MasterWriteByte:
            if (fires) masterWrite(byteOf(value, 0));
            break;
        case Reg::MasterReadByte:
            ++counters_.byteReads;
            masterReadWord_ = masterRead(false);
            break;
        case Reg::MasterReadFinal:
            ++counters_.finalReads;
            masterReadWord_ = masterRead(true);
            break;
        case Reg::MasterReadFour: {
            // The first byte off the wire lands in the most significant byte of the word.
            ++counters_.wordReads;
            uint32_t word = 0;
            for (int i = 0; i < 4; ++i) word = (word << 8) | masterRead(false);
            masterReadWord_ = word;
            break;
        }
        case Reg::MasterStop:
            masterStop();
            break;
        default:
            break;  // plain latches: SMBus header, control word, delays
    }
}

// ---------------------------------------------------------------------------------------------
// I2C master

void RhxCpld::masterStart(uint8_t addressByte) {
    ++counters_.starts;
    status_ = 0;
    flushMasterTrace();  // a repeated start ends the message before it
    if (busyStarts_ > 0 || faulted("busy")) {
        if (busyStarts_ > 0) --busyStarts_;
        ++counters_.busyStarts;
        status_ = kStatusBusBusy;
        if (trace_) trace_("i2c-master start refused: bus busy");
        return;
    }
    transferRead_ = addressByte & 1u;
    transferOpen_ = masterBus_.start(static_cast<uint8_t>(addressByte >> 1), transferRead_);
    if (transferOpen_) {
        status_ = kStatusAck;
    } else {
        ++counters_.nackedStarts;
    }
    if (trace_) {
        traceBytes_.assign(1, addressByte);
        traceNacked_ = !transferOpen_;
        traceOpen_ = true;
        if (!transferOpen_) flushMasterTrace();
    }
}

// One line per message, in the form of the rig's I2C adapters:
//   i2c-master write addr=0x2d 86 a6 00 -> ack
//   i2c-master read addr=0x2d len=2 -> 15 00
void RhxCpld::flushMasterTrace() {
    if (!traceOpen_) return;
    traceOpen_ = false;
    if (!trace_ || traceBytes_.empty()) return;
    bool read = traceBytes_[0] & 1u;
    char head[64];
    std::snprintf(head, sizeof head, "i2c-master %s addr=0x%02x", read ? "read" : "write",
                  traceBytes_[0] >> 1);
    std::string line = head;
    std::string bytes;
    for (size_t i = 1; i < traceBytes_.size(); ++i) bytes += " " + hexBytes(&traceBytes_[i], 1);
    if (read && !traceNacked_) {
        line += " len=" + std::to_string(traceBytes_.size() - 1) + " ->" + bytes;
    } else {
        line += bytes + (traceNacked_ ? " -> nack" : " -> ack");
    }
    trace_(line);
}

void RhxCpld::masterWrite(uint8_t byte) {
    status_ &= ~kStatusWriteFailed;
    if (!transferOpen_ || transferRead_) violations_.count("byte-without-write-transfer");
    bool acked = false;
    if (transferOpen_ && !transferRead_) {
        if (lostBytes_ > 0 || faulted("error")) {
            if (lostBytes_ > 0) --lostBytes_;  // the byte never reaches the slave
        } else {
            acked = masterBus_.writeByte(byte);
        }
    }
    if (acked) {
        ++counters_.bytesWritten;
    } else {
        status_ |= kStatusWriteFailed;
        ++counters_.failedWrites;
    }
    if (traceOpen_) {
        traceBytes_.push_back(byte);
        traceNacked_ = traceNacked_ || !acked;
    }
}

uint8_t RhxCpld::masterRead(bool last) {
    if (!transferOpen_ || !transferRead_) {
        violations_.count("read-without-read-transfer");
        return 0xFF;  // nobody drives the data line
    }
    uint8_t byte = masterBus_.readByte(last);
    if (traceOpen_) traceBytes_.push_back(byte);
    return byte;
}

void RhxCpld::masterStop() {
    ++counters_.stops;
    flushMasterTrace();  // the message's line before what the slave makes of it
    masterBus_.stop();
    transferOpen_ = false;
}

// ---------------------------------------------------------------------------------------------
// Trigger over Ethernet

// The host writes a packet from address 0 to 63 and closes it with 0xFF at address 0x00
// (the first byte of every frame, the broadcast address) and 0x00 at 0xFF, which hands the
// packet to the sender. After the last byte only that pair, in that order, is taken as the
// close; an address beyond the packet outside it is no cell of the memory.
void RhxCpld::writeDpram(int port, uint32_t word) {
    uint8_t value = byteOf(word, 0);
    uint8_t address = byteOf(word, 1);
    dpramAddress_[port] = address;
    if (decodeControl(latch_[kOffToeControl / 4]).dpramReadBack) return;  // address select only
    DpramStep& step = dpramStep_[port];
    const DpramStep before = step;
    char text[48];
    std::snprintf(text, sizeof text, "port %d: 0x%02x at 0x%02x", port, value, address);
    if (before == DpramStep::LastByteWritten) {
        if (address == 0x00 && value == 0xFF) {
            step = DpramStep::ClosingFirst;
        } else {
            violations_.count("dpram-closing-pair", text);
            step = DpramStep::Writing;
        }
    } else if (before == DpramStep::ClosingFirst) {
        if (address != kDpramCloseAddress || value != 0x00)
            violations_.count("dpram-closing-pair", text);
        step = DpramStep::Writing;
        if (address == kDpramCloseAddress) return;
    } else if (address >= kPacketBytes) {
        violations_.count("dpram-closing-pair", text);
        return;
    } else if (address == kDpramLastAddress) {
        step = DpramStep::LastByteWritten;
    }
    if (address < kPacketBytes) dpram_[port][address] = value;
}

void RhxCpld::sendPackets(uint8_t mask) {
    for (int port = 0; port < kPorts; ++port) {
        if (mask & (1u << port)) sendPacket(port);
    }
}

// One SMBus block write of the port's packet to its Ethernet controller, which puts it on
// the wire. Nothing goes out for a read header, an empty block or an address nobody answers.
bool RhxCpld::sendPacket(int port) {
    uint32_t header = latch_[kOffSmbusHeader / 4];
    uint8_t slave = static_cast<uint8_t>(byteOf(header, 0) >> 1);
    unsigned count = std::min<unsigned>(byteOf(header, 2), kPacketBytes);
    if ((header & 1u) != 0 || count == 0) return false;
    if (smbusTarget_ != 0 && slave != smbusTarget_) return false;
    ++sent_[port];
    if (trace_) {
        trace_("toe port " + std::to_string(port) + " sent " + std::to_string(count) +
               "-byte packet to smbus 0x" + hexBytes(&slave, 1));
    }
    if (frames_ != nullptr) {
        frames_->emitPortFrame(
            port, std::vector<uint8_t>(dpram_[port].begin(), dpram_[port].begin() + count));
    }
    return true;
}

void RhxCpld::triggerInput(int port, bool rising) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (port < 0 || port >= kPorts) return;
    ToeControl c = decodeControl(latch_[kOffToeControl / 4]);
    if (!c.triggerEnable || !(rising ? c.edgeSelectA : c.edgeSelectB)) return;
    for (int p = 0; p < kPorts; ++p) {
        if (p != port && !c.oneTriggerAll) continue;
        ++triggers_[p];
        sendPacket(p);
    }
}

// ---------------------------------------------------------------------------------------------
// Configuration and observation

void RhxCpld::setVersion(const Version& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = version;
}

void RhxCpld::setBoardIdentity(uint8_t pcbByte, uint8_t cardId) {
    std::lock_guard<std::mutex> lock(mutex_);
    pcbByte_ = pcbByte;
    cardId_ = cardId;
}

void RhxCpld::setFrameSink(FrameSink* frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_ = frames;
}

void RhxCpld::setSmbusTarget(uint8_t address) {
    std::lock_guard<std::mutex> lock(mutex_);
    smbusTarget_ = address & 0x7F;
}

void RhxCpld::setClock(const ChipClock& clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = &clock;
}

void RhxCpld::setI2cBitTime(uint64_t microseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    i2cBitUs_ = microseconds;
}

void RhxCpld::setSeed(uint64_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    latency_.reseed(seed);
}

unsigned RhxCpld::violationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_.total();
}

void RhxCpld::setTrace(std::function<void(const std::string&)> trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.setTrace(trace);
    trace_ = std::move(trace);
    traceOpen_ = false;
}

void RhxCpld::injectBusBusy(unsigned starts) {
    std::lock_guard<std::mutex> lock(mutex_);
    busyStarts_ = starts;
}

void RhxCpld::injectByteWriteFailures(unsigned bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    lostBytes_ = bytes;
}

void RhxCpld::injectSpiBusy(unsigned reads) {
    std::lock_guard<std::mutex> lock(mutex_);
    spiBusyReads_ = reads;
}

uint32_t RhxCpld::registerWord(uint32_t i2cOffset) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return i2cOffset < kI2cBlockEnd ? latch_[i2cOffset / 4] : 0;
}

RhxCpld::ToeControl RhxCpld::toeControl() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return decodeControl(latch_[kOffToeControl / 4]);
}

std::array<uint8_t, RhxCpld::kPacketBytes> RhxCpld::packet(int port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dpram_.at(static_cast<size_t>(port));
}

uint16_t RhxCpld::triggerCount(int port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return triggers_.at(static_cast<size_t>(port));
}

uint16_t RhxCpld::sentCount(int port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_.at(static_cast<size_t>(port));
}

uint32_t RhxCpld::triggerDelay(int port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latch_.at(kOffDelay / 4 + static_cast<size_t>(port)) & 0xFFFFFFu;
}

uint8_t RhxCpld::smbusStartMask() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return byteOf(latch_[kOffSmbusStart / 4], 0);
}

uint32_t RhxCpld::masterStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

RhxCpld::MasterCounters RhxCpld::masterCounters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

void RhxCpld::saveState(nlohmann::json& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ToeControl c = decodeControl(latch_[kOffToeControl / 4]);
    uint32_t header = latch_[kOffSmbusHeader / 4];
    char stamp[32];
    if (version_.packed) {
        std::snprintf(stamp, sizeof stamp, "packed 0x%08x", version_.packedWord);
    } else {
        std::snprintf(stamp, sizeof stamp, "%08x_%04x", version_.date, version_.time & 0xFFFF);
    }
    out["version"] = stamp;
    out["toe_control"] = {{"trigger_enable", c.triggerEnable},
                          {"edge_select_a", c.edgeSelectA},
                          {"edge_select_b", c.edgeSelectB},
                          {"one_trigger_all", c.oneTriggerAll},
                          {"dpram_read_back", c.dpramReadBack},
                          {"trigger_source", c.triggerSource},
                          {"ex_trigger_debounce", c.exTriggerDebounce}};
    out["smbus_header"] = {{"read_write", header & 1u},
                           {"slave_address", byteOf(header, 0) >> 1},
                           {"command", byteOf(header, 1)},
                           {"byte_count", byteOf(header, 2)}};
    out["smbus_start_mask"] = byteOf(latch_[kOffSmbusStart / 4], 0);
    nlohmann::json ports = nlohmann::json::array();
    for (int p = 0; p < kPorts; ++p) {
        ports.push_back({{"trigger_count", triggers_[p]},
                         {"sent_count", sent_[p]},
                         {"trigger_delay", latch_[kOffDelay / 4 + p] & 0xFFFFFFu},
                         {"dpram_address", dpramAddress_[p]},
                         {"packet", hexBytes(dpram_[p].data(), kPacketBytes)}});
    }
    out["ports"] = ports;
    out["i2c_master"] = {{"status", status_},
                         {"transfer_open", transferOpen_},
                         {"starts", counters_.starts},
                         {"busy_starts", counters_.busyStarts},
                         {"nacked_starts", counters_.nackedStarts},
                         {"stops", counters_.stops},
                         {"bytes_written", counters_.bytesWritten},
                         {"failed_writes", counters_.failedWrites},
                         {"byte_reads", counters_.byteReads},
                         {"final_reads", counters_.finalReads},
                         {"word_reads", counters_.wordReads}};
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
