#include "tools/qrtctl/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

namespace qrtctl {

namespace {

// The command the command line selected, and the number of overview values that failed.
Action g_action;
std::shared_ptr<Selection> g_selection;
int g_unreadable = 0;

void printError(const std::string& message) {
    std::cerr << "qrtctl: " << message << '\n';
}

// The deepest command the command line selected.
const CLI::App* chosenCommand(const CLI::App& app) {
    const CLI::App* command = &app;
    for (;;) {
        auto chosen = command->get_subcommands();
        if (chosen.empty()) return command;
        command = chosen.front();
    }
}

// A word where a command needs one of its subcommands, and that names none of them: the
// parse error then only says that a subcommand is required, so the word is named here.
std::string unknownCommandMessage(const CLI::App& app) {
    const CLI::App* command = chosenCommand(app);
    if (command->get_require_subcommand_min() == 0 || !command->get_subcommands().empty())
        return "";
    std::vector<std::string> words = command->remaining();
    if (words.empty() || words.front().empty() || words.front()[0] == '-') return "";
    std::string names;
    for (const CLI::App* sub : command->get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return "'" + words.front() + "' is not a command of " + command->get_name() + " (" + names +
           ")";
}

// "Usage: qrtctl poe set [OPTIONS] VALUES..." of the deepest command given, and where to read
// more.
void printUsage(const CLI::App& app) {
    const CLI::App* command = chosenCommand(app);
    std::string path;
    for (const CLI::App* c = command; c != nullptr; c = c->get_parent())
        path = c->get_name() + (path.empty() ? "" : " " + path);
    // CLI11 names only the command itself in its usage line: put the whole path there.
    std::istringstream help(command->help());
    for (std::string line; std::getline(help, line);)
        if (line.rfind("Usage: ", 0) == 0) {
            size_t nameEnd = line.find(' ', 7);
            std::cerr << "Usage: " << path
                      << (nameEnd == std::string::npos ? "" : line.substr(nameEnd)) << '\n';
        }
    std::cerr << "Run '" << path << " --help' for more.\n";
}

// The digits of a number, decimal or with 0x hexadecimal (no sign, no octal, nothing after).
unsigned long long parseMagnitude(const std::string& digits, const std::string& text,
                                  const std::string& what) {
    bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    const char* begin = digits.c_str() + (hex ? 2 : 0);
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(begin, &end, hex ? 16 : 10);
    // strtoull would take leading blanks and a sign itself.
    bool wellFormed = std::isxdigit(static_cast<unsigned char>(*begin)) && *end == '\0' &&
                      (hex || std::isdigit(static_cast<unsigned char>(*begin)));
    if (!wellFormed) throw UsageError(what + ": '" + text + "' is not a number");
    if (errno == ERANGE) throw UsageError(what + ": " + text + " is out of range");
    return value;
}

UsageError outOfRange(const std::string& text, const std::string& min, const std::string& max,
                      const std::string& what) {
    return UsageError(what + ": " + text + " is out of range (" + min + " to " + max + ")");
}

}  // namespace

SdkError::SdkError(std::string what, int status)
    : std::runtime_error(std::move(what)), status(status) {}

std::string statusName(int status) {
    switch (status) {
        case QRT_SUCCESS:
            return "QRT_SUCCESS";
        case QRT_ERR_FAILED:
            return "QRT_ERR_FAILED";
        case QRT_ERR_NOT_SUPPORTED:
            return "QRT_ERR_NOT_SUPPORTED";
        case QRT_ERR_INVALID_PARAM:
            return "QRT_ERR_INVALID_PARAM";
        case QRT_ERR_NOT_INITIALIZED:
            return "QRT_ERR_NOT_INITIALIZED";
        case QRT_ERR_BUSY:
            return "QRT_ERR_BUSY";
    }
    return "status " + std::to_string(status);
}

void check(int status, const std::string& what) {
    if (status != QRT_SUCCESS) throw SdkError(what, status);
}

bool readable(int status, const std::string& what, bool failsCommand) {
    if (status == QRT_SUCCESS) return true;
    if (status != QRT_ERR_NOT_SUPPORTED) {
        printError(what + ": " + statusName(status) + " (" + std::to_string(status) + ")");
        if (failsCommand) ++g_unreadable;
    }
    return false;
}

void* Selection::handle() const {
    void* handle = QRT_GetProductHandle(product);
    if (handle == nullptr)
        throw SdkError(name() + " (" + std::to_string(QRT_GetProductNums()) + " products found)",
                       QRT_ERR_INVALID_PARAM);
    return handle;
}

std::string Selection::name() const {
    return "product " + std::to_string(product);
}

CLI::App* addCommand(CLI::App& parent, const std::string& name, const std::string& help,
                     Action action, Products products) {
    auto selection = std::make_shared<Selection>();
    auto productText = std::make_shared<std::string>();
    CLI::App* app = parent.add_subcommand(name, help);
    app->add_option("-p,--product", *productText,
                    products == Products::Every
                        ? "index of the one product to read (default: every product)"
                        : "index of the product (default 0)")
        ->type_name("N");
    app->add_flag("-j,--json", selection->json, "print one JSON document instead of text");
    app->callback([selection, productText, action] {
        if (!productText->empty()) {
            selection->product =
                static_cast<unsigned>(parseUnsigned(*productText, 0xFFFFFFFFu, "product"));
            selection->productGiven = true;
        }
        g_selection = selection;
        g_action = action;
    });
    return app;
}

int run(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        g_action(*g_selection);
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string unknown = unknownCommandMessage(app);
        printError(unknown.empty() ? e.what() : unknown);
        printUsage(app);
        return kExitUsage;
    } catch (const UsageError& e) {
        printError(e.what());
        printUsage(app);
        return kExitUsage;
    } catch (const SdkError& e) {
        std::cout.flush();
        printError(std::string(e.what()) + ": " + statusName(e.status) + " (" +
                   std::to_string(e.status) + ")");
        return kExitSdkError;
    }
    std::cout.flush();
    return g_unreadable == 0 ? 0 : kExitSdkError;
}

void emit(const Selection& selection, const Json& doc, const std::string& text) {
    if (selection.json)
        std::cout << doc.dump() << '\n';
    else
        std::cout << text;
}

long long parseInteger(const std::string& text, long long min, long long max,
                       const std::string& what) {
    bool negative = !text.empty() && text[0] == '-';
    unsigned long long magnitude = parseMagnitude(negative ? text.substr(1) : text, text, what);
    bool inRange = magnitude <= 0x7FFFFFFFFFFFFFFFull;
    long long value = 0;
    if (inRange) {
        value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
        inRange = value >= min && value <= max;
    }
    if (!inRange) throw outOfRange(text, std::to_string(min), std::to_string(max), what);
    return value;
}

unsigned long parseUnsigned(const std::string& text, unsigned long max, const std::string& what) {
    if (!text.empty() && text[0] == '-') throw outOfRange(text, "0", std::to_string(max), what);
    unsigned long long value = parseMagnitude(text, text, what);
    if (value > max) throw outOfRange(text, "0", std::to_string(max), what);
    return static_cast<unsigned long>(value);
}

int parseSwitch(const std::string& text, const std::string& what) {
    if (text == "on" || text == "1") return 1;
    if (text == "off" || text == "0") return 0;
    throw UsageError(what + ": '" + text + "' is not on, off, 1 or 0");
}

QRT_EDGETRIGGER_TYPE parseEdge(const std::string& text) {
    for (int edge = QRT_EDGE_TRIGGER_EDGE0; edge <= QRT_EDGE_TRIGGER_BOTH; ++edge)
        if (text == edgeName(edge) || text == std::to_string(edge))
            return static_cast<QRT_EDGETRIGGER_TYPE>(edge);
    throw UsageError("edge: '" + text + "' is not edge0, edge1 or both (0, 1, 2)");
}

const char* edgeName(int edge) {
    switch (edge) {
        case QRT_EDGE_TRIGGER_EDGE0:
            return "edge0";
        case QRT_EDGE_TRIGGER_EDGE1:
            return "edge1";
        case QRT_EDGE_TRIGGER_BOTH:
            return "both";
        case kNoEdge:
            return "none";
    }
    return "unknown";
}

std::string HelpFormatter::make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const {
    // Inside --help-all a command is shown expanded, and so are its own subcommands, level by
    // level (CLI11 lists the second level by name only).
    if (mode != CLI::AppFormatMode::Sub) return CLI::Formatter::make_subcommands(app, mode);
    std::string out;
    for (const CLI::App* command : app->get_subcommands({})) {
        if (command->get_name().empty()) continue;
        out += (out.empty() ? "\nSubcommands:\n" : "") + make_expanded(command);
    }
    return out;
}

const char* switchName(int value) {
    return value != 0 ? "on" : "off";
}

bool isValueList(const std::vector<std::string>& args) {
    return args.size() == 1 && args[0].find('=') == std::string::npos;
}

std::vector<int> portValues(const std::vector<std::string>& args, std::vector<int> current,
                            const std::string& what) {
    if (args.empty()) throw UsageError("no values given");
    if (isValueList(args)) {
        std::vector<int> values;
        std::stringstream list(args[0]);
        for (std::string item; std::getline(list, item, ',');)
            values.push_back(parseSwitch(item, "value"));
        if (args[0].empty() || args[0].back() == ',')
            throw UsageError("empty value in '" + args[0] + "'");
        return values;
    }
    for (const std::string& arg : args) {
        size_t eq = arg.find('=');
        if (eq == std::string::npos)
            throw UsageError("'" + arg + "': give one list or PORT=VALUE assignments");
        unsigned long port = parseUnsigned(arg.substr(0, eq), 0xFFFFFFFFul, "port");
        int value = parseSwitch(arg.substr(eq + 1), "value");
        if (port >= current.size())
            throw SdkError(what + ": port " + std::to_string(port) + " (" +
                               std::to_string(current.size()) + " ports)",
                           QRT_ERR_INVALID_PARAM);
        current[port] = value;
    }
    return current;
}

std::vector<unsigned> parseUnsignedList(const std::string& text, const std::string& what) {
    std::vector<unsigned> values;
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');)
        values.push_back(static_cast<unsigned>(parseUnsigned(item, 0xFFFFFFFFul, what)));
    if (text.empty() || text.back() == ',')
        throw UsageError(what + ": empty value in '" + text + "'");
    return values;
}

Line parseLine(const std::string& text) {
    if (text.size() > 2 && (text.compare(0, 2, "di") == 0 || text.compare(0, 2, "do") == 0))
        return {text[1] == 'o',
                static_cast<unsigned>(parseUnsigned(text.substr(2), 0xFFFFFFFFul, "line"))};
    throw UsageError("line: '" + text +
                     "' is not a digital input (di0, di1 ...) or output (do0 ...)");
}

std::string lineName(const Line& line) {
    return (line.output ? "do" : "di") + std::to_string(line.index);
}

std::string decimal(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

}  // namespace qrtctl
