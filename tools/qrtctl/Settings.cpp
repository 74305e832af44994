// The read-or-write settings shared by the command families.

#include <memory>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

int parseSwitchValue(const std::string& text) {
    return parseSwitch(text, "value");
}
unsigned parseUnsignedSwitchValue(const std::string& text) {
    return static_cast<unsigned>(parseSwitch(text, "value"));
}
int parseIntegerValue(const std::string& text) {
    return static_cast<int>(parseInteger(text, -0x80000000ll, 0x7FFFFFFF, "value"));
}
unsigned long parseCountValue(const std::string& text) {
    return parseUnsigned(text, ~0ul, "value");
}

std::string switchText(int value) {
    return switchName(value);
}
std::string unsignedSwitchText(unsigned value) {
    return switchName(value != 0);
}
std::string edgeText(QRT_EDGETRIGGER_TYPE edge) {
    return edgeName(edge);
}

template <class T>
Json number(T value) {
    return value;
}
template <class T>
std::string numberText(T value) {
    return std::to_string(value);
}

}  // namespace

std::string key(std::string name) {
    for (char& c : name) c = c == '-' ? '_' : static_cast<char>(std::tolower(c));
    return name;
}

const ValueFormat<int> kSwitchValue{parseSwitchValue, number<int>, switchText};
const ValueFormat<unsigned> kUnsignedSwitchValue{parseUnsignedSwitchValue, number<unsigned>,
                                                 unsignedSwitchText};
const ValueFormat<int> kIntegerValue{parseIntegerValue, number<int>, numberText<int>};
const ValueFormat<unsigned long> kCountValue{parseCountValue, number<unsigned long>,
                                             numberText<unsigned long>};
const ValueFormat<QRT_EDGETRIGGER_TYPE> kEdgeValue{parseEdge, number<QRT_EDGETRIGGER_TYPE>,
                                                   edgeText};

// What the index names: a fan or port by its number, or a digital line (a bare number where
// the setting exists for one kind of line only).
template <class T>
std::string indexHelp(const Setting<T>& setting) {
    if (setting.index == Index::Number)
        return "number of the " + key(setting.indexName) + " (0, 1, ...)";
    bool inputs = setting.inputs.get != nullptr, outputs = setting.outputs.get != nullptr;
    if (inputs && outputs) return "a digital input di<N> or output do<N>";
    return inputs ? "a digital input: di<N>, or its number N"
                  : "a digital output: do<N>, or its number N";
}

template <class T>
void addSetting(CLI::App& family, const Setting<T>& setting) {
    auto indexText = std::make_shared<std::string>();
    auto valueText = std::make_shared<std::string>();
    std::string familyName = family.get_name();
    auto action = [setting, indexText, valueText, familyName](const Selection& selection) {
        const Accessor<T>* access = &setting.inputs;
        unsigned index = 0;
        std::string label;  // the index as printed
        if (setting.index == Index::Number) {
            index = static_cast<unsigned>(
                parseUnsigned(*indexText, 0xFFFFFFFFul, key(setting.indexName)));
            label = *indexText;
        } else if (setting.index == Index::Line) {
            bool inputs = setting.inputs.get != nullptr, outputs = setting.outputs.get != nullptr;
            // A bare number names a line where the setting exists for one kind of line only.
            bool bare =
                !indexText->empty() && std::isdigit(static_cast<unsigned char>((*indexText)[0]));
            Line line =
                bare && inputs != outputs
                    ? Line{outputs,
                           static_cast<unsigned>(parseUnsigned(*indexText, 0xFFFFFFFFul, "line"))}
                    : parseLine(*indexText);
            if (line.output ? !outputs : !inputs)
                throw UsageError(std::string(setting.name) + " applies to digital " +
                                 (inputs ? "inputs" : "outputs") + " only");
            access = line.output ? &setting.outputs : &setting.inputs;
            index = line.index;
            label = lineName(line);
        }
        void* handle = selection.handle();
        std::string what = selection.name() + ": " + familyName + " " + setting.name +
                           (label.empty() ? "" : " " + label);
        if (!valueText->empty()) {
            check(access->set(handle, index, setting.format.parse(*valueText)), what);
            return;
        }
        T value{};
        check(access->get(handle, index, &value), what);
        Json doc{{"product", selection.product}};
        if (!label.empty())
            doc[key(setting.indexName)] =
                setting.index == Index::Number ? Json(index) : Json(label);
        doc[key(setting.name)] = setting.format.json(value);
        std::string text = (label.empty() ? "" : label + ": ") + setting.format.text(value);
        if (access->unit != nullptr) {
            unsigned long unit = 0;
            check(access->unit(handle, &unit), what + " unit");
            doc["unit"] = unit;
            text += " (unit " + std::to_string(unit) + ")";
        }
        emit(selection, doc, text + "\n");
    };
    CLI::App* app = addCommand(family, setting.name, setting.help, action);
    if (setting.index != Index::None)
        app->add_option(key(setting.indexName), *indexText, indexHelp(setting))
            ->required()
            ->type_name(setting.indexName);
    app->add_option("value", *valueText,
                    std::string("the new value; without it, the value is read"))
        ->type_name(setting.valueName);
}

template void addSetting(CLI::App&, const Setting<int>&);
template void addSetting(CLI::App&, const Setting<unsigned>&);
template void addSetting(CLI::App&, const Setting<unsigned long>&);
template void addSetting(CLI::App&, const Setting<QRT_EDGETRIGGER_TYPE>&);

}  // namespace qrtctl

namespace qrtctl {

std::vector<int> readSwitchRow(void* handle, const Selection& selection, const SwitchRow& row) {
    std::string what = selection.name() + ": " + row.what;
    unsigned n = 0;
    check(row.count(handle, &n), what + " count");
    std::vector<int> states(n);
    if (n > 0) check(row.get(handle, states.data(), n), what);
    return states;
}

void addSwitchRowCommands(CLI::App& family, const SwitchRow& row) {
    addCommand(
        family, "get", std::string("Print the ") + row.what + " of every " + row.label,
        [row](const Selection& selection) {
            std::vector<int> states = readSwitchRow(selection.handle(), selection, row);
            std::string text;
            for (size_t i = 0; i < states.size(); ++i)
                text += std::string(row.label) + " " + std::to_string(i) + ": " +
                        switchName(states[i]) + "\n";
            emit(selection, Json{{"product", selection.product}, {row.plural, states}}, text);
        });
    if (row.set == nullptr) return;
    auto values = std::make_shared<std::vector<std::string>>();
    CLI::App* set = addCommand(
        family, "set",
        std::string("Switch the ") + row.what + ": one list of every " + row.label +
            "'s state (1,0,1,1) or " + row.label + "=state assignments (2=on 0=off)",
        [row, values](const Selection& selection) {
            void* handle = selection.handle();
            std::string what = selection.name() + ": " + row.what;
            // A whole list goes to the product as given: the product judges its length.
            std::vector<int> states =
                isValueList(*values)
                    ? portValues(*values, {}, what)
                    : portValues(*values, readSwitchRow(handle, selection, row), what);
            check(row.set(handle, states.data(), static_cast<unsigned>(states.size())), what);
        });
    set->add_option("values", *values, "LIST or PORT=STATE ...")->required()->type_name("VALUES");
}

}  // namespace qrtctl
