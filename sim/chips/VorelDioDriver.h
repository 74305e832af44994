#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/bridge/SysfsDirectory.h"
#include "sim/chips/FaultTable.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The embedded system's digital I/O block with its kernel drivers, from the kernel's side of
// their interfaces: the DIO driver's sysfs class directory and the uevents it raises, and the
// board-identification driver's HWID file.
//
// Attributes, as the drivers show them (each value followed by a newline; an input can be left
// without attributes, as by a driver that skips a line):
//   DI_<n>          input level, read-only (0444)
//   DI_<n>_TrigMod  trigger polarity code of the inputs that have one (0644): 1 raises uevents
//                   on rising edges, 0 on falling edges, 2 on both; inputs without the file
//                   raise them on both
//   DO_<n>          output level (0644, or 0200 where the output cannot be read back)
//   HWID            the board identification text, read-only, in the HWID directory
// They are served with sysfs's rules (SysfsDirectory): each write() is one store, judged on its
// own. The stores take "0" or "1" (DO) and "0", "1" or "2" (trigger mode) as decimal text,
// optionally followed by a newline; another value fails that write with EINVAL and counts as a
// violation ("do-value", "trigger-mode-value"), and the attribute keeps its value. An open the
// mode refuses (EACCES, root included) counts too: "read-only-written" for opening DI_<n> or
// HWID for writing, "write-only-read" for opening a write-only DO_<n> for reading; so does a
// file created in the directories ("file-created", refused with EACCES).
//
// An input change raises, on the edges its trigger mode selects, the kernel's uevent:
//   change@/devices/platform/vorel_dio  ACTION=change  DEVPATH=/devices/platform/vorel_dio
//   SUBSYSTEM=platform  DI_<n>=<level>  DRIVER=vorel_dio  OF_NAME=dio  OF_FULLNAME=...
//   OF_COMPATIBLE_0=vorel,dio  OF_COMPATIBLE_N=1  MODALIAS=platform:vorel_dio  VOREL_DIO_CAL=...
//   SEQNUM=<n>
// The driver's calibration key makes its uevents as long as a verbose driver's: their sizes
// run through kUeventSizes, up to what a receiver must hold (8 KiB of environment behind the
// header).
// Other devices' uevents (kOtherDevices) come before each, as on a live system, and
// `burst(count)` puts that many of them on the socket at once, as a hub enumerating would.
//
// Faults (qrt-sim --control "<section> fault dio ..."): "fail FILE" (DI_0, DO_1, DI_2_TrigMod,
// HWID), the attribute's handler fails: reads and writes of it fail with EIO until the fault is
// cleared; "garbage", datagrams that are no uevent of the kernel's (a header without "@" or
// none at all, strings without their terminator, datagrams longer than a receive buffer whose
// cut ends look like an input change) reach the uevent socket when the fault is set and before
// every uevent raised while it stands.
class VorelDioDriver {
  public:
    static constexpr const char* kClassDirectory = "/sys/class/vorel_dio";
    static constexpr const char* kHwidDirectory = "/sys/class/norvikhw";
    static constexpr const char* kDevicePath = "/devices/platform/vorel_dio";
    static constexpr unsigned kMaxLines = 64;

    struct Settings {
        unsigned inputs = 4;
        unsigned outputs = 4;
        std::set<unsigned> edgeInputs;       // inputs with a trigger-mode file
        std::set<unsigned> absentInputs;     // inputs the driver offers no files for
        std::set<unsigned> readableOutputs;  // outputs whose file can be read
        std::vector<int> inputLevels;        // initial levels (missing ones: 0)
        std::string hwid = "TULAN-KQX";
    };
    // Sends one uevent datagram; false with the reason.
    using UeventSink = std::function<bool(const std::string& datagram, std::string& error)>;
    using Trace = std::function<void(const std::string&)>;

    // Sizes (in bytes) the driver's uevents take in turn.
    static constexpr size_t kUeventSizes[] = {640, 2300, 4700, 8220};

    explicit VorelDioDriver(const Settings& settings);
    VorelDioDriver(const VorelDioDriver&) = delete;
    VorelDioDriver& operator=(const VorelDioDriver&) = delete;

    // The attribute directories, for the host to serve at kClassDirectory and kHwidDirectory.
    SysfsDirectory& classAttributes() { return classDirectory_; }
    SysfsDirectory& hwidAttributes() { return hwidDirectory_; }
    // Once the host serves them: the inputs can raise uevents.
    void attributesServed() { filesCreated_ = true; }

    void setUeventSink(UeventSink sink) { uevents_ = std::move(sink); }
    void setTrace(Trace trace) {
        violations_.setTrace(trace);
        trace_ = std::move(trace);
    }

    // Drives input `index` to `level` (0 or 1) and raises the uevent when the edge is one its
    // trigger mode selects. False with `reply` saying why for a bad input, level or send.
    bool setInput(unsigned index, int level, std::string& reply);
    // Raises the driver's uevent with some strings replaced or added ("KEY=VALUE"; an added key
    // goes before DRIVER), for a program's handling of other events.
    bool raiseUevent(const std::vector<std::string>& strings, std::string& reply);
    // `count` uevents of other devices at once, each close to 8 KiB.
    bool burst(unsigned count, std::string& reply);

    int outputLevel(unsigned index) const;
    int triggerMode(unsigned index) const;  // -1 for an input without the file
    const Violations& violations() const { return violations_; }
    FaultTable& faults() { return faults_; }
    void saveState(nlohmann::json& out) const;

  private:
    enum class Kind { kInput, kTriggerMode, kOutput, kHwid };
    // One attribute: what it is, its line and its mode.
    struct Attribute {
        Kind kind;
        unsigned line;
        unsigned mode;
    };
    // One of the two directories, as sysfs serves it.
    class Directory : public SysfsDirectory {
      public:
        explicit Directory(VorelDioDriver& driver) : driver_(driver) {}
        std::vector<std::string> names() const override { return order_; }
        bool mode(const std::string& name, unsigned& mode) const override;
        void refusedOpen(const std::string& name, bool read, bool write) override;
        void refusedCreate(const std::string& name) override;
        int show(const std::string& name, std::string& text) override;
        int store(const std::string& name, const std::string& text) override;
        void add(const std::string& name, Attribute attribute);

      private:
        VorelDioDriver& driver_;
        std::vector<std::string> order_;
        std::map<std::string, Attribute> attributes_;
    };

    std::string shown(const Attribute& attribute) const;
    int stored(const std::string& name, const Attribute& attribute, const std::string& text);
    bool failing(const std::string& name) const;
    void applyFaults();
    void sendGarbage();
    bool sendDatagram(const std::string& datagram, std::string& error);
    void sendOtherDevice(size_t size);
    std::string uevent(std::vector<std::pair<std::string, std::string>> strings, size_t size,
                       std::string& shown);
    bool send(std::vector<std::pair<std::string, std::string>> strings, std::string& reply);
    void emit(const std::string& line) const {
        if (trace_) trace_(line);
    }

    Settings settings_;
    std::vector<int> inputs_;
    std::vector<int> triggerModes_;  // -1: no file
    std::vector<int> outputs_;
    Directory classDirectory_{*this};
    Directory hwidDirectory_{*this};
    bool filesCreated_ = false;
    unsigned sequence_ = 1000;
    unsigned ueventsSent_ = 0;
    unsigned otherUevents_ = 0;
    unsigned sizeTurn_ = 0;
    Violations violations_{"dio"};
    FaultTable faults_{{"fail", "garbage"}};
    UeventSink uevents_;
    Trace trace_;
};

}  // namespace qrtsim
