#include "utilities/SModifyFieldIniFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "utilities/UModifyTextUtil.h"

namespace {

const std::string kNoValue;

// A section name that "[name]" reproduces exactly on the next load.
bool isStorableFieldName(const std::string& name) {
    if (name.empty() || name.find_first_of("]\r\n") != std::string::npos) return false;
    std::string trimmed = name;
    return UModifyTextUtil::trim(trimmed) == name;
}

}  // namespace

int SModifyFieldIniFile::loadConfigFile(const std::string& path) {
    globals_.clear();
    fields_.clear();
    std::ifstream in;
    if (!UModifyTextUtil::openForReading(in, path)) return 0;
    std::vector<FIELD_MAPSET>* current = nullptr;  // entries of the current section
    UModifyTextUtil::LineReader lines(in);
    UModifyTextUtil::LineReader::Result read;
    std::string line;
    FIELD_MAPSET entry;
    while ((read = lines.next(line)) == UModifyTextUtil::LineReader::kLine) {
        if (!line.empty() && line[0] == '[') {
            current = nullptr;
            const std::size_t close = line.find(']');
            // A header without "]" names no section: it only ends the current one, so the
            // entries after it count as global entries.
            if (close == std::string::npos) continue;
            std::string name = line.substr(1, close - 1);
            if (UModifyTextUtil::trim(name).empty()) return 0;
            current = &fields_[name];  // an existing section keeps its entries
            continue;
        }
        if (!UModifyTextUtil::startsWithKeyCharacter(line)) continue;
        if (!UModifyTextUtil::parseEntry(line, entry.key, entry.value)) continue;
        (current != nullptr ? *current : globals_).push_back(entry);
    }
    return read == UModifyTextUtil::LineReader::kEnd ? 1 : 0;
}

int SModifyFieldIniFile::saveConfigFile(const std::string& path) const {
    std::string text;
    auto writeEntries = [&text](const std::vector<FIELD_MAPSET>& entries) {
        for (const FIELD_MAPSET& entry : entries)
            text += UModifyTextUtil::formatEntry(entry.key, entry.value) + "\n";
    };
    writeEntries(globals_);
    for (const auto& field : fields_) {
        text += "[" + field.first + "]\n";
        writeEntries(field.second);
    }
    return UModifyTextUtil::writeFile(path, text);
}

int SModifyFieldIniFile::hasfield(const std::string& section) const {
    return fields_.count(section) ? 1 : 0;
}

int SModifyFieldIniFile::hasKey(const std::string& section, const std::string& key) const {
    const auto field = fields_.find(section);
    if (field == fields_.end()) return 0;
    const auto& entries = field->second;
    return std::any_of(entries.begin(), entries.end(),
                       [&key](const FIELD_MAPSET& entry) { return entry.key == key; })
               ? 1
               : 0;
}

int SModifyFieldIniFile::removefield(const std::string& section) {
    return fields_.erase(section) ? 1 : 0;
}

int SModifyFieldIniFile::removeKey(const std::string& section, const std::string& key) {
    const auto field = fields_.find(section);
    if (field == fields_.end()) return 0;
    auto& entries = field->second;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&key](const FIELD_MAPSET& entry) { return entry.key == key; }),
                  entries.end());
    return 1;
}

const std::string& SModifyFieldIniFile::getValueByKey(const std::string& section,
                                                      const std::string& key, int index) const {
    const auto field = fields_.find(section);
    if (field == fields_.end() || index < 0) return kNoValue;
    int matches = 0;
    for (const FIELD_MAPSET& entry : field->second) {
        if (entry.key != key) continue;
        if (matches == index) return entry.value;
        ++matches;
    }
    return kNoValue;
}

int SModifyFieldIniFile::setValueByKey(const std::string& section, const std::string& key,
                                       const std::string& value, int index) {
    if (!isStorableFieldName(section) || !UModifyTextUtil::isStorableEntry(key, value)) return 0;
    std::vector<FIELD_MAPSET>& entries = fields_[section];
    int matches = 0;
    for (FIELD_MAPSET& entry : entries) {
        if (entry.key != key) continue;
        if (matches == index) {
            entry.value = value;
            return 1;
        }
        ++matches;
    }
    entries.push_back(FIELD_MAPSET{key, value});
    return 1;
}

void SModifyFieldIniFile::listall() const {
    auto printEntries = [](const std::vector<FIELD_MAPSET>& entries) {
        for (const FIELD_MAPSET& entry : entries)
            std::printf("%s=%s\n", entry.key.c_str(), entry.value.c_str());
    };
    printEntries(globals_);
    std::printf("\n");
    for (const auto& field : fields_) {
        std::printf("[%s]\n", field.first.c_str());
        printEntries(field.second);
        std::printf("\n");
    }
    std::fflush(stdout);
}

std::vector<std::string> SModifyFieldIniFile::getFields() const {
    std::vector<std::string> names;
    names.reserve(fields_.size());
    for (const auto& field : fields_) names.push_back(field.first);
    return names;
}

std::vector<FIELD_MAPSET> SModifyFieldIniFile::getEntries(const std::string& section) const {
    const auto field = fields_.find(section);
    return field != fields_.end() ? field->second : std::vector<FIELD_MAPSET>();
}
