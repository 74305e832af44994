#pragma once

#include <map>
#include <string>
#include <vector>

// A flat configuration file of "key = value" lines, held in memory as one map sorted by key.
// Comments and any line that does not start with a digit or letter are dropped on load, so a
// save writes only the entries. Truth results: 1 success, 0 failure.
class SModifyIniFile {
  public:
    // Replaces the map with the entries of `path`. A repeated key keeps its first value. 0 when
    // the file cannot be read or is no configuration file (a line or the whole beyond the
    // bounds of UModifyTextUtil::LineReader); the entries read up to there stay in memory.
    int loadConfigFile(const std::string& path);
    // Writes every entry as "key = value\n" in key order (see UModifyTextUtil::formatEntry),
    // truncating the file; 0 with the file untouched when that text would be beyond
    // UModifyTextUtil::kMaxFileSize.
    int saveConfigFile(const std::string& path) const;

    int hasKey(const std::string& key) const;
    // 1 when an entry was removed.
    int removeKey(const std::string& key);
    // The value, empty when the key is absent (an absent key is not added).
    std::string getValueByKey(const std::string& key) const;
    // Replaces or adds the entry. 0 (nothing changed) when the pair could not be saved and read
    // back as written: see UModifyTextUtil::isStorableEntry.
    int setValueByKey(const std::string& key, const std::string& value);

    std::map<std::string, std::string> getArray() const { return entries_; }
    std::vector<std::string> getKeys() const;
    std::vector<std::string> getValues() const;

    // Every non-empty line of `path`, untrimmed and unparsed; empty when it cannot be read or
    // holds a line or a total beyond the bounds of UModifyTextUtil::LineReader (no line is
    // dropped from a list that is returned).
    static std::vector<std::string> loadListFile(const std::string& path);

  private:
    std::map<std::string, std::string> entries_;
};
