#include "sim/chips/VorelDioDriver.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qrtsim {

namespace {

constexpr int kRisingEdges = 1;
constexpr int kFallingEdges = 0;
constexpr int kBothEdges = 2;
constexpr unsigned kInputMode = 0444;
constexpr unsigned kTriggerModeMode = 0644;
constexpr unsigned kReadableOutputMode = 0644;
constexpr unsigned kWriteOnlyOutputMode = 0200;
constexpr uint32_t kWatchedEvents = IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO;

using Strings = std::vector<std::pair<std::string, std::string>>;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
            {"MODALIAS", "platform:vorel_dio"},
            {"SEQNUM", ""}};
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
    faults_.changed = [this] { applyFaults(); };
}

VorelDioDriver::~VorelDioDriver() {
    if (inotify_ >= 0) ::close(inotify_);
}

bool VorelDioDriver::createFiles(const std::string& classDirectory,
                                 const std::string& hwidDirectory, std::string& error) {
    auto add = [&](Kind kind, unsigned line, const std::string& directory, const std::string& name,
                   const std::string& value, unsigned mode) {
        std::string path = directory + "/" + name;
        Attribute& attribute = attributes_[path] = Attribute{kind, line, path, "", mode};
        faults_.addRequests({name});
        return writeAttribute(attribute, value, mode, error);
    };
    classDirectory_ = classDirectory;
    bool ok = true;
    for (unsigned i = 0; ok && i < settings_.inputs; ++i) {
        if (settings_.absentInputs.count(i)) continue;
        ok = add(Kind::kInput, i, classDirectory, lineName("DI_", i), shownValue(inputs_[i]),
                 kInputMode);
        if (ok && triggerModes_[i] >= 0)
            ok = add(Kind::kTriggerMode, i, classDirectory, lineName("DI_", i, "_TrigMod"),
                     shownValue(triggerModes_[i]), kTriggerModeMode);
    }
    for (unsigned i = 0; ok && i < settings_.outputs; ++i) {
        bool readable = settings_.readableOutputs.count(i) != 0;
        ok = add(Kind::kOutput, i, classDirectory, lineName("DO_", i), shownValue(outputs_[i]),
                 readable ? kReadableOutputMode : kWriteOnlyOutputMode);
    }
    if (ok) ok = add(Kind::kHwid, 0, hwidDirectory, "HWID", settings_.hwid + "\n", kInputMode);
    if (!ok) return false;

    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        error = std::string("inotify: ") + std::strerror(errno);
        return false;
    }
    for (const std::string& directory : {classDirectory, hwidDirectory}) {
        int watch = ::inotify_add_watch(inotify_, directory.c_str(), kWatchedEvents);
        if (watch < 0) {
            error = "inotify on " + directory + ": " + std::strerror(errno);
            return false;
        }
        watched_[watch] = directory;
    }
    filesCreated_ = true;
    return true;
}

bool VorelDioDriver::writeAttribute(Attribute& attribute, const std::string& value, unsigned mode,
                                    std::string& error) {
    if (failing(attribute)) {  // the value shows once the attribute works again
        attribute.shown = value;
        return true;
    }
    int fd = ::open(attribute.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 &&
              ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    if (!ok) error = attribute.path + ": " + std::strerror(errno);
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (ok) attribute.shown = value;
    return ok;
}

void VorelDioDriver::takeFileChanges() {
    if (inotify_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            auto directory = watched_.find(event->wd);
            if (directory == watched_.end() || event->len == 0) continue;
            std::string path = directory->second + "/" + event->name;
            auto attribute = attributes_.find(path);
            if (attribute != attributes_.end())
                judge(attribute->second, false);
            else if (event->mask & (IN_CREATE | IN_MOVED_TO))
                judgeStranger(directory->second, event->name);
        }
    }
}

void VorelDioDriver::settle() {
    takeFileChanges();
    for (auto& entry : attributes_) judge(entry.second, true);
}

