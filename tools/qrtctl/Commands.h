#pragma once

// The command families of qrtctl, one file each, and the shape most of their settings share:
// read when the value is left out, written when it is given.

#include <string>
#include <utility>
#include <vector>

#include "tools/qrtctl/CommandLine.h"

namespace qrtctl {

void addProductCommands(CLI::App& app);  // list, info
void addPowerCommands(CLI::App& app);
void addExSupplyCommands(CLI::App& app);
void addPoeCommands(CLI::App& app);
void addToeCommands(CLI::App& app);
void addFanCommands(CLI::App& app);
void addDioCommands(CLI::App& app);
void addMetricsCommand(CLI::App& app);

// How a setting's value reads on the command line and prints.
template <class T>
struct ValueFormat {
    T (*parse)(const std::string& text);
    Json (*json)(T value);
    std::string (*text)(T value);
};

extern const ValueFormat<int> kSwitchValue;               // on/off
extern const ValueFormat<unsigned> kUnsignedSwitchValue;  // on/off
extern const ValueFormat<int> kIntegerValue;
extern const ValueFormat<unsigned long> kCountValue;
extern const ValueFormat<QRT_EDGETRIGGER_TYPE> kEdgeValue;

// One get/set pair of the C API, addressed by an index (a port, fan or line); settings of a
// component as a whole ignore the index. `unit` (optional) reports the size of one count.
template <class T>
struct Accessor {
    int (*get)(void* handle, unsigned index, T* value);
    int (*set)(void* handle, unsigned index, T value);
    int (*unit)(void* handle, unsigned long* unit);
};

// Adapters for the C functions of settings that have no index.
template <class T, int (*F)(void*, T*)>
int wholeGet(void* handle, unsigned, T* value) {
    return F(handle, value);
}
template <class T, int (*F)(void*, T)>
int wholeSet(void* handle, unsigned, T value) {
    return F(handle, value);
}

enum class Index {
    None,    // NAME [VALUE]
    Number,  // NAME INDEX [VALUE]: a port or fan
    Line,    // NAME LINE [VALUE]: di<N> with `inputs`, do<N> with `outputs`
};

template <class T>
struct Setting {
    const char* name;
    const char* help;
    const char* valueName;  // "DUTY"
    Index index;
    const char* indexName;  // "FAN", "LINE"
    ValueFormat<T> format;
    Accessor<T> inputs;   // the setting (Index::None, Index::Number), or of the inputs
    Accessor<T> outputs;  // Index::Line: of the outputs (get null: inputs only)
};

// The JSON key of a command or index name: "one-trigger-all" -> "one_trigger_all", "FAN" -> "fan".
std::string key(std::string name);

// Adds the setting as a subcommand of `family`. It prints "<index>: <value>[ (unit U)]" or
// {"product", "<indexName>", "<name>", "unit"} when reading, and nothing when writing.
template <class T>
void addSetting(CLI::App& family, const Setting<T>& setting);

}  // namespace qrtctl

namespace qrtctl {

// The products a command reads: the one -p names (checked), or every product found.
std::vector<unsigned> selectedProducts(const Selection& selection);

// "Key:value\r\n" lines of an information text, in order.
std::vector<std::pair<std::string, std::string>> infoLines(const std::string& text);

// What the product's information text gives after "Product:", or "" when it cannot be read.
std::string productModel(void* handle);

// The product's features, in the product's order.
std::vector<QRT_FEATURE_TYPE> productFeatures(void* handle);

// The command family name of a feature ("poe", "power", ...).
const char* featureName(QRT_FEATURE_TYPE feature);

}  // namespace qrtctl

namespace qrtctl {

// A row of on/off states, one per port or input, read and written as a whole by the C API.
struct SwitchRow {
    const char* what;    // "port power"
    const char* label;   // "port": printed as "port 2: on"
    const char* plural;  // "ports": the JSON key
    int (*count)(void* handle, unsigned* n);
    int (*get)(void* handle, int* states, unsigned n);
    int (*set)(void* handle, int* states, unsigned n);  // null: read only
};

// The states of every entry of the row; throws SdkError.
std::vector<int> readSwitchRow(void* handle, const Selection& selection, const SwitchRow& row);

// "get" (and "set" where the row can be written) subcommands of `family`.
void addSwitchRowCommands(CLI::App& family, const SwitchRow& row);

}  // namespace qrtctl

namespace qrtctl {

// A PoE property the C API reads as a float: its number, its name in JSON and in metrics
// (with the unit, as Prometheus names them), its text for a person.
struct PoeProperty {
    int number;
    const char* key;  // "temperature_celsius"
    const char* help;
    int digits;  // decimals printed
};
extern const PoeProperty kPoeCardProperties[7];
extern const PoeProperty kPoePortProperties[5];

}  // namespace qrtctl
