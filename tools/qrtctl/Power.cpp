// qrtctl power, qrtctl exsupply: USB port power and the external power supply inputs.

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

void addPowerCommands(CLI::App& app) {
    CLI::App* power = app.add_subcommand("power", "USB port power of the USB3 cards");
    power->require_subcommand(1);
    addSwitchRowCommands(*power, {"port power", "port", "ports", QRT_PowCtrlGetPortNums,
                                  QRT_PowCtrlGetPortEnable, QRT_PowCtrlSetPortEnable});
}

void addExSupplyCommands(CLI::App& app) {
    CLI::App* supply = app.add_subcommand("exsupply", "External power supply inputs");
    supply->require_subcommand(1);
    addSwitchRowCommands(*supply, {"external supply state", "supply", "supplies",
                                   QRT_ExPowSupGetNums, QRT_ExPowSupGetState, nullptr});
}

}  // namespace qrtctl
