#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/chips/FaultTable.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

// The embedded system's digital I/O block with its kernel drivers, from the kernel's side of
// their interfaces: the DIO driver's sysfs class directory and the uevents it raises, and the
// board-identification driver's HWID file.
//
// Files, as the drivers' attributes read (each value followed by a newline; an input can be
// left without files, as by a driver that skips a line):
//   DI_<n>          input level, read-only (0444)
//   DI_<n>_TrigMod  trigger polarity code of the inputs that have one (0644): 1 raises uevents
//                   on rising edges, 0 on falling edges, 2 on both; inputs without the file
//                   raise them on both
//   DO_<n>          output level (0644, or 0200 where the output cannot be read back)
//   HWID            the board identification text, read-only, in the HWID directory
// The attributes take "0" or "1" (DO) and "0", "1" or "2" (trigger mode), optionally followed
// by a newline, as decimal text. What the drivers would refuse (another value, a write to a
// read-only attribute, a new file in their directories) is undone and counted as a violation
// ("do-value", "trigger-mode-value", "read-only-written", "file-created").
// Writes are seen through inotify when their file is closed; two writes of one file that land
// before the rig looks are judged by the last.
//
// An input change raises, on the edges its trigger mode selects, the kernel's uevent:
//   change@/devices/platform/vorel_dio  ACTION=change  DEVPATH=/devices/platform/vorel_dio
//   SUBSYSTEM=platform  DI_<n>=<level>  DRIVER=vorel_dio  MODALIAS=platform:vorel_dio  SEQNUM=<n>
//
// Faults (qrt-sim --control "<section> fault dio ..."): "fail FILE" (DI_0, DO_1, DI_2_TrigMod,
// HWID), the attribute's handler fails: the file becomes a directory of that name for as long
// as the fault stands, so that opening it for writing fails and reading it fails (EISDIR), and
// what the driver's value became meanwhile shows again when the fault is cleared; "garbage",
// datagrams that are no uevent of the kernel's (a header without "@", strings without their
// terminator, an oversized one) reach the uevent socket when the fault is set and before every
// uevent raised while it stands.
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

    explicit VorelDioDriver(const Settings& settings);
    ~VorelDioDriver();
    VorelDioDriver(const VorelDioDriver&) = delete;
    VorelDioDriver& operator=(const VorelDioDriver&) = delete;

    // Creates the files in the two directories (where programs see kClassDirectory and
    // kHwidDirectory) and starts watching them. False with `error` when it cannot.
    bool createFiles(const std::string& classDirectory, const std::string& hwidDirectory,
                     std::string& error);
    // The descriptor that becomes readable when a program has written a file; -1 before
    // createFiles.
    int changeDescriptor() const { return inotify_; }
    // Judges what programs wrote since the last call.
    void takeFileChanges();
    // Takes the last changes and judges every file as it stands (before the state is saved).
    void settle();

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

    int outputLevel(unsigned index) const;
    int triggerMode(unsigned index) const;  // -1 for an input without the file
    const Violations& violations() const { return violations_; }
    FaultTable& faults() { return faults_; }
    void saveState(nlohmann::json& out) const;

  private:
    enum class Kind { kInput, kTriggerMode, kOutput, kHwid };
    // One attribute file: what it is, its line, and the text the driver shows now.
    struct Attribute {
        Kind kind;
        unsigned line;
        std::string path;
        std::string shown;
        unsigned mode = 0;
    };
    bool failing(const Attribute& attribute) const;
    void applyFaults();
    void sendGarbage();

    bool writeAttribute(Attribute& attribute, const std::string& value, unsigned mode,
                        std::string& error);
    void judge(Attribute& attribute, bool final);
    void judgeStranger(const std::string& directory, const std::string& name);
    bool send(std::vector<std::pair<std::string, std::string>> strings, std::string& reply);
    void emit(const std::string& line) const {
        if (trace_) trace_(line);
    }

    Settings settings_;
    std::vector<int> inputs_;
    std::vector<int> triggerModes_;  // -1: no file
    std::vector<int> outputs_;
    std::map<std::string, Attribute> attributes_;  // by path
    std::map<int, std::string> watched_;           // inotify watch -> directory
    std::string classDirectory_;
    int inotify_ = -1;
    bool filesCreated_ = false;
    unsigned sequence_ = 1000;
    unsigned ueventsSent_ = 0;
    Violations violations_{"dio"};
    FaultTable faults_{{"fail", "garbage"}};
    UeventSink uevents_;
    Trace trace_;
};

}  // namespace qrtsim
