#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/FaultTable.h"
#include "sim/chips/PciFunction.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// How the virtual driver presents itself, and the faults it injects on the scan requests.
struct PciDriverSettings {
    std::string version = "1.4.2";  // at most 15 characters
    int scanStatus = 0;             // status of every add-scan and scan-list request
    std::set<std::string> failing;  // request names whose system call fails (EIO)
};

// Faults of one PCI function: a status reported for every request addressed to it (nothing is
// done), or a failing system call.
struct PciFunctionFaults {
    int status = 0;
    bool fail = false;
};

// The kit's kernel driver, written from the driver's side of its ioctl records: it knows the
// rig's PCI functions, builds a scan list from the identifier pairs a program registers, gives
// register access to the listed functions, keeps a per-device lock and a write-command cache.
//
// Scan list: each open file of the device node has its own. A registration whose flag byte has
// bit 0 set starts a new list. The list holds every function that matches a registered pair,
// in the rig's PCI order; a registration answers with the number of functions matching its
// pair and the list index of the first of them (-1 when none). The driver's device index is
// the position in that list. "scan-list" reports the registered pairs: vendors in the first
// table, devices in the second.
//
// Device information: the function's vendor and device identifier.
//
// Lock: per function and shared by every open file, like the hardware. A lock request on a
// free function returns a fresh non-zero key; on a locked function it reports busy (255). While
// a function is locked, register accesses and cached commands that do not carry its key are
// refused as busy; on a function nobody has locked, a request must carry no key (a key there is
// invalid, status 1, and counts as a violation: the program has lost track of its lock).
// Unlocking needs the key. Locks still held when an open file is closed are dropped, as a
// driver does in its release handler; before refusing anything over another file's lock the
// driver asks its host to close the files whose processes have gone (setAbandonedFileCheck), so
// a lock never outlives its process from the point of view of the process's parent.
//
// Command cache: per open file. A cached command is a masked register write: the second data
// block selects the bits taken from the first (a mask unit of all ones writes without reading
// the register first), and the last argument is the settling time in microseconds the driver
// leaves after the write. "cache-execute" performs the queued commands in order and empties the
// queue; the first command that fails ends it with that status.
//
// Register access: `length` bytes (1..32) at `offset` in units of `width` bytes (1, 2, 4 or 8,
// the offset aligned to the width); units narrower than a register are read-modify-write on the
// 32-bit register that holds them, an 8-byte unit is two registers, low word first.
//
// Statuses: 0 done, 1 an invalid request (index, operation, width, length), 255 locked under
// another key. Fault injection adds any status (and request failure) per function and for the
// scan requests.
//
// Faults (the rig file's keys at start, the control channel while programs run): the driver's
// own table (qrt-sim --control "driver fault pcimap ...") takes "fail [REQUEST]" (the system
// call fails with EIO), "status N [REQUEST]" (the scan requests report status N) and "missing"
// (the device node is gone: opening it fails with ENOENT; files already open keep working, as
// after an unlink) or "denied" (the node's mode keeps the caller out: opening fails with
// EACCES); each function's table ("<section> fault pcimap ...") takes "fail" and
// "status N", for every request addressed to it or one request (REQUEST: a name of
// requestNames()).
class VirtualPciDriver {
  public:
    using Trace = std::function<void(const std::string&)>;

    using Settings = PciDriverSettings;
    using FunctionFaults = PciFunctionFaults;

    // Names of the requests for Settings::failing: the request names of the wire table, with
    // register access split into "register-read" and "register-write".
    static const std::vector<std::string>& requestNames();

    explicit VirtualPciDriver(Settings settings = Settings(), Trace trace = Trace());
    ~VirtualPciDriver();
    VirtualPciDriver(const VirtualPciDriver&) = delete;
    VirtualPciDriver& operator=(const VirtualPciDriver&) = delete;

    // Puts a function on the bus, after those added before (the PCI order).
    void addFunction(PciFunction* function, FunctionFaults faults = FunctionFaults());
    size_t functionCount() const { return slots_.size(); }
    // The faults of the driver itself, and those of the requests addressed to `function` (null
    // for a function that is not on the bus).
    FaultTable& faults() { return faults_; }
    FaultTable* functionFaults(const PciFunction* function);

