// qrtctl toe: trigger over Ethernet of the Pro cards: GigE Vision action commands stored in
// and fired by the card, the trigger settings and the trigger counters.

#include <cstdio>
#include <memory>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

// The trigger's switches and its source: whole-word settings of the card's CPLD.
const std::vector<Setting<int>>& toeFlags() {
    // clang-format off
    static const std::vector<Setting<int>> flags = {
        {"enable", "Print or switch the trigger", "on|off", Index::None, "", kSwitchValue,
         {wholeGet<int, QRT_ToEGetTriggerEnable>, wholeSet<int, QRT_ToESetTriggerEnable>, nullptr}, {}},
        {"source", "Print or set the trigger source (0 or 1)", "SOURCE", Index::None, "", kIntegerValue,
         {wholeGet<int, QRT_ToEGetTriggerSource>, wholeSet<int, QRT_ToESetTriggerSource>, nullptr}, {}},
        {"one-trigger-all", "Print or switch one-trigger-all mode (one trigger fires every port)", "on|off",
         Index::None, "", kSwitchValue,
         {wholeGet<int, QRT_ToEGetOneTriggerAllMode>, wholeSet<int, QRT_ToESetOneTriggerAllMode>, nullptr}, {}},
    };
    // clang-format on
    return flags;
}

// A card whose trigger fires on neither edge (both edge flags clear, as on a fresh Pro card)
// answers the activation with QRT_ERR_FAILED and no value. Its trigger enable is a bit of the
// same CPLD control word: when that reads, the word could be read and the failure was this
// state, reported as kNoEdge ("none"); otherwise the failure stands.
int readActivation(void* handle, unsigned, QRT_EDGETRIGGER_TYPE* edge) {
    const int status = QRT_ToEGetTriggerActivation(handle, edge);
    int enable = 0;
    if (status != QRT_ERR_FAILED || QRT_ToEGetTriggerEnable(handle, &enable) != QRT_SUCCESS)
        return status;
    *edge = static_cast<QRT_EDGETRIGGER_TYPE>(kNoEdge);
    return QRT_SUCCESS;
}

std::string hex32(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", value);
    return text;
}

unsigned portCount(void* handle, const Selection& selection) {
    unsigned n = 0;
    check(QRT_ToEGetPortNums(handle, &n), selection.name() + ": ToE port count");
    return n;
}

// The two trigger counts of the ports (one port when `port` is given).
void counters(const Selection& selection, const std::string& portText) {
    void* handle = selection.handle();
    std::vector<unsigned> ports;
    if (!portText.empty())
        ports.push_back(static_cast<unsigned>(parseUnsigned(portText, 0xFFFFFFFFul, "port")));
    else
        for (unsigned p = 0, n = portCount(handle, selection); p < n; ++p) ports.push_back(p);
    Json list = Json::array();
    std::string text;
    for (unsigned port : ports) {
        unsigned first = 0, second = 0;
        check(QRT_ToEGetTriggerCount(handle, port, &first, &second),
              selection.name() + ": ToE trigger count of port " + std::to_string(port));
        list.push_back({{"port", port}, {"first", first}, {"second", second}});
        text += "port " + std::to_string(port) + ": " + std::to_string(first) + " " +
                std::to_string(second) + "\n";
    }
    emit(selection, Json{{"product", selection.product}, {"counters", list}}, text);
}

// Everything at once; values the product cannot read are left out.
void status(const Selection& selection) {
    void* handle = selection.handle();
    std::string what = selection.name() + ": ToE ";
    unsigned ports = portCount(handle, selection);
    Json doc{{"product", selection.product}, {"ports", ports}};
    std::string text = "ports: " + std::to_string(ports) + "\n";
    for (const Setting<int>& flag : toeFlags()) {
        int value = 0;
        if (readable(flag.inputs.get(handle, 0, &value), what + flag.name)) {
            doc[key(flag.name)] = value;
            text += std::string(flag.name) + ": " + flag.format.text(value) + "\n";
        }
    }
    QRT_EDGETRIGGER_TYPE edge = QRT_EDGE_TRIGGER_EDGE0;
    if (readable(readActivation(handle, 0, &edge), what + "activation")) {
        doc["activation"] = edgeName(edge);
        text += std::string("activation: ") + edgeName(edge) + "\n";
    }
    unsigned long debounce = 0, unit = 0;
    if (readable(QRT_ToEGetExTriggerDebounce(handle, &debounce), what + "debounce") &&
        readable(QRT_ToEGetExTriggerDebounceUnit(handle, &unit), what + "debounce unit")) {
        doc["debounce"] = debounce;
        doc["debounce_unit"] = unit;
        text += "debounce: " + std::to_string(debounce) + " (unit " + std::to_string(unit) + ")\n";
    }
    Json commands = Json::array();
    for (unsigned port = 0; port < ports; ++port) {
        unsigned long device = 0, group = 0, mask = 0;
        unsigned first = 0, second = 0;
        Json entry{{"port", port}};
        text += "port " + std::to_string(port) + ":";
        if (readable(QRT_ToEGetActionCommand(handle, port, &device, &group, &mask),
                     what + "action command of port " + std::to_string(port))) {
            entry["device_key"] = device;
            entry["group_key"] = group;
            entry["group_mask"] = mask;
            text += " device key " + hex32(device) + ", group key " + hex32(group) +
                    ", group mask " + hex32(mask) + ";";
        }
        if (readable(QRT_ToEGetTriggerCount(handle, port, &first, &second),
                     what + "trigger count of port " + std::to_string(port))) {
            entry["counters"] = {first, second};
            text += " counters " + std::to_string(first) + " " + std::to_string(second);
        }
        text += "\n";
        commands.push_back(entry);
    }
    doc["port_settings"] = commands;
    emit(selection, doc, text);
}

