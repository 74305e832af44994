#pragma once

#include <memory>
#include <string>

class SModifyIniFile;

// Caller-facing wrapper of a flat configuration file: remembers the path it loaded and answers
// reads only after a successful load. Truth results: 1 success, 0 failure.
class SModifyConfig {
  public:
    SModifyConfig();
    ~SModifyConfig();
    SModifyConfig(const SModifyConfig&) = delete;
    SModifyConfig& operator=(const SModifyConfig&) = delete;

    // Remembers `path` and loads it; the loaded state becomes the result.
    int loadConfig(const char* path);
    // Writes to `path`, or to the remembered path when `path` is null. 0 (nothing written)
    // for the path of a failed load when that file exists: it was not read, so it is not
    // overwritten. A missing file is created.
    int saveConfig(const char* path = nullptr);

    // Copies the value into `buf` like strncpy with `len` characters: the rest of `buf` is
    // zero-filled, and a value of `len` characters or more fills `buf` without a terminator.
    // 0 when not loaded, when the key is missing or its value is empty, or when `buf` is null
    // or `len` is not positive.
    int getValue(const char* key, char* buf, int len);
    // The value converted as a signed long in number base `base` (0 lets the text choose).
    // 0 when not loaded or when the key is missing.
    int getIntValue(const char* key, int base);
    // Replaces or adds the entry, also before any load.
    int setValue(const char* key, const char* value);
    int setIntValue(const char* key, int value);
    int hasKey(const char* key);
    // 1 when an entry was removed.
    int removeKey(const char* key);

  private:
    std::unique_ptr<SModifyIniFile> iniFile_;
    std::string path_;
    int loaded_ = 0;
    bool unreadable_ = false;  // the load of path_ failed on a file that exists
};
