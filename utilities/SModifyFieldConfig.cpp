#include "utilities/SModifyFieldConfig.h"

#include <cstdlib>

#include "utilities/UModifyTextUtil.h"

int SModifyFieldConfig::loadConfig(const char* path) {
    path_ = path != nullptr ? path : "";
    loaded_ = path != nullptr ? iniFile_.loadConfigFile(path_) : 0;
    unreadable_ = loaded_ == 0 && UModifyTextUtil::pathExists(path_);
    return loaded_;
}

int SModifyFieldConfig::saveConfig(const char* path) {
    const std::string target = path != nullptr ? std::string(path) : path_;
    if (target.empty()) return 0;
    // The file that could not be read is still there with whatever it holds: writing this
    // object's entries over it would lose it.
    if (unreadable_ && target == path_) return 0;
    return iniFile_.saveConfigFile(target);
}

const char* SModifyFieldConfig::getValue(const char* section, const char* key, int index) {
    if (!loaded_ || section == nullptr || key == nullptr) return "";
    // Points into the stored entry, which lives until the object is changed or reloaded.
    return iniFile_.getValueByKey(section, key, index).c_str();
}

int SModifyFieldConfig::getIntValue(const char* section, const char* key, int base, int index) {
    if (!loaded_) return 0;
    // Converted as a long and handed out as an int, like the flat file's getIntValue.
    return static_cast<int>(std::strtol(getValue(section, key, index), nullptr, base));
}

int SModifyFieldConfig::setValue(const char* section, const char* key, const char* value,
                                 int index) {
    if (section == nullptr || key == nullptr || value == nullptr) return 0;
    return iniFile_.setValueByKey(section, key, value, index);
}

int SModifyFieldConfig::setIntValue(const char* section, const char* key, int value, int index) {
    std::string text;
    UModifyTextUtil::convertFromInt(text, value);
    return setValue(section, key, text.c_str(), index);
}

int SModifyFieldConfig::hasKey(const char* section, const char* key) {
    if (!loaded_ || section == nullptr || key == nullptr) return 0;
    return iniFile_.hasKey(section, key);
}

int SModifyFieldConfig::removeKey(const char* section, const char* key) {
    if (section == nullptr || key == nullptr) return 0;
    if (!iniFile_.removeKey(section, key)) return 0;
    iniFile_.listall();
    return 1;
}

std::vector<std::string> SModifyFieldConfig::getFields() const {
    return loaded_ ? iniFile_.getFields() : std::vector<std::string>();
}

std::vector<FIELD_MAPSET> SModifyFieldConfig::getEntries(const char* section) const {
    if (!loaded_ || section == nullptr) return {};
    return iniFile_.getEntries(section);
}

std::vector<FIELD_MAPSET> SModifyFieldConfig::getGlobalEntries() const {
    return loaded_ ? iniFile_.getGlobalEntries() : std::vector<FIELD_MAPSET>();
}
