#include "product/dio/DioUevent.h"

#include <cstring>

#include "product/dio/DioDecimal.h"

namespace dio_uevent {

namespace {

constexpr char kActionKey[] = "ACTION";
constexpr char kDriverKey[] = "DRIVER";
constexpr char kInputKey[] = "DI_";
constexpr char kChange[] = "change";
constexpr char kDriverName[] = "vorel_dio";
// A key's value starts after the key and its "=": "ACTION=change" -> "change".
constexpr size_t kValueOffset = sizeof kActionKey;

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The value of "KEY=VALUE" for a key of six characters; empty when the string ends sooner.
const char* valueOf(const char* text, size_t length) {
    return length >= kValueOffset ? text + kValueOffset : "";
}

// "DI_<index>=<state>".
bool parseInput(const char* text, int* index, int* state) {
    const char* at = text + sizeof kInputKey - 1;
    if (!parseDriverDecimal(at, index, &at) || *at != '=') return false;
    return parseDriverDecimal(at + 1, state);
}

// Where the keys begin: after the header string, which the kernel writes as
// "<action>@<device path>". Null when the first string is no such header (a datagram that is
// no kernel uevent, such as udev's own "libudev" messages).
const char* keysAfterHeader(const char* datagram, size_t length) {
    const void* nul = std::memchr(datagram, '\0', length);
    if (nul == nullptr) return nullptr;
    const char* end = static_cast<const char*>(nul);
    const void* at = std::memchr(datagram, '@', static_cast<size_t>(end - datagram));
    return at != nullptr && at != datagram ? end + 1 : nullptr;
}

}  // namespace

int parse(const char* datagram, size_t length, unsigned diCount, unsigned* index, int* state) {
    if (datagram == nullptr || index == nullptr || state == nullptr) return 0;
    if (length > kDatagramBytes) length = kDatagramBytes;
    bool actionSeen = false;
    bool driverConfirmed = false;
    bool inputAccepted = false;
    unsigned acceptedIndex = 0;
    int acceptedState = 0;
    // Each string is copied out with its terminator, so that a string running to the end of
    // the datagram without one is examined only as far as it was received.
    char text[kDatagramBytes + 1];
    const char* keys = keysAfterHeader(datagram, length);
    if (keys == nullptr) return 0;
    for (size_t at = static_cast<size_t>(keys - datagram); at < length;) {
        const char* start = datagram + at;
        const void* nul = std::memchr(start, '\0', length - at);
        size_t stringLength = nul != nullptr ? static_cast<const char*>(nul) - start : length - at;
        std::memcpy(text, start, stringLength);
        text[stringLength] = '\0';
        at += stringLength + 1;

        if (!actionSeen) {
            if (!startsWith(text, kActionKey)) continue;
            if (std::strcmp(valueOf(text, stringLength), kChange) != 0) return 0;
            actionSeen = true;
            continue;
        }
        if (!driverConfirmed && startsWith(text, kDriverKey)) {
            if (std::strcmp(valueOf(text, stringLength), kDriverName) != 0) return 0;
            driverConfirmed = true;
        } else if (!inputAccepted && startsWith(text, kInputKey)) {
            int line = -1, level = -1;
            if (parseInput(text, &line, &level) && line >= 0 &&
                static_cast<unsigned>(line) < diCount && (level == 0 || level == 1)) {
                inputAccepted = true;
                acceptedIndex = static_cast<unsigned>(line);
                acceptedState = level;
            }
        }
        if (driverConfirmed && inputAccepted) {
            *index = acceptedIndex;
            *state = acceptedState;
            return 1;
        }
    }
    return 0;
}

}  // namespace dio_uevent
