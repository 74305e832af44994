#include "sim/driver/VirtualPciDriver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/driver/PcimapWire.h"

namespace qrtsim {

namespace {

using namespace pcimap;

// Field offsets of the records, as the driver reads them.
namespace addscan {
constexpr size_t kVendor = 0, kDevice = 4, kFirst = 8, kCount = 12, kStatus = 16, kFlag = 20;
}
namespace scanlist {
constexpr size_t kFirstTable = 0, kSecondTable = 128, kCount = 256, kStatus = 260;
constexpr size_t kEntries = 32;
}  // namespace scanlist
namespace access {
constexpr size_t kOffset = 0, kLength = 8, kWidth = 12, kIndex = 16, kOperation = 20, kStatus = 24,
                 kKey = 28, kData = 32;
constexpr uint32_t kRead = 1, kWrite = 2;
}  // namespace access
namespace cachewrite {
constexpr size_t kMask = 80, kSettle = 112, kStatus = 116;
}
namespace lockrec {
constexpr size_t kIndex = 0, kKey = 4, kStatus = 8;
}
namespace info {
constexpr size_t kIndex = 0, kFirst = 8, kSecond = 12, kStatus = 16;
}
constexpr size_t kVersionBytes = 16;

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32;
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
int32_t getSigned32(const uint8_t* p) {
    return static_cast<int32_t>(get32(p));
}
void putSigned32(uint8_t* p, int32_t v) {
    put32(p, static_cast<uint32_t>(v));
}

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string bytes(const uint8_t* data, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
        text += byte;
    }
    return text;
}

// The header a register-access record and a cache-write record share.
struct AccessHeader {
    uint64_t offset;
    uint32_t length;
    uint32_t width;
    uint32_t index;
    uint32_t operation;
    uint32_t key;
};

AccessHeader decodeAccess(const uint8_t* r) {
    using namespace access;
    return {get64(r + kOffset), get32(r + kLength),    get32(r + kWidth),
            get32(r + kIndex),  get32(r + kOperation), get32(r + kKey)};
}

// "dev=... off=... len=...", and the width when it is not the usual 4 bytes.
std::string describeAccess(const AccessHeader& a) {
    std::string text = "dev=" + std::to_string(a.index) + " off=" + hex(a.offset) +
                       " len=" + std::to_string(a.length);
    if (a.width != 4) text += " width=" + std::to_string(a.width);
    return text;
}

std::string failed(int error) {
    return std::string("failed: ") + std::strerror(error);
}

bool validUnit(uint64_t offset, uint32_t width, uint32_t length) {
    bool widthOk = width == 1 || width == 2 || width == 4 || width == 8;
    return widthOk && length >= 1 && length <= kMaxData && length % width == 0 &&
           offset % width == 0;
}

// One unit of `width` bytes; narrower units live inside the aligned 32-bit register.
uint64_t readUnit(PciFunction& function, uint64_t offset, unsigned width) {
    if (width == 8)
        return uint64_t(function.readRegister32(offset)) |
               uint64_t(function.readRegister32(offset + 4)) << 32;
    if (width == 4) return function.readRegister32(offset);
    unsigned shift = unsigned(offset & 3) * 8;
    uint32_t mask = width == 1 ? 0xFFu : 0xFFFFu;
    return (function.readRegister32(offset & ~uint64_t(3)) >> shift) & mask;
}

void writeUnit(PciFunction& function, uint64_t offset, unsigned width, uint64_t value) {
    if (width == 8) {
        function.writeRegister32(offset, uint32_t(value));
        function.writeRegister32(offset + 4, uint32_t(value >> 32));
        return;
    }
    if (width == 4) {
        function.writeRegister32(offset, uint32_t(value));
        return;
    }
    uint64_t aligned = offset & ~uint64_t(3);
    unsigned shift = unsigned(offset & 3) * 8;
    uint32_t mask = (width == 1 ? 0xFFu : 0xFFFFu) << shift;
    uint32_t word = function.readRegister32(aligned);
    function.writeRegister32(aligned, (word & ~mask) | ((uint32_t(value) << shift) & mask));
}

uint64_t unitFromBytes(const uint8_t* p, unsigned width) {
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value |= uint64_t(p[i]) << (8 * i);
    return value;
}

void unitToBytes(uint8_t* p, unsigned width, uint64_t value) {
    for (unsigned i = 0; i < width; ++i) p[i] = uint8_t(value >> (8 * i));
}

}  // namespace

