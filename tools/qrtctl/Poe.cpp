// qrtctl poe: port enables, protection temperatures, power-consumption calculation mode and
// the card-wide and per-port properties with their units.

#include <cstdio>
#include <memory>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

const PoeProperty kPoeCardProperties[7] = {
    {QRT_POE_PROP_STATE_FLAG0, "state_flag0", "bit 0 of the card microcontroller's state", 0},
    {QRT_POE_PROP_STATE_FLAG1, "state_flag1", "bit 1 of the card microcontroller's state", 0},
    {QRT_POE_PROP_STATE_FLAG5_CLEAR, "state_flag5_clear", "bit 5 of the state is clear", 0},
    {QRT_POE_PROP_TEMPERATURE, "temperature_celsius", "card temperature", 1},
    {QRT_POE_PROP_CONSUMED_BUDGET, "consumed_budget_watts", "PoE power budget in use", 1},
    {QRT_POE_PROP_LEFT_BUDGET, "left_budget_watts", "PoE power budget left", 1},
    {QRT_POE_PROP_TOTAL_BUDGET, "total_budget_watts", "PoE power budget of the power input", 1},
};

const PoeProperty kPoePortProperties[5] = {
    {QRT_POEPORT_PROP_CURRENT, "current_amperes", "PSE output current", 3},
    {QRT_POEPORT_PROP_VOLTAGE, "voltage_volts", "PSE output voltage", 3},
    {QRT_POEPORT_PROP_POWER_CLASS, "power_class",
     "detected power class (-1 unknown, -2 nothing detected)", 0},
    {QRT_POEPORT_PROP_POWER_GOOD, "power_good", "power good (1) or not (0)", 0},
    {QRT_POEPORT_PROP_LAST_STATE, "last_state", "last state code of the port", 0},
};

namespace {

const SwitchRow kPortEnables{
    "PoE port enables",  "port", "ports", QRT_PoEGetPortNums, QRT_PoEGetPortEnable,
    QRT_PoESetPortEnable};

// A property as JSON (rounded to what is printed) and as text; null and "-" when the
// product does not support it.
void addProperty(const PoeProperty& property, int status, float value, const std::string& what,
                 Json* doc, std::string* text) {
    bool read = readable(status, what + " " + property.key);
    std::string shown = read ? decimal(value, property.digits) : "-";
    (*doc)[property.key] = read ? Json(std::stod(shown)) : Json();
    *text += shown;
}

void status(const Selection& selection) {
    void* handle = selection.handle();
    std::string what = selection.name() + ": PoE";
    unsigned n = 0;
    check(QRT_PoEGetPortNums(handle, &n), what + " port count");
    // Cards that cannot read their enables back still report their other values.
    std::vector<int> enables(n);
    bool enablesRead =
        n == 0 || readable(QRT_PoEGetPortEnable(handle, enables.data(), n), what + " port enables");
    Json card = Json::object(), ports = Json::array();
    std::string text;
    for (const PoeProperty& property : kPoeCardProperties) {
        float value = 0;
        text += std::string(property.key) + ": ";
        int read =
            QRT_PoEGetProperty(handle, static_cast<QRT_POEPROPERTY_TYPE>(property.number), &value);
        addProperty(property, read, value, what, &card, &text);
        text += "\n";
    }
    text += "port enabled";
    for (const PoeProperty& property : kPoePortProperties) text += std::string(" ") + property.key;
    text += "\n";
    for (unsigned port = 0; port < n; ++port) {
        Json entry{{"port", port}, {"enabled", enablesRead ? Json(enables[port]) : Json()}};
        text += std::to_string(port) + " " + (enablesRead ? switchName(enables[port]) : "-");
        for (const PoeProperty& property : kPoePortProperties) {
            float value = 0;
            text += " ";
            int read = QRT_PoEGetPortProperty(
                handle, port, static_cast<QRT_POEPORTPROPERTY_TYPE>(property.number), &value);
            addProperty(property, read, value, what + " port " + std::to_string(port), &entry,
                        &text);
        }
        text += "\n";
        ports.push_back(entry);
    }
    emit(selection, Json{{"product", selection.product}, {"card", card}, {"ports", ports}}, text);
}

void addProtectTemperatures(CLI::App& poe) {
    auto values = std::make_shared<std::vector<std::string>>();
    CLI::App* command = addCommand(
        poe, "protect-temp",
        "Print or set the protection temperature (the PoE ports switch off above it) and the "
        "recovery temperature (they switch on again below it), in degrees Celsius",
        [values](const Selection& selection) {
            void* handle = selection.handle();
            std::string what = selection.name() + ": PoE protection temperatures";
            if (values->size() == 2) {
                check(QRT_PoESetProtectTempRange(
                          handle,
                          static_cast<int>(parseInteger((*values)[0], -1000, 1000, "protect")),
                          static_cast<int>(parseInteger((*values)[1], -1000, 1000, "recover"))),
                      what);
                return;
            }
            if (!values->empty()) throw UsageError("give both PROTECT and RECOVER, or neither");
            int protect = 0, recover = 0;
            check(QRT_PoEGetProtectTempRange(handle, &protect, &recover), what);
            emit(selection,
                 Json{{"product", selection.product},
                      {"protect_celsius", protect},
                      {"recover_celsius", recover}},
                 "protect: " + std::to_string(protect) + " C\nrecover: " + std::to_string(recover) +
                     " C\n");
        });
    command->add_option("temperatures", *values, "PROTECT RECOVER")
        ->expected(0, 2)
        ->type_name("PROTECT RECOVER");
}

}  // namespace

void addPoeCommands(CLI::App& app) {
    CLI::App* poe =
        app.add_subcommand("poe", "Power over Ethernet of the PoE cards and the embedded system");
    poe->require_subcommand(1);
    addSwitchRowCommands(*poe, kPortEnables);
    addCommand(*poe, "status",
               "Print the card's temperature, power budgets and state flags and every port's "
               "enable, current, voltage, power class, power good and last state",
               status);
    addSetting<int>(*poe, {"calc-mode",
                           "Print or set the power-consumption calculation mode",
                           "MODE",
                           Index::None,
                           "",
                           kIntegerValue,
                           {wholeGet<int, QRT_PoEGetPowConsumCalcModel>,
                            wholeSet<int, QRT_PoESetPowConsumCalcModel>, nullptr},
                           {}});
    addProtectTemperatures(*poe);
}

}  // namespace qrtctl
