#pragma once

#include <cstddef>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

// Text functions shared by the flat and the sectioned configuration files: trimming, splitting
// a "key = value" line, decimal conversions and a re-entrant token scan.
class UModifyTextUtil {
  public:
    // The characters trimmed from both ends of keys, values and section names.
    static const char* const kWhiteSpace;  // " \f\n\t\r\v"
    // Longest line (without its "\n") the configuration files accept.
    static constexpr std::size_t kMaxLineLength = 1023;
    // Longest text split() and splitToInt() tokenise.
    static constexpr std::size_t kMaxSplitLength = 8191;
    // Most bytes a loader reads from one file: a configuration file is a few hundred lines, so
    // an input beyond this (or one without end, as /dev/zero) is not one.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    // Removes the white-space characters above from both ends of `text`; returns `text`.
    static std::string& trim(std::string& text);

    // Splits `line` at its first "=": `key` receives the text before it, `value` the text after
    // it, but only when at least one character follows the "=". Nothing is assigned when the
    // "=" is the first character or when there is none. Returns 1 when `key` was assigned.
    static int getkeyvalue(const std::string& line, std::string& key, std::string& value);

    // Decimal text of `value` into `text`.
    static void convertFromInt(std::string& text, int value);
    // Decimal value of `text` into `value` (0 when the text does not start with a number).
    static void convertFromString(int& value, const std::string& text);

    // Tokens of `text` separated by any character of `delimiters`; empty tokens are skipped and
    // `count` receives the number of tokens. A text longer than kMaxSplitLength characters is
    // refused as a whole: the result is empty and `count` is 0, never a silently cut list.
    static std::vector<std::string> split(const std::string& text, const std::string& delimiters,
                                          int& count);
    // The same, each token converted as a decimal int.
    static std::vector<int> splitToInt(const std::string& text, const std::string& delimiters,
                                       int& count);

    // Re-entrant token scan over a writable C string. The first call passes the text, later
    // calls pass null and continue from `*state`. Delimiters ending a token are overwritten
    // with a terminator. Returns null when no token is left.
    static char* mystrtok(char* text, const char* delimiters, char** state);

    // --- Line handling shared by the file loaders ---

    // Opens `path` for reading; false when it cannot be opened or is a directory (which the
    // stream library would open and then read as an empty file).
    static bool openForReading(std::ifstream& in, const std::string& path);
    // The lines of one input, read with bounds: a line longer than kMaxLineLength, or an input
    // beyond kMaxFileSize, is not configuration data this library writes or accepts, and ends
    // the reading as rejected (never cut into pieces that could read as separate entries, nor
    // skipped, which would move the entries after a section header into another section). A
    // UTF-8 byte-order mark at the start of the input is not part of the first line.
    class LineReader {
      public:
        enum Result { kLine, kEnd, kRejected };
        explicit LineReader(std::istream& in) : in_(in) {}
        // The next line without its "\n".
        Result next(std::string& line);

      private:
        std::istream& in_;
        std::size_t total_ = 0;  // bytes read so far
    };
    // Replaces the file at `path` with `text`: 1 when written. 0, with the file untouched, for
    // a text beyond kMaxFileSize, which no loader would read back (the spaces a save puts
    // around "=" can take a file that loaded beyond the bound).
    static int writeFile(const std::string& path, const std::string& text);
    // True when something (a file, a directory, a device) exists at `path`, or its absence
    // cannot be told (a directory on the way that cannot be searched).
    static bool pathExists(const std::string& path);
    // True when `line` starts with an ASCII digit or letter: only such lines carry entries.
    static bool startsWithKeyCharacter(const std::string& line);
    // A "key = value" line split at its first "=" with key and value trimmed; `value` is empty
    // when nothing follows the "=". Returns 0 (and leaves both empty) for a line without "=",
    // with "=" as its first character or with an empty key after trimming.
    static int parseEntry(const std::string& line, std::string& key, std::string& value);
    // 1 when the pair can be written as one line and read back unchanged by the loaders: a key
    // that starts with a digit or letter and holds no "=", key and value without a line break
    // and without white space at their ends (the loaders trim it), and "key=value" within
    // kMaxLineLength.
    static int isStorableEntry(const std::string& key, const std::string& value);
    // The line a file holds for the pair, without its "\n": "key = value", or "key=value" when
    // the spaces would take the line beyond kMaxLineLength, so that every entry a file could
    // hold (and every entry isStorableEntry accepts) is written as a line the loaders read.
    static std::string formatEntry(const std::string& key, const std::string& value);
};