void addActionCommand(CLI::App& toe) {
    auto args = std::make_shared<std::vector<std::string>>();
    CLI::App* command = addCommand(
        toe, "command",
        "Print the action command stored for a port, or store one: the device key, group key "
        "and group mask the cameras match (32 bits each)",
        [args](const Selection& selection) {
            if (args->size() != 1 && args->size() != 4)
                throw UsageError("give PORT, or PORT DEVICE_KEY GROUP_KEY GROUP_MASK");
            unsigned port = static_cast<unsigned>(parseUnsigned((*args)[0], 0xFFFFFFFFul, "port"));
            void* handle = selection.handle();
            std::string what = selection.name() + ": ToE action command of port " + (*args)[0];
            if (args->size() == 4) {
                check(QRT_ToESetActionCommand(
                          handle, port, parseUnsigned((*args)[1], 0xFFFFFFFFul, "device key"),
                          parseUnsigned((*args)[2], 0xFFFFFFFFul, "group key"),
                          parseUnsigned((*args)[3], 0xFFFFFFFFul, "group mask")),
                      what);
                return;
            }
            unsigned long device = 0, group = 0, mask = 0;
            check(QRT_ToEGetActionCommand(handle, port, &device, &group, &mask), what);
            emit(selection,
                 Json{{"product", selection.product},
                      {"port", port},
                      {"device_key", device},
                      {"group_key", group},
                      {"group_mask", mask}},
                 "device key: " + hex32(device) + "\ngroup key: " + hex32(group) +
                     "\ngroup mask: " + hex32(mask) + "\n");
        });
    command->add_option("args", *args, "PORT [DEVICE_KEY GROUP_KEY GROUP_MASK]")
        ->required()
        ->expected(1, 4)
        ->type_name("PORT [KEYS]");
}

}  // namespace

void addToeCommands(CLI::App& app) {
    CLI::App* toe = app.add_subcommand("toe", "Trigger over Ethernet of the Pro cards");
    toe->require_subcommand(1);
    addCommand(*toe, "status", "Print every trigger setting, action command and counter", status);

    auto sendPort = std::make_shared<std::string>();
    addCommand(*toe, "send", "Fire the stored action command out of one port, or of all",
               [sendPort](const Selection& selection) {
                   int port = *sendPort == "all"
                                  ? -1
                                  : static_cast<int>(parseUnsigned(*sendPort, 0x7FFFFFFF, "port"));
                   check(QRT_ToESendActionCommand(selection.handle(), port),
                         selection.name() + ": ToE send on port " + *sendPort);
               })
        ->add_option("port", *sendPort, "a port number, or all")
        ->required()
        ->type_name("PORT|all");
    addActionCommand(*toe);

    for (const Setting<int>& flag : toeFlags()) addSetting(*toe, flag);
    addSetting<QRT_EDGETRIGGER_TYPE>(
        *toe,
        {"activation",
         "Print or set the trigger activation edge (read as none while the trigger "
         "fires on neither edge)",
         "edge0|edge1|both",
         Index::None,
         "",
         kEdgeValue,
         {readActivation, wholeSet<QRT_EDGETRIGGER_TYPE, QRT_ToESetTriggerActivation>, nullptr},
         {}});
    addSetting<unsigned long>(
        *toe,
        {"debounce",
         "Print or set the external trigger debounce, in counts of the unit printed",
         "COUNT",
         Index::None,
         "",
         kCountValue,
         {wholeGet<unsigned long, QRT_ToEGetExTriggerDebounce>,
          wholeSet<unsigned long, QRT_ToESetExTriggerDebounce>, QRT_ToEGetExTriggerDebounceUnit},
         {}});

    auto counterPort = std::make_shared<std::string>();
    addCommand(*toe, "counters", "Print the two trigger counters of every port (or of PORT)",
               [counterPort](const Selection& selection) { counters(selection, *counterPort); })
        ->add_option("port", *counterPort, "one port")
        ->type_name("PORT");
    addCommand(*toe, "reset-counters", "Clear the trigger counters of every port",
               [](const Selection& selection) {
                   check(QRT_ToEResetTriggerCount(selection.handle()),
                         selection.name() + ": ToE counter reset");
               });
}

}  // namespace qrtctl
