#include "sim/rig/Rig.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "sim/boards/PlainBoard.h"
#include "sim/chips/Latency.h"
#include "sim/chips/Violations.h"

namespace qrtsim {

namespace {

constexpr int kPorts = 4;  // mac0..mac3, ip0..ip3

bool printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// "a.b.c.d" or "a.b.c.d/prefix".
bool parseIpv4(const std::string& text, std::string& address, int& prefix) {
    size_t slash = text.find('/');
    address = text.substr(0, slash);
    prefix = 24;
    if (slash != std::string::npos) {
        std::string bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 2 ||
            !std::all_of(bits.begin(), bits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        prefix = std::stoi(bits);
        if (prefix < 1 || prefix > 32) return false;
    }
    in_addr parsed{};
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1;
}

std::string interfaceStem(const std::string& section) {
    std::string stem;
    for (char c : section)
        if (std::isalnum(static_cast<unsigned char>(c)) && stem.size() < 10)
            stem += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return stem.empty() ? "card" : stem;
}

// Checks the keys every product section shares; a board checks its own keys and narrows
// ranges as its hardware needs when it reads them.
void checkCommonKeys(const BoardConfig& config) {
    for (const char* key : {"sn", "pn", "cpld_version", "mcu_version"}) {
        if (config.has(key) && !printable(config.text(key, "")))
            config.fail(key, "only printable ASCII characters");
    }
    config.integer("card_id", 0, 0, 0xFFFF);
    config.integer("pcb_version", 0, 0, 0xFF);
    config.integer("power_source", 0, 0, 3);
    config.number("temperature", 0, -55, 150);
    for (int port = 0; port < kPorts; ++port) {
        std::string mac = "mac" + std::to_string(port);
        std::string ip = "ip" + std::to_string(port);
        config.mac(mac, {});
        if (!config.has(ip)) continue;
        std::string address;
        int prefix = 0;
        if (!parseIpv4(config.text(ip, ""), address, prefix))
            config.fail(ip, "\"" + config.text(ip, "") +
                                "\" is not an IPv4 address like 192.168.1.10 or 192.168.1.10/24");
        if (!config.has(mac)) config.fail(ip, "needs " + mac + ", the MAC of the interface");
    }
    config.integer("driver_status", 0, 0, 255);
    config.integer("driver_fail", 0, 0, 1);
}

}  // namespace

// The frames of one board: all of them go to the rig's capture; one sent out of a camera port
// also goes onto that port's cable.
class Rig::BoardFrames : public FrameSink {
  public:
    BoardFrames(Rig& rig, std::string section, FrameSink& capture)
        : rig_(rig), section_(std::move(section)), capture_(capture) {}
    void emitFrame(const std::vector<uint8_t>& frame) override { capture_.emitFrame(frame); }
    void emitPortFrame(int port, const std::vector<uint8_t>& frame) override {
        capture_.emitFrame(frame);
        rig_.sendToPort(section_, port, frame);
    }

