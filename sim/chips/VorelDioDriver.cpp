#include "sim/chips/VorelDioDriver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace qrtsim {

namespace {

constexpr int kRisingEdges = 1;
constexpr int kFallingEdges = 0;
constexpr int kBothEdges = 2;
constexpr unsigned kInputMode = 0444;
constexpr unsigned kTriggerModeMode = 0644;
constexpr unsigned kReadableOutputMode = 0644;
constexpr unsigned kWriteOnlyOutputMode = 0200;
constexpr unsigned kWriteBits = 0222;
// The calibration key the driver pads its uevents with.
constexpr char kCalibrationKey[] = "VOREL_DIO_CAL";

using Strings = std::vector<std::pair<std::string, std::string>>;

// Devices whose uevents a live system puts on the socket between the DIO driver's.
struct OtherDevice {
    const char* devpath;
    const char* subsystem;
    const char* keys;  // further KEY=VALUE strings, separated by '|'
};
constexpr OtherDevice kOtherDevices[] = {
    {"/devices/virtual/thermal/thermal_zone0", "thermal", "NAME=cpu-thermal|TEMP=51000|TRIP=1"},
    {"/devices/platform/soc/30800000.bus/30a20000.i2c/i2c-1/1-0050", "i2c",
     "DRIVER=at24|OF_NAME=eeprom|OF_COMPATIBLE_0=atmel,24c02|MODALIAS=of:NeepromT(null)Catmel,"
     "24c02"},
    {"/devices/platform/soc/32f10108.usb/38200000.dwc3/xhci-hcd.1.auto/usb2/2-1", "usb",
     "DEVTYPE=usb_device|DRIVER=usb|PRODUCT=bda/411/104|TYPE=9/0/3|BUSNUM=002|DEVNUM=002"},
};

// What an attribute's store takes: decimal digits, optionally followed by one newline.
bool storedValue(const std::string& text, int& value) {
    std::string digits = text;
    if (!digits.empty() && digits.back() == '\n') digits.pop_back();
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoi(digits);
    return true;
}

// A file's content for a trace line: one line, control characters as \xNN.
std::string printable(const std::string& content) {
    std::string text;
    for (unsigned char c : content) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        text += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : escaped;
    }
    return text;
}

std::string shownValue(int value) {
    return std::to_string(value) + "\n";
}

// The strings of the driver's uevent in the kernel's order, without the input's key.
Strings standardStrings() {
    return {{"ACTION", "change"},
            {"DEVPATH", VorelDioDriver::kDevicePath},
            {"SUBSYSTEM", "platform"},
            {"DRIVER", "vorel_dio"},
            {"OF_NAME", "dio"},
            {"OF_FULLNAME", "/soc@0/bus@30000000/dio@30370000"},
            {"OF_COMPATIBLE_0", "vorel,dio"},
            {"OF_COMPATIBLE_N", "1"},
            {"MODALIAS", "platform:vorel_dio"},
            {kCalibrationKey, ""},
            {"SEQNUM", ""}};
}

// Hexadecimal words that stand for a driver's (or device's) data, `length` characters.
std::string filler(size_t length, unsigned seed) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(length, '0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = kDigits[(state >> 16) & 0xF];
    }
    return text;
}

// Replaces the value of `key`, or adds the string in front of DRIVER (where the kernel puts
// the driver's own keys).
void putString(Strings& strings, const std::string& key, const std::string& value) {
    for (auto& entry : strings) {
        if (entry.first != key) continue;
        entry.second = value;
        return;
    }
    auto driver = std::find_if(strings.begin(), strings.end(),
                               [](const auto& entry) { return entry.first == "DRIVER"; });
    strings.insert(driver, {key, value});
}

std::string lineName(const char* prefix, unsigned line, const char* suffix = "") {
    return prefix + std::to_string(line) + suffix;
}

}  // namespace

