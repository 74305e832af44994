#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>

// The DIO driver prints its values with "%d" (sysfs files and uevent strings alike). Reads one
// such decimal int as "%d" would (leading blanks and a sign allowed), into `value`, with `end`
// (when given) at the first character after it. False without digits or beyond int, which
// "%d" leaves undefined.
inline bool parseDriverDecimal(const char* text, int* value, const char** end = nullptr) {
    char* stop = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &stop, 10);
    if (stop == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    *value = static_cast<int>(parsed);
    if (end != nullptr) *end = stop;
    return true;
}