const std::vector<std::string>& VirtualPciDriver::requestNames() {
    static const std::vector<std::string> names = {
        "add-scan", "scan-list",   "register-read", "register-write", "version",      "lock",
        "unlock",   "device-info", "cache-write",   "cache-clear",    "cache-execute"};
    return names;
}

VirtualPciDriver::VirtualPciDriver(Settings settings, Trace trace)
    : settings_(std::move(settings)), trace_(std::move(trace)) {
    violations_.setTrace(trace_);
    for (const std::string& request : settings_.failing) faults_.set("fail", 1, request);
    if (settings_.scanStatus != 0) {
        faults_.set("status", settings_.scanStatus, "add-scan");
        faults_.set("status", settings_.scanStatus, "scan-list");
    }
}

VirtualPciDriver::~VirtualPciDriver() = default;

VirtualPciDriver::OpenFile::~OpenFile() {
    driver_.release(*this);
}

void VirtualPciDriver::addFunction(PciFunction* function, FunctionFaults faults) {
    Slot slot;
    slot.function = function;
    if (faults.status != 0) slot.faults.set("status", faults.status);
    if (faults.fail) slot.faults.set("fail");
    slots_.push_back(slot);
}

FaultTable* VirtualPciDriver::functionFaults(const PciFunction* function) {
    for (Slot& slot : slots_)
        if (slot.function == function) return &slot.faults;
    return nullptr;
}

std::unique_ptr<VirtualPciDriver::OpenFile> VirtualPciDriver::open() {
    ++openFiles_;
    return std::unique_ptr<OpenFile>(new OpenFile(*this, nextFileId_++));
}

void VirtualPciDriver::release(OpenFile& file) {
    --openFiles_;
    for (size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (slot.lockKey != 0 && slot.lockOwner == file.id_) {
            emit("pcimap release: lock " + hex(slot.lockKey) + " of function " + std::to_string(i) +
                 " dropped with its file");
            slot.lockKey = 0;
            slot.lockOwner = 0;
        }
    }
}

void VirtualPciDriver::emit(const std::string& line) const {
    if (trace_) trace_(line);
}

VirtualPciDriver::Slot* VirtualPciDriver::slotAt(const OpenFile& file, uint64_t index) {
    if (index >= file.scanList_.size()) return nullptr;
    return &slots_[file.scanList_[index]];
}

// A request that fails as a system call: the rig injects the failure for this request, or for
// every request on the addressed function. The trace line says so.
bool VirtualPciDriver::failsOutright(const char* request, const Slot* slot,
                                     const std::string& line) const {
    if (!faults_.active("fail", request) &&
        !(slot != nullptr && slot->faults.active("fail", request)))
        return false;
    emit(line + " -> " + failed(EIO));
    return true;
}

// The status a request on a function starts from: invalid without a function, else the status
// the rig injects for it (0 when none).
int32_t VirtualPciDriver::presetStatus(const Slot* slot, const char* request) {
    return slot == nullptr ? kStatusInvalid : int32_t(slot->faults.value("status", request));
}

bool VirtualPciDriver::lockedByAnother(Slot& slot, uint32_t key) {
    if (slot.lockKey == 0 || slot.lockKey == key) return false;
    if (abandonedFileCheck_) abandonedFileCheck_();
    return slot.lockKey != 0 && slot.lockKey != key;
}

int32_t VirtualPciDriver::keyStatus(Slot& slot, uint32_t key, const std::string& request) {
    if (lockedByAnother(slot, key)) return kStatusBusy;
    if (slot.lockKey == 0 && key != 0) {
        violations_.count("key-without-lock", request);
        return kStatusInvalid;
    }
    return kStatusOk;
}

