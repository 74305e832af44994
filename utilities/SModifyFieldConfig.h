#pragma once

#include <string>
#include <vector>

#include "utilities/SModifyFieldIniFile.h"

// Caller-facing wrapper of a sectioned configuration file: remembers the path it loaded and
// answers reads only after a successful load. Truth results: 1 success, 0 failure.
class SModifyFieldConfig {
  public:
    // Remembers `path` and loads it; the loaded state becomes the result.
    int loadConfig(const char* path);
    // Writes to `path`, or to the remembered path when `path` is null. 0 (nothing written)
    // for the path of a failed load when that file exists: it was not read, so it is not
    // overwritten. A missing file is created.
    int saveConfig(const char* path = nullptr);

    // The value of the index-th entry (from 0) with that key in the section. An empty text
    // when not loaded, when the section is missing or when there are not enough matches. The
    // text stays valid until the next call that changes or reloads this object.
    const char* getValue(const char* section, const char* key, int index = 0);
    // That value converted as a signed long in number base `base`; 0 when not loaded.
    int getIntValue(const char* section, const char* key, int base, int index = 0);
    // Replaces the index-th entry with that key or appends one (creating the section).
    int setValue(const char* section, const char* key, const char* value, int index = 0);
    int setIntValue(const char* section, const char* key, int value, int index = 0);
    // 0 when not loaded or the section is missing; 1 when any entry of it has the key.
    int hasKey(const char* section, const char* key);
    // When the section exists, removes every entry of it with that key and prints the whole
    // configuration on standard output; 1 when the section exists.
    int removeKey(const char* section, const char* key);

    // Read-only views, empty when not loaded: section names in name order, the entries of one
    // section in file order, and the entries before the first section.
    std::vector<std::string> getFields() const;
    std::vector<FIELD_MAPSET> getEntries(const char* section) const;
    std::vector<FIELD_MAPSET> getGlobalEntries() const;

  private:
    SModifyFieldIniFile iniFile_;
    std::string path_;
    int loaded_ = 0;
    bool unreadable_ = false;  // the load of path_ failed on a file that exists
};