VorelDioDriver::VorelDioDriver(const Settings& settings)
    : settings_(settings),
      inputs_(settings.inputs, 0),
      triggerModes_(settings.inputs, -1),
      outputs_(settings.outputs, 0) {
    for (unsigned i = 0; i < settings.inputs && i < settings.inputLevels.size(); ++i)
        inputs_[i] = settings.inputLevels[i];
    for (unsigned i : settings.edgeInputs)
        if (i < settings.inputs) triggerModes_[i] = kBothEdges;
    for (unsigned i = 0; i < settings.inputs; ++i) {
        if (settings.absentInputs.count(i)) continue;
        classDirectory_.add(lineName("DI_", i), {Kind::kInput, i, kInputMode});
        if (triggerModes_[i] >= 0)
            classDirectory_.add(lineName("DI_", i, "_TrigMod"),
                                {Kind::kTriggerMode, i, kTriggerModeMode});
    }
    for (unsigned i = 0; i < settings.outputs; ++i) {
        bool readable = settings.readableOutputs.count(i) != 0;
        classDirectory_.add(
            lineName("DO_", i),
            {Kind::kOutput, i, readable ? kReadableOutputMode : kWriteOnlyOutputMode});
    }
    hwidDirectory_.add("HWID", {Kind::kHwid, 0, kInputMode});
    faults_.changed = [this] { applyFaults(); };
}

void VorelDioDriver::Directory::add(const std::string& name, Attribute attribute) {
    order_.push_back(name);
    attributes_[name] = attribute;
    driver_.faults_.addRequests({name});
}

bool VorelDioDriver::Directory::mode(const std::string& name, unsigned& mode) const {
    auto found = attributes_.find(name);
    if (found == attributes_.end()) return false;
    mode = found->second.mode;
    return true;
}

void VorelDioDriver::Directory::refusedOpen(const std::string& name, bool read, bool write) {
    auto found = attributes_.find(name);
    if (found == attributes_.end()) return;
    bool writable = (found->second.mode & kWriteBits) != 0;
    if (write && !writable)
        driver_.violations_.count("read-only-written", name + " is read-only");
    else if (read)
        driver_.violations_.count("write-only-read", name + " is write-only");
}

void VorelDioDriver::Directory::refusedCreate(const std::string& name) {
    driver_.violations_.count("file-created", name + " is no attribute of the driver");
}

int VorelDioDriver::Directory::show(const std::string& name, std::string& text) {
    auto found = attributes_.find(name);
    if (found == attributes_.end()) return -ENOENT;
    if (driver_.failing(name)) return -EIO;
    text = driver_.shown(found->second);
    return 0;
}

int VorelDioDriver::Directory::store(const std::string& name, const std::string& text) {
    auto found = attributes_.find(name);
    if (found == attributes_.end()) return -ENOENT;
    if (driver_.failing(name)) return -EIO;
    return driver_.stored(name, found->second, text);
}

std::string VorelDioDriver::shown(const Attribute& attribute) const {
    switch (attribute.kind) {
        case Kind::kInput:
            return shownValue(inputs_[attribute.line]);
        case Kind::kTriggerMode:
            return shownValue(triggerModes_[attribute.line]);
        case Kind::kOutput:
            return shownValue(outputs_[attribute.line]);
        case Kind::kHwid:
            break;
    }
    return settings_.hwid + "\n";
}

// One write() of a program: the store takes the whole text or refuses it (the attribute keeps
// its value).
int VorelDioDriver::stored(const std::string& name, const Attribute& attribute,
                           const std::string& text) {
    if (attribute.kind == Kind::kInput || attribute.kind == Kind::kHwid) return -EIO;
    bool output = attribute.kind == Kind::kOutput;
    int value = -1;
    if (!storedValue(text, value) || value < 0 || value > (output ? 1 : kBothEdges)) {
        violations_.count(output ? "do-value" : "trigger-mode-value",
                          name + " written with \"" + printable(text) + "\"");
        return -EINVAL;
    }
    (output ? outputs_ : triggerModes_)[attribute.line] = value;
    emit(name + " <- " + std::to_string(value));
    return 0;
}

