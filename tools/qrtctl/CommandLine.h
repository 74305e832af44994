#pragma once

// What every qrtctl command shares: the product and output options, number and value parsing,
// the two kinds of failure (a wrong command line, exit 2; a failing SDK call, exit 1) and the
// printing of results as text for a person or as one JSON document for a program.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace qrtctl {

using Json = nlohmann::ordered_json;

constexpr int kExitSdkError = 1;
constexpr int kExitUsage = 2;

// The command line is wrong: the message names the argument; usage follows.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An SDK call failed: `what` says which call on which product, `status` is its result.
struct SdkError : std::runtime_error {
    SdkError(std::string what, int status);
    int status;
};

// "QRT_ERR_BUSY" and the other status names; "status N" for a value the SDK does not define.
std::string statusName(int status);

// Throws SdkError unless `status` is QRT_SUCCESS.
void check(int status, const std::string& what);

// The options of one command: which product, which output.
struct Selection {
    unsigned product = 0;
    bool productGiven = false;
    bool json = false;

    // The product's handle; QRT_ERR_INVALID_PARAM when the index is beyond the products found.
    void* handle() const;
    // "product N": the prefix of every message about the selected product.
    std::string name() const;
};

// What a command does once the command line has selected it.
using Action = std::function<void(const Selection&)>;

// Which products a command reads without -p: product 0, or every product found.
enum class Products { First, Every };

// Adds subcommand `name` to `parent` with the -p/--product and -j/--json options; `action`
// runs when the command line selects it. With Products::Every the command reads every
// product unless -p names one.
CLI::App* addCommand(CLI::App& parent, const std::string& name, const std::string& help,
                     Action action, Products products = Products::First);

// The help of every level of commands, each with its positionals and options, for --help-all
// (and the manual page made from it); --help of one command stays as CLI11 makes it.
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override;
};

// Parses the command line and runs the selected command: the process's exit status.
int run(CLI::App& app, int argc, char** argv);

// Overviews (list, status, metrics) read many values: one that the product does not support
// is left out (false), any other failure is told on standard error and makes the command end
// with exit status 1 once it has printed what it could read (false); with `failsCommand`
// false it is only told.
bool readable(int status, const std::string& what, bool failsCommand = true);

// Prints `doc` as one line of JSON when --json was given, otherwise `text` as it stands.
void emit(const Selection& selection, const Json& doc, const std::string& text);

// Numbers: decimal, or hexadecimal with 0x; the whole text must be the number.
long long parseInteger(const std::string& text, long long min, long long max,
                       const std::string& what);
unsigned long parseUnsigned(const std::string& text, unsigned long max, const std::string& what);
// Exactly on, off, 1 or 0; any other word is a usage error naming it.
int parseSwitch(const std::string& text, const std::string& what);
// Exactly edge0, edge1, both, or their numbers 0, 1, 2.
QRT_EDGETRIGGER_TYPE parseEdge(const std::string& text);
// The trigger fires on neither edge: what a reading of the activation reports for a card whose
// edge flags are both clear (as they are on a fresh Pro card).
constexpr int kNoEdge = -1;
// "edge0", "edge1", "both", "none" for kNoEdge.
const char* edgeName(int edge);
const char* switchName(int value);

// Values for every port: either one comma-separated list ("1,0,1,1"), written as given, or
// assignments ("2=on", "0=off") applied to `current`. Assignments to ports beyond `current`
// are an invalid parameter for the product (SdkError), not a malformed command line.
std::vector<int> portValues(const std::vector<std::string>& args, std::vector<int> current,
                            const std::string& what);
bool isValueList(const std::vector<std::string>& args);
std::vector<unsigned> parseUnsignedList(const std::string& text, const std::string& what);

// "di3" / "do0": a digital line.
struct Line {
    bool output;
    unsigned index;
};
Line parseLine(const std::string& text);
std::string lineName(const Line& line);

// Fixed-point text of a measured value ("0.500").
std::string decimal(double value, int digits);

}  // namespace qrtctl
