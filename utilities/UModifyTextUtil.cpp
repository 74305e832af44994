#include "utilities/UModifyTextUtil.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

const char* const UModifyTextUtil::kWhiteSpace = " \f\n\t\r\v";

std::string& UModifyTextUtil::trim(std::string& text) {
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) {
        text.clear();
        return text;
    }
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    text = text.substr(first, last - first + 1);
    return text;
}

int UModifyTextUtil::getkeyvalue(const std::string& line, std::string& key, std::string& value) {
    const std::size_t equals = line.find('=');
    // No "=" at all is treated like a leading one: the line carries no pair.
    if (equals == std::string::npos || equals == 0) return 0;
    key = line.substr(0, equals);
    if (equals + 1 < line.size()) value = line.substr(equals + 1);
    return 1;
}

void UModifyTextUtil::convertFromInt(std::string& text, int value) {
    std::ostringstream out;
    out << value;
    text = out.str();
}

void UModifyTextUtil::convertFromString(int& value, const std::string& text) {
    std::istringstream in(text);
    value = 0;
    in >> value;
    // A failed extraction of a non-number leaves 0; an out-of-range number saturates.
}

char* UModifyTextUtil::mystrtok(char* text, const char* delimiters, char** state) {
    if (delimiters == nullptr || state == nullptr) return nullptr;
    char* scan = text != nullptr ? text : *state;
    if (scan == nullptr) return nullptr;
    scan += std::strspn(scan, delimiters);
    if (*scan == '\0') {
        *state = scan;
        return nullptr;
    }
    char* end = scan + std::strcspn(scan, delimiters);
    if (*end != '\0') {
        *end = '\0';
        *state = end + 1;
    } else {
        *state = end;
    }
    return scan;
}

std::vector<std::string> UModifyTextUtil::split(const std::string& text,
                                                const std::string& delimiters, int& count) {
    std::vector<std::string> tokens;
    count = 0;
    if (text.size() > kMaxSplitLength) return tokens;
    // The scan writes terminators into the text, so it runs over a private copy.
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    char* state = nullptr;
    for (char* token = mystrtok(copy.data(), delimiters.c_str(), &state); token != nullptr;
         token = mystrtok(nullptr, delimiters.c_str(), &state)) {
        tokens.emplace_back(token);
    }
    count = static_cast<int>(tokens.size());
    return tokens;
}

std::vector<int> UModifyTextUtil::splitToInt(const std::string& text, const std::string& delimiters,
                                             int& count) {
    std::vector<int> numbers;
    for (const std::string& token : split(text, delimiters, count)) {
        int number = 0;
        convertFromString(number, token);
        numbers.push_back(number);
    }
    return numbers;
}

bool UModifyTextUtil::openForReading(std::ifstream& in, const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return false;
    in.open(path);
    return in.is_open();
}

UModifyTextUtil::LineReader::Result UModifyTextUtil::LineReader::next(std::string& line) {
    static const std::string kByteOrderMark = "\xEF\xBB\xBF";
    line.clear();
    std::streambuf* input = in_.rdbuf();
    if (input == nullptr) return kEnd;
    for (;;) {
        const int c = input->sbumpc();
        // A last line without its "\n" still counts.
        if (c == std::char_traits<char>::eof()) return line.empty() ? kEnd : kLine;
        if (++total_ > kMaxFileSize) return kRejected;
        if (c == '\n') return kLine;
        if (line.size() == kMaxLineLength) return kRejected;
        line.push_back(static_cast<char>(c));
        if (total_ == kByteOrderMark.size() && line == kByteOrderMark) line.clear();
    }
}

int UModifyTextUtil::writeFile(const std::string& path, const std::string& text) {
    if (text.size() > kMaxFileSize) return 0;
    std::ofstream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out) return 0;
    out << text;
    out.flush();
    return out ? 1 : 0;
}

bool UModifyTextUtil::pathExists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 || errno != ENOENT;
}

bool UModifyTextUtil::startsWithKeyCharacter(const std::string& line) {
    if (line.empty()) return false;
    // ASCII ranges on purpose: the result must not depend on the process locale.
    const char c = line[0];
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int UModifyTextUtil::parseEntry(const std::string& line, std::string& key, std::string& value) {
    key.clear();
    value.clear();
    if (!getkeyvalue(line, key, value)) return 0;
    trim(key);
    trim(value);
    if (key.empty()) {
        value.clear();
        return 0;
    }
    return 1;
}

int UModifyTextUtil::isStorableEntry(const std::string& key, const std::string& value) {
    // Anything else would come back from the file as a different entry, several entries or
    // none: a line break in a value could even inject a section header.
    if (!startsWithKeyCharacter(key)) return 0;
    if (key.find_first_of("=\r\n") != std::string::npos) return 0;
    if (value.find_first_of("\r\n") != std::string::npos) return 0;
    std::string trimmedKey = key, trimmedValue = value;
    if (trim(trimmedKey) != key || trim(trimmedValue) != value) return 0;
    return key.size() + 1 + value.size() <= kMaxLineLength ? 1 : 0;
}

std::string UModifyTextUtil::formatEntry(const std::string& key, const std::string& value) {
    // A line the loader took (at most kMaxLineLength characters with its "=") would grow by two
    // characters with the spaces around "=", and the next load would skip it.
    const char* separator = key.size() + 3 + value.size() <= kMaxLineLength ? " = " : "=";
    return key + separator + value;
}
