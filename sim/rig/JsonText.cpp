#include "sim/rig/JsonText.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace qrtsim {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 (overlong forms, surrogates and code
// points beyond U+10FFFF are invalid, as in the JSON writer's own check).
size_t validSequence(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length;
    uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

bool isValidUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = validSequence(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

}  // namespace

std::string escapeInvalidUtf8(const std::string& text) {
    if (isValidUtf8(text)) return text;
    std::string escaped;
    for (size_t at = 0; at < text.size();) {
        const size_t length = validSequence(text, at);
        if (length == 0) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<uint8_t>(text[at]));
            escaped += hex;
            ++at;
        } else {
            if (text[at] == '\\') escaped += '\\';
            escaped.append(text, at, length);
            at += length;
        }
    }
    return escaped;
}

void escapeInvalidUtf8(nlohmann::json& document) {
    if (document.is_string()) {
        document = escapeInvalidUtf8(document.get_ref<const std::string&>());
    } else if (document.is_array()) {
        for (nlohmann::json& element : document) escapeInvalidUtf8(element);
    } else if (document.is_object()) {
        std::vector<std::pair<std::string, nlohmann::json>> members;
        for (auto& member : document.items()) {
            members.emplace_back(escapeInvalidUtf8(member.key()), std::move(member.value()));
            escapeInvalidUtf8(members.back().second);
        }
        document = nlohmann::json::object();
        for (auto& member : members) document[member.first] = std::move(member.second);
    }
}

}  // namespace qrtsim
