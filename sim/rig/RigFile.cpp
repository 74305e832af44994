#include "sim/rig/RigFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "utilities/SModifyFieldConfig.h"
#include "utilities/UModifyTextUtil.h"

namespace qrtsim {

namespace {

bool startsEntry(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A rig file is a few dozen lines; an input far beyond that (or endless, as /dev/zero) is not one.
constexpr size_t kMaxRigFileBytes = 1 << 20;

// The next line of `in` without its "\n" into `line`; false at end of input. Reads at most one
// character past the longest line the configuration format takes, and at most
// kMaxRigFileBytes in all (`total` counts them), so no input makes it read without end.
bool readBoundedLine(std::istream& in, std::string& line, size_t& total) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) return !line.empty();
        if (++total > kMaxRigFileBytes || c == '\n') return true;
        line.push_back(static_cast<char>(c));
        if (line.size() > UModifyTextUtil::kMaxLineLength) return true;
    }
}

// The configuration format skips lines it cannot read; a rig file must not lose a key that
// way, so such lines are errors here.
void checkLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RigError(path + ": cannot read the rig file: " + std::strerror(errno));
    std::string line;
    size_t total = 0;
    int number = 0;
    while (readBoundedLine(in, line, total)) {
        ++number;
        std::string where = path + ": line " + std::to_string(number) + ": ";
        if (total > kMaxRigFileBytes)
            throw RigError(path + ": larger than " + std::to_string(kMaxRigFileBytes) +
                           " bytes; not a rig file");
        if (line.size() > UModifyTextUtil::kMaxLineLength)
            throw RigError(where + "longer than " +
                           std::to_string(UModifyTextUtil::kMaxLineLength) + " characters");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t\f\v");
        if (first == std::string::npos) continue;  // blank
        char c = line[first];
        if (c == '#' || c == ';') continue;  // comment
        if (first != 0)
            throw RigError(where + "an indented line is not read; start it at column 1");
        if (c == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos) throw RigError(where + "section header without ']'");
            if (line.find_first_not_of(" \t", 1) == close)
                throw RigError(where + "section header without a name");
            continue;
        }
        if (!startsEntry(c)) throw RigError(where + "an entry starts with a letter or a digit");
        if (line.find('=') == std::string::npos) throw RigError(where + "expected key = value");
    }
}

BoardConfig readSection(const SModifyFieldConfig& config, const std::string& path,
                        const std::string& section) {
    BoardConfig board;
    board.file = path;
    board.section = section;
    for (const FIELD_MAPSET& entry : config.getEntries(section.c_str())) {
        if (board.values.count(entry.key)) board.fail(entry.key, "given twice in the section");
        board.values[entry.key] = entry.value;
    }
    return board;
}

}  // namespace

RigDescription loadRigFile(const std::string& path) {
    checkLines(path);
    SModifyFieldConfig config;
    if (config.loadConfig(path.c_str()) != 1) throw RigError(path + ": cannot read the rig file");
    RigDescription rig;
    rig.file = path;
    std::vector<FIELD_MAPSET> globals = config.getGlobalEntries();
    if (!globals.empty())
        throw RigError(path + ": " + globals.front().key +
                       ": stands before the first section; every key belongs to a section");
    for (const std::string& section : config.getFields()) {
        BoardConfig board = readSection(config, path, section);
        if (section == kDriverSection)
            rig.driver = std::move(board);
        else
            rig.boards.push_back(std::move(board));
    }
    return rig;
}

RigDescription defaultRig() {
    RigDescription rig;
    rig.file = "<default rig>";
    auto add = [&rig](const std::string& section, std::map<std::string, std::string> values) {
        BoardConfig board;
        board.file = rig.file;
        board.section = section;
        board.values = std::move(values);
        rig.boards.push_back(std::move(board));
    };
    add("card0", {{"model", "PCIe-W504"}, {"sn", "W5A0001"}});
    // The PoE card with a camera on every port, each port cabled to a host interface.
    add("card1", {{"model", "PCIe-RHX54P"},
                  {"sn", "RHX5400001"},
                  {"poe_class0", "3"},
                  {"poe_class1", "3"},
                  {"poe_class2", "2"},
                  {"poe_class3", "2"},
                  {"mac0", "02:4b:51:00:01:00"},
                  {"mac1", "02:4b:51:00:01:01"},
                  {"mac2", "02:4b:51:00:01:02"},
                  {"mac3", "02:4b:51:00:01:03"},
                  {"ip0", "192.168.10.1/24"},
                  {"ip1", "192.168.11.1/24"},
                  {"ip2", "192.168.12.1/24"},
                  {"ip3", "192.168.13.1/24"}});
    return rig;
}

}  // namespace qrtsim
