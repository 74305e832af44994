#include "utilities/SModifyIniFile.h"

#include <fstream>

#include "utilities/UModifyTextUtil.h"

int SModifyIniFile::loadConfigFile(const std::string& path) {
    entries_.clear();
    std::ifstream in;
    if (!UModifyTextUtil::openForReading(in, path)) return 0;
    UModifyTextUtil::LineReader lines(in);
    UModifyTextUtil::LineReader::Result read;
    std::string line;
    std::string key;
    std::string value;
    while ((read = lines.next(line)) == UModifyTextUtil::LineReader::kLine) {
        // Comments, section headers and indented lines are not entries of a flat file.
        if (!UModifyTextUtil::startsWithKeyCharacter(line)) continue;
        if (!UModifyTextUtil::parseEntry(line, key, value)) continue;
        entries_.emplace(key, value);  // a repeated key keeps its first value
    }
    return read == UModifyTextUtil::LineReader::kEnd ? 1 : 0;
}

int SModifyIniFile::saveConfigFile(const std::string& path) const {
    std::string text;
    for (const auto& entry : entries_)
        text += UModifyTextUtil::formatEntry(entry.first, entry.second) + "\n";
    return UModifyTextUtil::writeFile(path, text);
}

int SModifyIniFile::hasKey(const std::string& key) const {
    return entries_.count(key) ? 1 : 0;
}

int SModifyIniFile::removeKey(const std::string& key) {
    return entries_.erase(key) ? 1 : 0;
}

std::string SModifyIniFile::getValueByKey(const std::string& key) const {
    const auto found = entries_.find(key);
    return found != entries_.end() ? found->second : std::string();
}

int SModifyIniFile::setValueByKey(const std::string& key, const std::string& value) {
    if (!UModifyTextUtil::isStorableEntry(key, value)) return 0;
    entries_[key] = value;
    return 1;
}

std::vector<std::string> SModifyIniFile::getKeys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const auto& entry : entries_) keys.push_back(entry.first);
    return keys;
}

std::vector<std::string> SModifyIniFile::getValues() const {
    std::vector<std::string> values;
    values.reserve(entries_.size());
    for (const auto& entry : entries_) values.push_back(entry.second);
    return values;
}

std::vector<std::string> SModifyIniFile::loadListFile(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in;
    if (!UModifyTextUtil::openForReading(in, path)) return lines;
    UModifyTextUtil::LineReader reader(in);
    UModifyTextUtil::LineReader::Result read;
    std::string line;
    while ((read = reader.next(line)) == UModifyTextUtil::LineReader::kLine) {
        if (!line.empty()) lines.push_back(line);
    }
    if (read == UModifyTextUtil::LineReader::kRejected) lines.clear();
    return lines;
}
