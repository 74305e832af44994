#include "sim/boards/TulanKqx.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "sim/boards/PoeCard.h"

namespace qrtsim {

namespace {

constexpr const char* kModel = "TULAN-KQX";
// The board part number of the system's PoE board, behind the factory's prefix in its EEPROM.
constexpr const char* kPartNumber = "27650-01";
constexpr long long kHighestAdapter = 1023;
constexpr unsigned kHwidCharacters = 127;

// Keys of the common set that describe a PCIe card and mean nothing on this system.
const char* const kCardOnlyKeys[] = {"card_id", "pcb_version", "cpld_version"};

// "a,b,c" of line numbers below `count`; empty for none.
std::set<unsigned> lineList(const BoardConfig& config, const char* key, unsigned count,
                            std::set<unsigned> fallback) {
    if (!config.has(key)) return fallback;
    std::set<unsigned> lines;
    std::string text = config.text(key, "");
    for (size_t start = 0; start < text.size();) {
        size_t comma = std::min(text.find(',', start), text.size());
        std::string item = text.substr(start, comma - start);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        bool digits =
            !item.empty() && item.size() <= 3 &&
            std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || unsigned(std::stoi(item)) >= count)
            config.fail(key, "\"" + item + "\" is not a line number from 0 to " +
                                 std::to_string(int(count) - 1));
        lines.insert(unsigned(std::stoi(item)));
        start = comma + 1;
    }
    return lines;
}

std::set<unsigned> allLines(unsigned count) {
    std::set<unsigned> lines;
    for (unsigned i = 0; i < count; ++i) lines.insert(i);
    return lines;
}

bool parseLevel(const std::string& text, int& level) {
    if (text != "0" && text != "1") return false;
    level = text == "1" ? 1 : 0;
    return true;
}

const BoardRegistrar kRegistrar{BoardType{kModel, TulanKqx::keys(),
                                          [](const BoardConfig& config, BoardContext& context) {
                                              return std::unique_ptr<Board>(
                                                  new TulanKqx(config, context));
                                          },
                                          TulanKqx::listKeys()}};

}  // namespace

const std::vector<std::string>& TulanKqx::keys() {
    static const std::vector<std::string> keys = {
        "mcu_bus",    "eeprom_bus", "system_file", "di_count",  "do_count",
        "di_edge",    "di_absent",  "do_readable", "di_levels", "hwid",
        "poe_class0", "poe_class1", "poe_class2",  "poe_class3"};
    return keys;
}

const std::vector<std::string>& TulanKqx::listKeys() {
    static const std::vector<std::string> keys = {"di_edge", "di_absent", "do_readable",
                                                  "di_levels"};
    return keys;
}

TulanKqx::TulanKqx(const BoardConfig& config, BoardContext& context) {
    for (const char* key : kCardOnlyKeys)
        if (config.has(key)) config.fail(key, std::string("the ") + kModel + " is not a card");
    mcuBusKey_ = config.has("mcu_bus");
    eepromBusKey_ = config.has("eeprom_bus");
    mcuBusNumber_ = int(config.integer("mcu_bus", kDefaultMcuBus, 0, kHighestAdapter));
    eepromBusNumber_ = int(config.integer("eeprom_bus", kDefaultEepromBus, 0, kHighestAdapter));
    std::string systemFile = config.text("system_file", "present");
    if (systemFile != "present" && systemFile != "absent")
        config.fail("system_file", "\"" + systemFile + "\" is neither present nor absent");
    systemFile_ = systemFile == "present";

    mcu_ = PoeCard::makeMcu(config, kPorts, false);
    eeprom_ = PoeCard::makeEeprom(config, kPorts, kPartNumber);
    mcuBus_.attach(RhxMcu::kAddress, mcu_.get());
    (eepromBusNumber_ == mcuBusNumber_ ? mcuBus_ : eepromBus_)
        .attach(At24c02d::kAddress, eeprom_.get());
    mcu_->setClock(*context.clock);
    eeprom_->setClock(*context.clock);
    configureDio(config);

    if (context.trace) {
        auto trace = [section = config.section, sink = context.trace](const std::string& line) {
            sink("[" + section + "] " + line);
        };
        mcu_->setTrace(trace);
        eeprom_->setTrace(trace);
        dio_->setTrace(trace);
    }
}