int VirtualPciDriver::request(OpenFile& file, unsigned long code, std::vector<uint8_t>& record) {
    const RequestFormat* known = findRequest(code);
    if (known == nullptr) {
        emit("pcimap request " + hex(code) + " -> not a request of this driver");
        return -ENOTTY;
    }
    if (record.size() < known->recordSize) {
        emit(std::string("pcimap ") + known->name + " -> record of " +
             std::to_string(record.size()) + " bytes, " + std::to_string(known->recordSize) +
             " expected");
        return -EFAULT;
    }
    uint8_t* r = record.data();
    switch (known->number) {
        case kAddScanDevice:
            return addScanDevice(file, r);
        case kGetScanList:
            return getScanList(file, r);
        case kRegisterAccess:
            return registerAccess(file, r);
        case kGetVersion:
            return getVersion(r);
        case kLock:
            return lock(file, r);
        case kUnlock:
            return unlock(file, r);
        case kDeviceInformation:
            return deviceInformation(file, r);
        case kCacheWriteCommand:
            return cacheWriteCommand(file, r);
        case kClearCommandCache:
            return clearCommandCache(file, r);
        case kExecuteCommandCache:
            return executeCommandCache(file, r);
        default:
            return -ENOTTY;
    }
}

int VirtualPciDriver::addScanDevice(OpenFile& file, uint8_t* r) {
    using namespace addscan;
    int32_t vendor = getSigned32(r + kVendor);
    int32_t device = getSigned32(r + kDevice);
    uint8_t flag = r[kFlag];
    std::string line = "pcimap add-scan vendor=" + hex(uint32_t(vendor)) +
                       " device=" + hex(uint32_t(device)) + " flag=" + std::to_string(flag);
    if (failsOutright("add-scan", nullptr, line)) return -EIO;
    if (flag & 1) {
        file.pairs_.clear();
        file.scanList_.clear();
    }
    int32_t status = kStatusOk;
    int32_t first = -1;
    int32_t count = 0;
    if (faults_.active("status", "add-scan")) {
        status = int32_t(faults_.value("status", "add-scan"));
    } else {
        bool known = false;
        for (const auto& pair : file.pairs_)
            known = known || (pair.first == vendor && pair.second == device);
        if (!known && file.pairs_.size() >= kMaxPairs) {
            status = kStatusInvalid;
        } else {
            if (!known) file.pairs_.emplace_back(vendor, device);
            // The list holds every function matching a registered pair, in PCI order.
            file.scanList_.clear();
            for (size_t slot = 0; slot < slots_.size(); ++slot) {
                const PciFunction& function = *slots_[slot].function;
                bool listed = false;
                for (const auto& pair : file.pairs_)
                    listed = listed || (int32_t(function.vendorId()) == pair.first &&
                                        int32_t(function.deviceId()) == pair.second);
                if (!listed) continue;
                if (int32_t(function.vendorId()) == vendor &&
                    int32_t(function.deviceId()) == device) {
                    if (count == 0) first = int32_t(file.scanList_.size());
                    ++count;
                }
                file.scanList_.push_back(slot);
            }
        }
    }
    putSigned32(r + kFirst, first);
    putSigned32(r + kCount, count);
    putSigned32(r + kStatus, status);
    emit(line + " -> first=" + std::to_string(first) + " count=" + std::to_string(count) +
         " status=" + std::to_string(status));
    return 0;
}

int VirtualPciDriver::getScanList(OpenFile& file, uint8_t* r) {
    using namespace scanlist;
    if (failsOutright("scan-list", nullptr, "pcimap scan-list")) return -EIO;
    std::memset(r + kFirstTable, 0, 4 * kEntries);
    std::memset(r + kSecondTable, 0, 4 * kEntries);
    int32_t status = int32_t(faults_.value("status", "scan-list"));
    size_t count = 0;
    if (status == kStatusOk) {
        count = file.pairs_.size();
        for (size_t i = 0; i < count; ++i) {
            putSigned32(r + kFirstTable + 4 * i, file.pairs_[i].first);
            putSigned32(r + kSecondTable + 4 * i, file.pairs_[i].second);
        }
    }
    putSigned32(r + kCount, int32_t(count));
    putSigned32(r + kStatus, status);
    emit("pcimap scan-list -> count=" + std::to_string(count) +
         " status=" + std::to_string(status));
    return 0;
}