  private:
    Rig& rig_;
    const std::string section_;
    FrameSink& capture_;
};

const std::vector<std::string>& Rig::rigKeys() {
    static const std::vector<std::string> keys = {"driver_status", "driver_fail"};
    return keys;
}

Rig::Rig(const RigDescription& description, Trace trace, FrameSink& frames)
    : file_(description.file), seed_(description.seed), trace_(std::move(trace)) {
    configureDriver(description);
    for (const BoardConfig& config : description.boards) addBoard(config, frames);
}

Rig::~Rig() = default;

void Rig::configureDriver(const RigDescription& description) {
    VirtualPciDriver::Settings settings;
    bool present = true;
    if (description.driver) {
        const BoardConfig& config = *description.driver;
        static const std::set<std::string> known = {"present", "version", "scan_status", "fail"};
        for (const auto& entry : config.values) {
            if (!known.count(entry.first)) config.fail(entry.first, "unknown key");
            if (entry.second.empty()) config.fail(entry.first, "no value");
        }
        present = config.integer("present", 1, 0, 1) != 0;
        settings.version = config.text("version", settings.version);
        if (settings.version.size() > 15 || !printable(settings.version))
            config.fail("version", "at most 15 printable characters");
        settings.scanStatus = static_cast<int>(config.integer("scan_status", 0, 0, 255));
        std::string failing = config.text("fail", "");
        const auto& names = VirtualPciDriver::requestNames();
        size_t start = 0;
        while (start <= failing.size() && !failing.empty()) {
            size_t comma = failing.find(',', start);
            std::string name = failing.substr(
                start, comma == std::string::npos ? std::string::npos : comma - start);
            name.erase(0, name.find_first_not_of(" \t"));
            name.erase(name.find_last_not_of(" \t") + 1);
            if (std::find(names.begin(), names.end(), name) == names.end())
                config.fail("fail", "\"" + name + "\" is not a request of the driver");
            settings.failing.insert(name);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    if (present) driver_ = std::make_unique<VirtualPciDriver>(settings, trace_);
}

void Rig::addBoard(const BoardConfig& config, FrameSink& frames) {
    if (!config.has("model") || config.text("model", "").empty())
        config.fail("model", "missing; every product section names its model");
    std::string model = config.text("model", "");
    const BoardType* type = findBoardType(model);
    std::unique_ptr<BoardType> plain;
    if (type == nullptr) {
        plain = plainBoardType(model);
        type = plain.get();
    }
    if (type == nullptr) config.fail("model", "unknown model \"" + model + "\"");

    std::set<std::string> allowed(commonBoardKeys().begin(), commonBoardKeys().end());
    allowed.insert(type->keys.begin(), type->keys.end());
    allowed.insert(rigKeys().begin(), rigKeys().end());
    for (const auto& entry : config.values) {
        if (!allowed.count(entry.first))
            config.fail(entry.first, "unknown key for a " + model + " board");
        bool list = std::find(type->listKeys.begin(), type->listKeys.end(), entry.first) !=
                    type->listKeys.end();
        if (entry.second.empty() && !list) config.fail(entry.first, "no value");
    }
    checkCommonKeys(config);

    BuiltBoard built;
    built.config = config;
    built.context = std::make_unique<BoardContext>();
    built.frames = std::make_unique<BoardFrames>(*this, config.section, frames);
    built.context->frames = built.frames.get();
    built.context->trace = trace_;
    built.context->clock = &clock_;
    built.context->seed = Latency::seedFor(seed_, config.section);
    try {
        built.board = type->make(built.config, *built.context);
    } catch (const RigError&) {
        throw;
    } catch (const std::exception& e) {
        config.fail("model", std::string("the board could not be built: ") + e.what());
    }
    if (!built.board) config.fail("model", "the board could not be built");
    // The programs run on one computer: its files and uevents cannot come from two boards.
    if (dynamic_cast<SystemBoard*>(built.board.get()) != nullptr) {
        for (const BuiltBoard& other : boards_)
            if (dynamic_cast<SystemBoard*>(other.board.get()) != nullptr)
                config.fail("model", "the programs run on [" + other.config.section +
                                         "] already; a rig has one such system");
    }

    applySlowKey(config, *built.board);

    VirtualPciDriver::FunctionFaults faults;
    faults.status = static_cast<int>(config.integer("driver_status", 0, 0, 255));
    faults.fail = config.integer("driver_fail", 0, 0, 1) != 0;
    if (driver_)
        for (PciFunction* function : built.board->pciFunctions())
            driver_->addFunction(function, faults);
    for (const auto& adapter : built.board->i2cAdapters()) {
        if (adapters_.count(adapter.first))
            config.fail("model", "/dev/i2c-" + std::to_string(adapter.first) +
                                     " is provided by another board already");
        adapters_[adapter.first] =
            std::make_unique<I2cAdapter>(adapter.first, *adapter.second, trace_);
    }
    addHostPorts(config);
    boards_.push_back(std::move(built));
}

void Rig::addHostPorts(const BoardConfig& config) {
    std::string stem = interfaceStem(config.section);
    for (int port = 0; port < kPorts; ++port) {
        std::string macKey = "mac" + std::to_string(port);
        if (!config.has(macKey)) continue;
        HostPort host;
        host.section = config.section;
        host.port = port;
        host.mac = config.mac(macKey, {});
        std::string ip = config.text("ip" + std::to_string(port), "");
        if (!ip.empty()) parseIpv4(ip, host.ipv4, host.prefixLength);
        host.interface = stem + "p" + std::to_string(port);
        bool taken = std::any_of(hostPorts_.begin(), hostPorts_.end(), [&host](const HostPort& p) {
            return p.interface == host.interface;
        });
        if (taken)  // two sections with the same stem: number by board instead
            host.interface = "qrt" + std::to_string(boards_.size()) + "p" + std::to_string(port);
        hostPorts_.push_back(host);
    }
}

void Rig::sendToPort(const std::string& section, int port, const std::vector<uint8_t>& frame) {
    if (!egress_) return;
    for (const HostPort& host : hostPorts_)
        if (host.section == section && host.port == port) egress_(host, frame);
}

I2cAdapter* Rig::i2cAdapter(int number) {
    auto it = adapters_.find(number);
    return it == adapters_.end() ? nullptr : it->second.get();
}

std::vector<int> Rig::i2cAdapterNumbers() const {
    std::vector<int> numbers;
    for (const auto& adapter : adapters_) numbers.push_back(adapter.first);
    return numbers;
}

void Rig::attachHost(HostSystem& host, std::vector<std::string>& notes) {
    for (BuiltBoard& built : boards_)
        if (auto* system = dynamic_cast<SystemBoard*>(built.board.get()))
            system->attachHost(host, notes);
}

bool Rig::control(const std::string& line, std::string& reply) {
    std::vector<std::string> words;
    for (size_t start = line.find_first_not_of(' '); start != std::string::npos;) {
        size_t end = std::min(line.find(' ', start), line.size());
        words.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(' ', end);
    }
    if (words.empty()) {
        reply = "usage: <section> <command> [arguments]";
        return false;
    }
    if (words.size() >= 2 && (words[1] == "fault" || words[1] == "clear"))
        return controlFaults(words, reply);
    for (BuiltBoard& built : boards_) {
        if (built.config.section != words[0]) continue;
        auto* system = dynamic_cast<SystemBoard*>(built.board.get());
        if (system == nullptr) {
            reply = "[" + words[0] + "] takes no control commands";
            return false;
        }
        return system->control(std::vector<std::string>(words.begin() + 1, words.end()), reply);
    }
    reply = "the rig has no section [" + words[0] + "]";
    return false;
}

// `slow = 1` puts every chip of the board that has a slow end there, `slow = lan0, cpld` the
// chips named; the same "slow" fault the control channel sets while programs run.
void Rig::applySlowKey(const BoardConfig& config, Board& board) {
    if (!config.has("slow")) return;
    const std::string value = config.text("slow", "");
    auto tables = board.faultTables();
    std::vector<std::string> names;
    if (value == "1") {
        for (const auto& chip : tables) {
            if (chip.second->offers("slow")) names.push_back(chip.first);
        }
        if (names.empty()) config.fail("slow", "no chip of this board has a slow end");
    } else if (value != "0") {
        size_t start = 0;
        while (start <= value.size()) {
            size_t comma = value.find(',', start);
            std::string name =
                value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            name.erase(0, name.find_first_not_of(" \t"));
            name.erase(name.find_last_not_of(" \t") + 1);
            names.push_back(name);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    for (const std::string& name : names) {
        auto chip = tables.find(name);
        if (chip == tables.end()) {
            std::string known;
            for (const auto& t : tables) known += " " + t.first;
            config.fail("slow", "\"" + name + "\" is no chip of this board (chips:" + known + ")");
        }
        if (!chip->second->offers("slow")) config.fail("slow", name + " has no slow end");
        chip->second->set("slow");
    }
}

std::map<std::string, std::vector<FaultTable*>> Rig::faultTables(const std::string& section) const {
    std::map<std::string, std::vector<FaultTable*>> tables;
    if (section == "driver") {
        if (driver_) tables["pcimap"].push_back(&driver_->faults());
        return tables;
    }
    for (const BuiltBoard& built : boards_) {
        if (built.config.section != section) continue;
        for (const auto& chip : built.board->faultTables())
            tables[chip.first].push_back(chip.second);
        if (driver_)
            for (PciFunction* function : built.board->pciFunctions())
                if (FaultTable* table = driver_->functionFaults(function))
                    tables["pcimap"].push_back(table);
        for (const auto& adapter : built.board->i2cAdapters()) {
            auto node = adapters_.find(adapter.first);
            if (node != adapters_.end())
                tables["i2c-" + std::to_string(adapter.first)].push_back(&node->second->faults());
        }
    }
    return tables;
}

bool Rig::controlFaults(const std::vector<std::string>& words, std::string& reply) {
    auto tables = faultTables(words[0]);
    if (tables.empty()) {
        reply = "the rig has no section [" + words[0] + "] with chips";
        return false;
    }
    bool clear = words[1] == "clear";
    if (clear && words.size() == 2) {  // every chip of the section
        for (auto& chip : tables)
            for (FaultTable* table : chip.second) table->clear({}, reply);
        return true;
    }
    auto chip = words.size() > 2 ? tables.find(words[2]) : tables.end();
    if (chip == tables.end()) {
        reply = "chips of [" + words[0] + "]:";
        for (const auto& known : tables) reply += " " + known.first;
        return false;
    }
    std::vector<std::string> rest(words.begin() + 3, words.end());
    for (FaultTable* table : chip->second)
        if (!(clear ? table->clear(rest, reply) : table->set(rest, reply))) return false;
    std::string line = "[" + words[0] + "]";
    for (size_t i = 1; i < words.size(); ++i) line += " " + words[i];
    if (trace_) trace_(line);
    return true;
}

void Rig::settle() {
    for (BuiltBoard& built : boards_)
        if (auto* system = dynamic_cast<SystemBoard*>(built.board.get())) system->settle();
}

void Rig::saveState(nlohmann::json& out) const {
    out["rig"] = file_;
    out["seed"] = seed_;
    nlohmann::json boards = nlohmann::json::array();
    for (const BuiltBoard& built : boards_) {
        nlohmann::json entry;
        entry["section"] = built.config.section;
        entry["model"] = built.config.text("model", "");
        built.board->saveState(entry);
        // The faults set on the board's chips, by the names control lines give them.
        for (const auto& chip : faultTables(built.config.section))
            for (const FaultTable* table : chip.second)
                if (!table->empty()) entry["faults"][chip.first] = table->toJson();
        boards.push_back(entry);
    }
    out["boards"] = boards;
    if (driver_) driver_->saveState(out["driver"]);
    out["i2c_adapters"] = i2cAdapterNumbers();
    // What the adapters counted (transfers outside the adapter lock), by adapter number.
    nlohmann::json adapterViolations = nlohmann::json::object();
    for (const auto& adapter : adapters_)
        if (adapter.second->violations().total() != 0)
            adapterViolations[std::to_string(adapter.first)]["violations"] =
                adapter.second->violations().toJson();
    out["i2c_adapter_violations"] = adapterViolations;
    // What every chip model and the driver counted, over the whole rig.
    out["violations"] = Violations::total(out);
}

}  // namespace qrtsim