bool VorelDioDriver::setInput(unsigned index, int level, std::string& reply) {
    if (index >= settings_.inputs) {
        reply = "no input " + std::to_string(index) + " (the block has " +
                std::to_string(settings_.inputs) + ")";
        return false;
    }
    if (level != 0 && level != 1) {
        reply = "an input level is 0 or 1";
        return false;
    }
    if (!filesCreated_ || settings_.absentInputs.count(index)) {
        reply = "no files for DI_" + std::to_string(index);
        return false;
    }
    std::string name = lineName("DI_", index);
    if (inputs_[index] == level) {
        reply = name + " is at " + std::to_string(level) + " already; no edge, no uevent";
        return true;
    }
    inputs_[index] = level;
    int mode = triggerModes_[index];
    bool rising = level == 1;
    bool selected = mode < 0 || mode == kBothEdges || (mode == kRisingEdges && rising) ||
                    (mode == kFallingEdges && !rising);
    if (!selected) {
        reply = name + " = " + std::to_string(level) + "; its trigger mode " +
                std::to_string(mode) + " does not select this edge, no uevent";
        return true;
    }
    Strings strings = standardStrings();
    putString(strings, name, std::to_string(level));
    return send(strings, reply);
}

bool VorelDioDriver::raiseUevent(const std::vector<std::string>& replaced, std::string& reply) {
    Strings strings = standardStrings();
    for (const std::string& text : replaced) {
        size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
            reply = "\"" + text + "\" is not KEY=VALUE";
            return false;
        }
        putString(strings, text.substr(0, equals), text.substr(equals + 1));
    }
    return send(strings, reply);
}

// The datagram of `strings` as the kernel builds it ("<action>@<devpath>", then each string
// NUL-terminated), with the sequence number filled in and the calibration key padding it to
// `size` bytes; `shown` gets the trace's form.
std::string VorelDioDriver::uevent(Strings strings, size_t size, std::string& shown) {
    std::string action, devpath;
    size_t calibration = strings.size();
    size_t length = 0;
    for (size_t i = 0; i < strings.size(); ++i) {
        auto& entry = strings[i];
        if (entry.first == "SEQNUM" && entry.second.empty())
            entry.second = std::to_string(++sequence_);
        if (entry.first == "ACTION") action = entry.second;
        if (entry.first == "DEVPATH") devpath = entry.second;
        if (entry.first == kCalibrationKey && entry.second.empty()) calibration = i;
        length += entry.first.size() + entry.second.size() + 2;
    }
    std::string datagram = action + "@" + devpath + '\0';
    length += datagram.size();
    if (calibration < strings.size())
        strings[calibration].second = filler(size > length ? size - length : 1, sequence_);
    shown = action + "@" + devpath;
    for (const auto& entry : strings) {
        datagram += entry.first + "=" + entry.second + '\0';
        shown +=
            " " + entry.first + "=" +
            (entry.first == kCalibrationKey ? "<" + std::to_string(entry.second.size()) + " digits>"
                                            : entry.second);
    }
    return datagram;
}

bool VorelDioDriver::sendDatagram(const std::string& datagram, std::string& error) {
    error = "no uevent socket";
    return uevents_ && uevents_(datagram, error);
}

// Another device's uevent, of about `size` bytes.
void VorelDioDriver::sendOtherDevice(size_t size) {
    const OtherDevice& device = kOtherDevices[otherUevents_++ % std::size(kOtherDevices)];
    Strings strings = {
        {"ACTION", "change"}, {"DEVPATH", device.devpath}, {"SUBSYSTEM", device.subsystem}};
    std::string keys = device.keys;
    for (size_t start = 0; start < keys.size();) {
        size_t bar = std::min(keys.find('|', start), keys.size());
        std::string item = keys.substr(start, bar - start);
        size_t equals = item.find('=');
        strings.push_back({item.substr(0, equals), item.substr(equals + 1)});
        start = bar + 1;
    }
    strings.push_back({kCalibrationKey, ""});
    strings.push_back({"SEQNUM", ""});
    std::string shown, error;
    sendDatagram(uevent(strings, size, shown), error);
}