void TulanKqx::configureDio(const BoardConfig& config) {
    VorelDioDriver::Settings settings;
    unsigned most = VorelDioDriver::kMaxLines;
    settings.inputs = unsigned(config.integer("di_count", settings.inputs, 0, most));
    settings.outputs = unsigned(config.integer("do_count", settings.outputs, 0, most));
    settings.edgeInputs = lineList(config, "di_edge", settings.inputs, allLines(settings.inputs));
    settings.absentInputs = lineList(config, "di_absent", settings.inputs, {});
    settings.readableOutputs =
        lineList(config, "do_readable", settings.outputs, allLines(settings.outputs));
    std::string levels = config.text("di_levels", "");
    for (size_t start = 0; start < levels.size();) {
        size_t comma = std::min(levels.find(',', start), levels.size());
        int level = 0;
        if (!parseLevel(levels.substr(start, comma - start), level) ||
            settings.inputLevels.size() >= settings.inputs)
            config.fail("di_levels", "one level, 0 or 1, for each of the " +
                                         std::to_string(settings.inputs) + " inputs at most");
        settings.inputLevels.push_back(level);
        start = comma + 1;
    }
    settings.hwid = config.text("hwid", settings.hwid);
    if (settings.hwid.size() > kHwidCharacters || settings.hwid.find('\n') != std::string::npos)
        config.fail("hwid", "one line of at most 127 characters");
    dio_ = std::make_unique<VorelDioDriver>(settings);
}

std::map<int, I2cBus*> TulanKqx::i2cAdapters() {
    std::map<int, I2cBus*> adapters = {{mcuBusNumber_, &mcuBus_}};
    if (eepromBusNumber_ != mcuBusNumber_) adapters[eepromBusNumber_] = &eepromBus_;
    return adapters;
}

// The flat file the SDK reads its bus numbers from; a key the rig file leaves out is left out
// here too, so that the SDK's defaults apply.
std::string TulanKqx::systemFileText() const {
    std::string text = "# " + std::string(kModel) + " platform settings\n";
    if (mcuBusKey_) text += "MCU.I2CBUS = " + std::to_string(mcuBusNumber_) + "\n";
    if (eepromBusKey_) text += "EEPROM.I2CBUS = " + std::to_string(eepromBusNumber_) + "\n";
    return text;
}

void TulanKqx::attachHost(HostSystem& host, std::vector<std::string>& notes) {
    std::string error;
    if (systemFile_) {
        std::string directory = host.directory(kSystemDirectory, error);
        std::string path = directory + "/" + kSystemFileName;
        if (!directory.empty()) {
            std::ofstream file(path, std::ios::trunc);
            file << systemFileText();
            systemFileWritten_ = file.flush().good();
            if (!systemFileWritten_) error = path + ": " + std::strerror(errno);
        }
        if (!systemFileWritten_)
            notes.push_back(std::string("system file of the ") + kModel + " (" + error + ")");
    }
    if (!host.serveAttributes(VorelDioDriver::kClassDirectory, dio_->classAttributes(), error) ||
        !host.serveAttributes(VorelDioDriver::kHwidDirectory, dio_->hwidAttributes(), error)) {
        notes.push_back(std::string("DIO files of the ") + kModel + " (" + error + ")");
        return;
    }
    dio_->attributesServed();
    dio_->setUeventSink([&host](const std::string& datagram, std::string& sendError) {
        return host.sendUevent(datagram, sendError);
    });
}

bool TulanKqx::control(const std::vector<std::string>& words, std::string& reply) {
    if (words.size() == 3 && words[0] == "di") {
        int level = -1;
        bool index = !words[1].empty() && words[1].size() <= 3 &&
                     words[1].find_first_not_of("0123456789") == std::string::npos;
        if (!index || !parseLevel(words[2], level)) {
            reply = "usage: di <input> <0|1>";
            return false;
        }
        return dio_->setInput(unsigned(std::stoi(words[1])), level, reply);
    }
    if (!words.empty() && words[0] == "uevent")
        return dio_->raiseUevent(std::vector<std::string>(words.begin() + 1, words.end()), reply);
    if (words.size() == 2 && words[0] == "burst") {
        bool count = !words[1].empty() && words[1].size() <= 5 &&
                     words[1].find_first_not_of("0123456789") == std::string::npos;
        if (count) return dio_->burst(unsigned(std::stoul(words[1])), reply);
    }
    reply = "commands: di <input> <0|1>; uevent KEY=VALUE ...; burst <count>";
    return false;
}

void TulanKqx::saveState(nlohmann::json& out) const {
    out["system_file"] = nullptr;
    if (systemFileWritten_)
        out["system_file"] = std::string(kSystemDirectory) + "/" + kSystemFileName;
    out["mcu_bus"] = mcuBusNumber_;
    out["eeprom_bus"] = eepromBusNumber_;
    mcu_->saveState(out["mcu"]);
    PoeCard::saveEeprom(*eeprom_, kPorts, out["eeprom"]);
    dio_->saveState(out["dio"]);
}

}  // namespace qrtsim
