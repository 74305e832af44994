#include "sim/boards/Board.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qrtsim {

namespace {

std::map<std::string, BoardType>& registry() {
    // Function-local so that boards registering from static initialisers of the rig library
    // never see it unconstructed.
    static std::map<std::string, BoardType> types;
    return types;
}

std::string quoted(const std::string& value) {
    return "\"" + value + "\"";
}

bool parseInteger(const std::string& text, long long& out) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    bool negative = *begin == '-';
    const char* digits = negative ? begin + 1 : begin;
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    // strtoll would accept white space and a second sign; a rig value is digits only.
    if (*digits == '\0') return false;
    for (const char* p = digits; *p != '\0'; ++p) {
        bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(*p)) != 0
                             : (*p >= '0' && *p <= '9');
        if (!ok) return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long magnitude = std::strtoull(digits, &end, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return false;
    out = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string BoardConfig::text(const std::string& key, const std::string& fallback) const {
    auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

long long BoardConfig::integer(const std::string& key, long long fallback, long long min,
                               long long max) const {
    auto it = values.find(key);
    if (it == values.end()) return fallback;
    long long value = 0;
    if (!parseInteger(it->second, value) || value < min || value > max)
        fail(key, quoted(it->second) + " is not an integer from " + std::to_string(min) + " to " +
                      std::to_string(max));
    return value;
}

double BoardConfig::number(const std::string& key, double fallback, double min, double max) const {
    auto it = values.find(key);
    if (it == values.end()) return fallback;
    const std::string& textValue = it->second;
    char* end = nullptr;
    errno = 0;
    double value = textValue.empty() ? 0.0 : std::strtod(textValue.c_str(), &end);
    bool parsed = !textValue.empty() && end != nullptr && *end == '\0' && errno == 0 &&
                  std::isfinite(value) && !std::isspace(static_cast<unsigned char>(textValue[0]));
    if (!parsed || value < min || value > max) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", min, max);
        fail(key, quoted(textValue) + " is not a number from " + range);
    }
    return value;
}

std::array<uint8_t, 6> BoardConfig::mac(const std::string& key,
                                        const std::array<uint8_t, 6>& fallback) const {
    auto it = values.find(key);
    if (it == values.end()) return fallback;
    const std::string& textValue = it->second;
    std::array<uint8_t, 6> address{};
    bool ok = textValue.size() == 17;
    for (size_t i = 0; ok && i < 6; ++i) {
        int high = hexDigit(textValue[3 * i]);
        int low = hexDigit(textValue[3 * i + 1]);
        ok = high >= 0 && low >= 0 && (i == 5 || textValue[3 * i + 2] == ':');
        if (ok) address[i] = static_cast<uint8_t>(high << 4 | low);
    }
    if (!ok) fail(key, quoted(textValue) + " is not a MAC address like 00:11:22:33:44:55");
    return address;
}

void BoardConfig::fail(const std::string& key, const std::string& message) const {
    throw RigError(file + ": [" + section + "] " + key + ": " + message);
}

void registerBoardType(BoardType type) {
    std::string model = type.model;
    registry()[model] = std::move(type);
}

const BoardType* findBoardType(const std::string& model) {
    auto it = registry().find(model);
    return it == registry().end() ? nullptr : &it->second;
}

std::vector<std::string> boardModels() {
    std::vector<std::string> models;
    for (const auto& entry : registry()) models.push_back(entry.first);
    return models;
}

const std::vector<std::string>& commonBoardKeys() {
    static const std::vector<std::string> keys = {
        "model",       "sn",   "pn",   "card_id",      "pcb_version", "cpld_version",
        "mcu_version", "mac0", "mac1", "mac2",         "mac3",        "ip0",
        "ip1",         "ip2",  "ip3",  "power_source", "temperature", "slow",
    };
    return keys;
}

}  // namespace qrtsim
