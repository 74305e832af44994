#include "utilities/SModifyConfig.h"

#include <cstdlib>
#include <cstring>

#include "utilities/SModifyIniFile.h"
#include "utilities/UModifyTextUtil.h"

SModifyConfig::SModifyConfig() : iniFile_(new SModifyIniFile) {}

SModifyConfig::~SModifyConfig() = default;

int SModifyConfig::loadConfig(const char* path) {
    path_ = path != nullptr ? path : "";
    loaded_ = path != nullptr ? iniFile_->loadConfigFile(path_) : 0;
    unreadable_ = loaded_ == 0 && UModifyTextUtil::pathExists(path_);
    return loaded_;
}

int SModifyConfig::saveConfig(const char* path) {
    const std::string target = path != nullptr ? std::string(path) : path_;
    if (target.empty()) return 0;
    // The file that could not be read is still there with whatever it holds: writing this
    // object's entries over it would lose it.
    if (unreadable_ && target == path_) return 0;
    return iniFile_->saveConfigFile(target);
}

int SModifyConfig::getValue(const char* key, char* buf, int len) {
    if (!loaded_ || key == nullptr || buf == nullptr || len <= 0) return 0;
    const std::string value = iniFile_->getValueByKey(key);
    if (value.empty()) return 0;
    std::strncpy(buf, value.c_str(), static_cast<std::size_t>(len));
    return 1;
}

int SModifyConfig::getIntValue(const char* key, int base) {
    if (!loaded_ || key == nullptr) return 0;
    const std::string value = iniFile_->getValueByKey(key);
    // The number is converted as a long and handed out as an int (two's-complement wrap), so
    // a 32-bit mask written in hexadecimal reads back with its sign bit.
    return static_cast<int>(std::strtol(value.c_str(), nullptr, base));
}

int SModifyConfig::setValue(const char* key, const char* value) {
    if (key == nullptr || value == nullptr) return 0;
    return iniFile_->setValueByKey(key, value);
}

int SModifyConfig::setIntValue(const char* key, int value) {
    std::string text;
    UModifyTextUtil::convertFromInt(text, value);
    return setValue(key, text.c_str());
}

int SModifyConfig::hasKey(const char* key) {
    if (!loaded_ || key == nullptr) return 0;
    return iniFile_->hasKey(key);
}

int SModifyConfig::removeKey(const char* key) {
    if (key == nullptr) return 0;
    return iniFile_->removeKey(key);
}