    // One open file of the device node. Closing it (destroying it) drops its locks; it must not
    // outlive its driver.
    class OpenFile {
      public:
        ~OpenFile();
        OpenFile(const OpenFile&) = delete;
        OpenFile& operator=(const OpenFile&) = delete;
        const std::vector<size_t>& scanList() const { return scanList_; }

      private:
        friend class VirtualPciDriver;
        struct CachedCommand {
            size_t slot;
            uint64_t offset;
            unsigned width;
            unsigned length;
            uint32_t key;
            uint8_t data[32];
            uint8_t mask[32];
            uint32_t settle;
        };
        OpenFile(VirtualPciDriver& driver, uint64_t id) : driver_(driver), id_(id) {}

        VirtualPciDriver& driver_;
        uint64_t id_;
        std::vector<std::pair<int32_t, int32_t>> pairs_;  // registered vendor/device pairs
        std::vector<size_t> scanList_;                    // function slots, by device index
        std::vector<CachedCommand> cache_;
    };

    std::unique_ptr<OpenFile> open();

    // Called before a request is refused over a lock held by another open file: the host
    // closes (destroys) the open files whose processes have all gone, which drops their locks.
    void setAbandonedFileCheck(std::function<void()> check) {
        abandonedFileCheck_ = std::move(check);
    }

    // One ioctl on `file`: `record` holds the bytes at the request's address, at least the
    // request's record size, and receives the driver's answer. Returns 0 when the driver carried
    // the request out (its status field says how it went) or a negative errno: -ENOTTY for a
    // code that is not this driver's, -EFAULT for a short record, -EIO for an injected failure.
    int request(OpenFile& file, unsigned long code, std::vector<uint8_t>& record);

    void saveState(nlohmann::json& out) const;

    static constexpr size_t kMaxPairs = 32;
    static constexpr size_t kMaxCachedCommands = 4096;

  private:
    struct Slot {
        PciFunction* function;
        FaultTable faults{{"status", "fail"}, requestNames()};
        uint32_t lockKey = 0;  // 0: free
        uint64_t lockOwner = 0;
    };
    // The function a record's device index names in `file`'s scan list, or null.
    Slot* slotAt(const OpenFile& file, uint64_t index);
    // Status of a request carrying `key` on `slot`: ok, busy (another file's lock) or invalid
    // (a key on a function nobody has locked).
    int32_t keyStatus(Slot& slot, uint32_t key, const std::string& request);
    // Whether `slot` is locked, after the files of processes that have gone were closed.
    bool lockedByAnother(Slot& slot, uint32_t key);
    bool failsOutright(const char* request, const Slot* slot, const std::string& line) const;
    static int32_t presetStatus(const Slot* slot, const char* request);
    void release(OpenFile& file);
    void emit(const std::string& line) const;

    int addScanDevice(OpenFile& file, uint8_t* record);
    int getScanList(OpenFile& file, uint8_t* record);
    int registerAccess(OpenFile& file, uint8_t* record);
    int getVersion(uint8_t* record);
    int lock(OpenFile& file, uint8_t* record);
    int unlock(OpenFile& file, uint8_t* record);
    int deviceInformation(OpenFile& file, uint8_t* record);
    int cacheWriteCommand(OpenFile& file, uint8_t* record);
    int clearCommandCache(OpenFile& file, uint8_t* record);
    int executeCommandCache(OpenFile& file, uint8_t* record);

    Settings settings_;
    Trace trace_;
    std::vector<Slot> slots_;
    uint64_t nextFileId_ = 1;
    uint32_t nextKey_ = 0x4B1D0001;
    size_t openFiles_ = 0;
    Violations violations_{"pcimap"};
    FaultTable faults_{{"status", "fail", "missing", "denied"}, requestNames()};
    std::function<void()> abandonedFileCheck_;
};

}  // namespace qrtsim