int VirtualPciDriver::registerAccess(OpenFile& file, uint8_t* r) {
    using namespace access;
    const AccessHeader a = decodeAccess(r);
    bool write = a.operation == kWrite;
    std::string line =
        std::string("pcimap ") + (write ? "register-write " : "register-read ") + describeAccess(a);
    if (a.key != 0) line += " key=" + hex(a.key);
    if (write && a.length <= kMaxData) line += " " + bytes(r + kData, a.length);

    Slot* slot = slotAt(file, a.index);
    if (failsOutright(write ? "register-write" : "register-read", slot, line)) return -EIO;
    int32_t status = kStatusOk;
    if (slot == nullptr || (a.operation != kRead && a.operation != kWrite) ||
        !validUnit(a.offset, a.width, a.length))
        status = kStatusInvalid;
    else if (slot->faults.active("status", write ? "register-write" : "register-read"))
        status = int32_t(slot->faults.value("status", write ? "register-write" : "register-read"));
    else
        status = keyStatus(*slot, a.key, line);

    if (status == kStatusOk) {
        for (uint32_t done = 0; done < a.length; done += a.width) {
            if (write)
                writeUnit(*slot->function, a.offset + done, a.width,
                          unitFromBytes(r + kData + done, a.width));
            else
                unitToBytes(r + kData + done, a.width,
                            readUnit(*slot->function, a.offset + done, a.width));
        }
    }
    putSigned32(r + kStatus, status);
    if (!write && status == kStatusOk)
        line += " -> " + bytes(r + kData, a.length) + " status=0";
    else
        line += " -> status=" + std::to_string(status);
    emit(line);
    return 0;
}

int VirtualPciDriver::getVersion(uint8_t* r) {
    if (failsOutright("version", nullptr, "pcimap version")) return -EIO;
    std::memset(r, 0, kVersionBytes);
    std::memcpy(r, settings_.version.data(), std::min(settings_.version.size(), kVersionBytes - 1));
    emit("pcimap version -> \"" + std::string(reinterpret_cast<char*>(r)) + "\"");
    return 0;
}

int VirtualPciDriver::lock(OpenFile& file, uint8_t* r) {
    using namespace lockrec;
    uint32_t index = get32(r + kIndex);
    std::string line = "pcimap lock dev=" + std::to_string(index);
    Slot* slot = slotAt(file, index);
    if (failsOutright("lock", slot, line)) return -EIO;
    int32_t status = presetStatus(slot, "lock");
    if (status == kStatusOk && lockedByAnother(*slot, 0)) status = kStatusBusy;
    if (status == kStatusOk) {
        slot->lockKey = nextKey_++;
        if (nextKey_ == 0) nextKey_ = 1;
        slot->lockOwner = file.id_;
        put32(r + kKey, slot->lockKey);
        line += " -> key=" + hex(slot->lockKey) + " status=0";
    } else {
        line += " -> status=" + std::to_string(status);
    }
    putSigned32(r + kStatus, status);
    emit(line);
    return 0;
}

int VirtualPciDriver::unlock(OpenFile& file, uint8_t* r) {
    using namespace lockrec;
    uint32_t index = get32(r + kIndex);
    uint32_t key = get32(r + kKey);
    std::string line = "pcimap unlock dev=" + std::to_string(index) + " key=" + hex(key);
    Slot* slot = slotAt(file, index);
    if (failsOutright("unlock", slot, line)) return -EIO;
    int32_t status = presetStatus(slot, "unlock");
    if (status == kStatusOk && (slot->lockKey == 0 || slot->lockKey != key))
        status = kStatusInvalid;  // not locked, or locked under another key
    if (status == kStatusOk) {
        slot->lockKey = 0;
        slot->lockOwner = 0;
    }
    putSigned32(r + kStatus, status);
    emit(line + " -> status=" + std::to_string(status));
    return 0;
}

int VirtualPciDriver::deviceInformation(OpenFile& file, uint8_t* r) {
    using namespace info;
    uint64_t index = get64(r + kIndex);
    std::string line = "pcimap device-info dev=" + std::to_string(int64_t(index));
    Slot* slot = slotAt(file, index);
    if (failsOutright("device-info", slot, line)) return -EIO;
    int32_t status = presetStatus(slot, "device-info");
    if (status == kStatusOk) {
        putSigned32(r + kFirst, slot->function->vendorId());
        putSigned32(r + kSecond, slot->function->deviceId());
        line += " -> " + hex(slot->function->vendorId()) + " " + hex(slot->function->deviceId());
    } else {
        line += " ->";
    }
    putSigned32(r + kStatus, status);
    emit(line + " status=" + std::to_string(status));
    return 0;
}

