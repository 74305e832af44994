// libFuzzer target for the configuration library: arbitrary files loaded in the flat or the
// sectioned format, saved and loaded again, must come back with every entry unchanged; an
// entry that setValueByKey accepts must survive the same round trip.
//
// Input: one byte of choices (bit 0: sectioned format; bit 1: first set the entry given by the
// next two lines, key then value), then the file.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInput.h"
#include "utilities/SModifyFieldIniFile.h"
#include "utilities/SModifyIniFile.h"

namespace {

std::string nextLine(const uint8_t*& data, size_t& size) {
    std::string line;
    while (size != 0 && *data != '\n') line.push_back(static_cast<char>(*data++)), --size;
    if (size != 0) ++data, --size;
    return line;
}

struct Flat {
    SModifyIniFile file;
    auto snapshot() const { return file.getArray(); }
    int set(const std::string& key, const std::string& value) {
        return file.setValueByKey(key, value);
    }
    bool has(const std::string& key, const std::string& value) const {
        return file.hasKey(key) && file.getValueByKey(key) == value;
    }
};

struct Sectioned {
    SModifyFieldIniFile file;
    auto snapshot() const {
        std::vector<std::pair<std::string, std::vector<FIELD_MAPSET>>> all;
        all.emplace_back("", file.getGlobalEntries());
        for (const std::string& name : file.getFields())
            all.emplace_back(name, file.getEntries(name));
        return all;
    }
    int set(const std::string& key, const std::string& value) {
        return file.setValueByKey("fuzz", key, value, 0);
    }
    bool has(const std::string& key, const std::string& value) const {
        return file.getValueByKey("fuzz", key, 0) == value;
    }
};

template <class Config>
void roundTrip(const std::string& path, bool setEntry, const std::string& key,
               const std::string& value) {
    Config config;
    if (!config.file.loadConfigFile(path)) return;
    const bool stored = setEntry && config.set(key, value) == 1;
    const auto before = config.snapshot();
    if (!config.file.saveConfigFile(path) || !config.file.loadConfigFile(path)) std::abort();
    if (config.snapshot() != before) std::abort();  // an entry was lost or changed
    if (stored && !config.has(key, value)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choices = *data++;
    --size;
    std::string key, value;
    if (choices & 2) {
        key = nextLine(data, size);
        value = nextLine(data, size);
    }
    const std::string path = fuzzinput::scratchFile("config", data, size);
    if (choices & 1)
        roundTrip<Sectioned>(path, choices & 2, key, value);
    else
        roundTrip<Flat>(path, choices & 2, key, value);
    return 0;
}