bool VorelDioDriver::send(Strings strings, std::string& reply) {
    std::string shown;
    std::string datagram =
        uevent(std::move(strings), kUeventSizes[sizeTurn_++ % std::size(kUeventSizes)], shown);
    if (faults_.active("garbage")) sendGarbage();
    // The system's other devices speak up in between.
    sendOtherDevice(kUeventSizes[ueventsSent_ % std::size(kUeventSizes)]);
    std::string error;
    if (!sendDatagram(datagram, error)) {
        reply = "uevent not sent: " + error;
        return false;
    }
    ++ueventsSent_;
    emit("uevent " + shown);
    reply = "uevent " + shown;
    return true;
}

bool VorelDioDriver::burst(unsigned count, std::string& reply) {
    std::string error;
    if (!sendDatagram("", error) && error == "no uevent socket") {
        reply = "uevent not sent: " + error;
        return false;
    }
    const size_t largest = kUeventSizes[std::size(kUeventSizes) - 1];
    for (unsigned i = 0; i < count; ++i) sendOtherDevice(largest);
    emit("uevent burst: " + std::to_string(count) + " of other devices");
    reply = std::to_string(count) + " uevents of other devices sent";
    return true;
}

bool VorelDioDriver::failing(const std::string& name) const {
    return faults_.active("fail", name);
}

void VorelDioDriver::applyFaults() {
    if (faults_.active("garbage")) sendGarbage();
}

void VorelDioDriver::sendGarbage() {
    const std::string header = std::string("change@") + kDevicePath;
    const std::string keys = std::string("ACTION=change") + '\0' + "DEVPATH=" + kDevicePath + '\0' +
                             "DRIVER=vorel_dio" + '\0';
    // Longer than any receive buffer it could meet: an input key ends exactly at each usual
    // buffer size, so that a receiver that takes the cut datagram as whole sees "DI_1=1".
    std::string cut = header + '\0' + keys;
    for (size_t end : {512, 1024, 2048, 4096, 8192, 12288, 16384}) {
        const std::string key = "DI_1=10";
        size_t start = end - (key.size() - 1);  // "DI_1=1" fills the bytes up to `end`
        if (cut.size() + 1 > start) continue;
        cut += filler(start - cut.size() - 1, unsigned(end)) + '\0' + key + '\0';
    }
    cut += filler(20000 - cut.size(), 7) + '\0';
    const std::string datagrams[] = {
        std::string("change") + kDevicePath + '\0' + keys + "DI_1=1" + '\0',  // no "@"
        keys + "DI_1=1" + '\0',                                               // no header
        header + '\0' + "ACTION=change" + '\0' + "DI_1=1",                    // no terminator
        header + '\0' + "DI_" + std::string(40, '9') + "=\xff",
        cut,
        std::string("\xff\xfe\0\0@", 5)};
    std::string error;
    for (const std::string& datagram : datagrams) sendDatagram(datagram, error);
    emit("uevent garbage: " + std::to_string(std::size(datagrams)) + " datagrams");
}

int VorelDioDriver::outputLevel(unsigned index) const {
    return index < outputs_.size() ? outputs_[index] : -1;
}

int VorelDioDriver::triggerMode(unsigned index) const {
    return index < triggerModes_.size() ? triggerModes_[index] : -1;
}

void VorelDioDriver::saveState(nlohmann::json& out) const {
    out["files"] = filesCreated_;
    nlohmann::json inputs = nlohmann::json::array();
    for (unsigned i = 0; i < inputs_.size(); ++i) {
        nlohmann::json line = {{"level", inputs_[i]}};
        if (settings_.absentInputs.count(i)) line["absent"] = true;
        if (triggerModes_[i] >= 0) line["trigger_mode"] = triggerModes_[i];
        inputs.push_back(line);
    }
    out["inputs"] = inputs;
    nlohmann::json outputs = nlohmann::json::array();
    for (unsigned i = 0; i < outputs_.size(); ++i)
        outputs.push_back(
            {{"level", outputs_[i]}, {"readable", settings_.readableOutputs.count(i) != 0}});
    out["outputs"] = outputs;
    out["hwid"] = settings_.hwid;
    out["uevents"] = ueventsSent_;
    out["other_uevents"] = otherUevents_;
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