int VirtualPciDriver::cacheWriteCommand(OpenFile& file, uint8_t* r) {
    using namespace access;
    const AccessHeader a = decodeAccess(r);
    uint32_t settle = get32(r + cachewrite::kSettle);
    std::string line = "pcimap cache-write " + describeAccess(a);
    if (a.length <= kMaxData)
        line +=
            " " + bytes(r + kData, a.length) + " mask " + bytes(r + cachewrite::kMask, a.length);
    line += " settle=" + std::to_string(settle);

    Slot* slot = slotAt(file, a.index);
    if (failsOutright("cache-write", slot, line)) return -EIO;
    int32_t status = kStatusOk;
    if (slot == nullptr || a.operation != kWrite || !validUnit(a.offset, a.width, a.length) ||
        file.cache_.size() >= kMaxCachedCommands)
        status = kStatusInvalid;
    else if (slot->faults.active("status", "cache-write"))
        status = int32_t(slot->faults.value("status", "cache-write"));
    if (status == kStatusOk) {
        OpenFile::CachedCommand command{};
        command.slot = file.scanList_[a.index];
        command.offset = a.offset;
        command.width = a.width;
        command.length = a.length;
        command.key = a.key;
        std::memcpy(command.data, r + kData, a.length);
        std::memcpy(command.mask, r + cachewrite::kMask, a.length);
        command.settle = settle;
        file.cache_.push_back(command);
    }
    putSigned32(r + cachewrite::kStatus, status);
    emit(line + " -> status=" + std::to_string(status) +
         " queued=" + std::to_string(file.cache_.size()));
    return 0;
}

int VirtualPciDriver::clearCommandCache(OpenFile& file, uint8_t* r) {
    if (failsOutright("cache-clear", nullptr, "pcimap cache-clear")) return -EIO;
    size_t dropped = file.cache_.size();
    file.cache_.clear();
    putSigned32(r, kStatusOk);
    emit("pcimap cache-clear -> dropped=" + std::to_string(dropped) + " status=0");
    return 0;
}

int VirtualPciDriver::executeCommandCache(OpenFile& file, uint8_t* r) {
    if (failsOutright("cache-execute", nullptr, "pcimap cache-execute")) return -EIO;
    std::vector<OpenFile::CachedCommand> commands;
    commands.swap(file.cache_);
    int32_t status = kStatusOk;
    size_t done = 0;
    std::vector<PciFunction*> touched;
    for (const auto& command : commands) {
        Slot& slot = slots_[command.slot];
        if (slot.faults.active("fail", "cache-execute")) {
            emit("pcimap cache-execute -> " + failed(EIO) + " after " + std::to_string(done) +
                 " of " + std::to_string(commands.size()));
            return -EIO;
        }
        if (slot.faults.active("status", "cache-execute"))
            status = int32_t(slot.faults.value("status", "cache-execute"));
        else
            status = keyStatus(slot, command.key, "pcimap cache-execute key=" + hex(command.key));
        if (status != kStatusOk) break;
        for (unsigned at = 0; at < command.length; at += command.width) {
            uint64_t mask = unitFromBytes(command.mask + at, command.width);
            if (mask == 0) continue;
            uint64_t value = unitFromBytes(command.data + at, command.width);
            uint64_t all =
                command.width == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * command.width)) - 1;
            if (mask != all)
                value = (readUnit(*slot.function, command.offset + at, command.width) & ~mask) |
                        (value & mask);
            slot.function->cachedWriteMask(command.offset + at, mask);
            writeUnit(*slot.function, command.offset + at, command.width, value);
        }
        slot.function->cachedWriteSettled(command.settle);
        if (std::find(touched.begin(), touched.end(), slot.function) == touched.end())
            touched.push_back(slot.function);
        ++done;
    }
    for (PciFunction* function : touched) function->commandCacheExecuted();
    putSigned32(r, status);
    emit("pcimap cache-execute -> commands=" + std::to_string(done) + "/" +
         std::to_string(commands.size()) + " status=" + std::to_string(status));
    return 0;
}

void VirtualPciDriver::saveState(nlohmann::json& out) const {
    out["version"] = settings_.version;
    out["open_files"] = openFiles_;
    nlohmann::json functions = nlohmann::json::array();
    for (const Slot& slot : slots_) {
        nlohmann::json entry;
        entry["vendor"] = hex(slot.function->vendorId());
        entry["device"] = hex(slot.function->deviceId());
        entry["locked"] = slot.lockKey != 0;
        if (slot.lockKey != 0) entry["key"] = hex(slot.lockKey);
        functions.push_back(entry);
    }
    out["functions"] = functions;
    out["faults"] = faults_.toJson();
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