void VorelDioDriver::judge(Attribute& attribute, bool final) {
    if (failing(attribute)) return;
    std::string content = readFile(attribute.path);
    if (content == attribute.shown) return;
    // An empty file is a write still under way (opened, truncated, not yet closed): its close
    // brings another look. Only the last look judges it.
    if (content.empty() && !final) return;
    int value = -1;
    bool valid = storedValue(content, value);
    std::string name = attribute.path.substr(attribute.path.rfind('/') + 1);
    if (attribute.kind == Kind::kInput || attribute.kind == Kind::kHwid) {
        valid = false;
        violations_.count("read-only-written", name + " is read-only");
    } else {
        bool output = attribute.kind == Kind::kOutput;
        valid = valid && value >= 0 && value <= (output ? 1 : kBothEdges);
        if (valid) (output ? outputs_ : triggerModes_)[attribute.line] = value;
        if (!valid)
            violations_.count(output ? "do-value" : "trigger-mode-value",
                              name + " written with \"" + printable(content) + "\"");
    }
    if (valid) {
        attribute.shown = content;
        emit(name + " <- " + std::to_string(value));
        return;
    }
    // The driver refused the write: the attribute still shows what it showed.
    struct stat info {};
    std::string error;
    unsigned mode = ::stat(attribute.path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0644;
    writeAttribute(attribute, attribute.shown, mode, error);
}

void VorelDioDriver::judgeStranger(const std::string& directory, const std::string& name) {
    violations_.count("file-created", directory + "/" + name + " is no attribute of the driver");
    ::unlink((directory + "/" + name).c_str());
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
    std::string error;
    Attribute& attribute = attributes_[classDirectory_ + "/" + name];
    if (!writeAttribute(attribute, shownValue(level), kInputMode, error)) {
        reply = error;
        return false;
    }
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

bool VorelDioDriver::send(std::vector<std::pair<std::string, std::string>> strings,
                          std::string& reply) {
    std::string action, devpath;
    for (auto& entry : strings) {
        if (entry.first == "SEQNUM" && entry.second.empty())
            entry.second = std::to_string(++sequence_);
        if (entry.first == "ACTION") action = entry.second;
        if (entry.first == "DEVPATH") devpath = entry.second;
    }
    std::string datagram = action + "@" + devpath + '\0';
    std::string shown = action + "@" + devpath;
    for (const auto& entry : strings) {
        datagram += entry.first + "=" + entry.second + '\0';
        shown += " " + entry.first + "=" + entry.second;
    }
    if (faults_.active("garbage")) sendGarbage();
    std::string error = "no uevent socket";
    if (!uevents_ || !uevents_(datagram, error)) {
        reply = "uevent not sent: " + error;
        return false;
    }
    ++ueventsSent_;
    emit("uevent " + shown);
    reply = "uevent " + shown;
    return true;
}

bool VorelDioDriver::failing(const Attribute& attribute) const {
    return faults_.active("fail", attribute.path.substr(attribute.path.rfind('/') + 1));
}

// Puts the attribute files in the state the faults ask for: a failing attribute is a directory,
// one that works again is its file with what the driver shows now.
void VorelDioDriver::applyFaults() {
    for (auto& entry : attributes_) {
        Attribute& attribute = entry.second;
        struct stat info {};
        bool directory = ::stat(attribute.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (failing(attribute) && !directory) {
            ::unlink(attribute.path.c_str());
            ::mkdir(attribute.path.c_str(), 0755);
        } else if (!failing(attribute) && directory) {
            ::rmdir(attribute.path.c_str());
            std::string error;
            writeAttribute(attribute, attribute.shown, attribute.mode, error);
        }
    }
    if (faults_.active("garbage")) sendGarbage();
}

void VorelDioDriver::sendGarbage() {
    const std::string header = std::string("change") + kDevicePath;  // no "@"
    const std::string datagrams[] = {
        header + '\0' + "ACTION=change" + '\0' + "DI_1=1",  // no terminator
        "change@" + std::string(kDevicePath) + '\0' + "DI_" + std::string(40, '9') + "=\xff",
        std::string(9000, 'A'),  // larger than a uevent's buffer
        std::string("\xff\xfe\0\0@", 5)};
    std::string error;
    for (const std::string& datagram : datagrams)
        if (uevents_) uevents_(datagram, error);
    emit("uevent garbage: 4 datagrams");
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
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
