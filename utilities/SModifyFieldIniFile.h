#pragma once

#include <map>
#include <string>
#include <vector>

// One entry of a sectioned configuration file.
struct FIELD_MAPSET {
    std::string key;
    std::string value;

    bool operator==(const FIELD_MAPSET& other) const {
        return key == other.key && value == other.value;
    }
};

// A sectioned configuration file: entries before the first "[name]" header are global; every
// section (a "field") holds its entries in file order and may repeat a key. Sections are kept
// and written sorted by name. Comments and lines that start with anything but "[", a digit or
// a letter are dropped on load. Truth results: 1 success, 0 failure.
class SModifyFieldIniFile {
  public:
    // Replaces the content with `path`. 0 when the file cannot be read, holds a header with
    // an empty name, or a line or the whole is beyond the bounds of UModifyTextUtil::LineReader;
    // the entries read up to there stay in memory.
    int loadConfigFile(const std::string& path);
    // Writes the global entries, then each section as "[name]\n" and its entries, all as
    // "key = value\n", truncating the file.
    int saveConfigFile(const std::string& path) const;

    int hasfield(const std::string& section) const;
    // 1 when any entry of the section has the key.
    int hasKey(const std::string& section, const std::string& key) const;
    // Drops the section with all its entries; 1 when it existed.
    int removefield(const std::string& section);
    // Removes every entry of the section with that key; 1 when the section exists.
    int removeKey(const std::string& section, const std::string& key);
    // The value of the index-th entry (from 0) with that key in the section, or an empty text.
    // The reference stays valid until this object is changed or reloaded.
    const std::string& getValueByKey(const std::string& section, const std::string& key,
                                     int index) const;
    // Replaces the value of the index-th entry with that key, or appends the entry when there
    // are fewer (creating the section when needed). 0 (nothing changed) for a section name that
    // would not read back (empty, with "]" or a line break) or an entry that would not
    // (see UModifyTextUtil::isStorableEntry).
    int setValueByKey(const std::string& section, const std::string& key, const std::string& value,
                      int index);
    // Prints the configuration on standard output: global entries as "key=value", a blank
    // line, then each section as "[name]", its entries and a blank line.
    void listall() const;

    // Read-only views for callers that walk the whole file.
    // Section names in name order.
    std::vector<std::string> getFields() const;
    // The entries of a section in file order; empty when the section is missing.
    std::vector<FIELD_MAPSET> getEntries(const std::string& section) const;
    // The entries before the first section, in file order.
    std::vector<FIELD_MAPSET> getGlobalEntries() const { return globals_; }

  private:
    std::vector<FIELD_MAPSET> globals_;
    std::map<std::string, std::vector<FIELD_MAPSET>> fields_;
};
