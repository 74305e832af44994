// qrtctl: looks at and drives the products the QRT SDK finds.

#include <memory>

#include "tools/qrtctl/Commands.h"

int main(int argc, char** argv) {
    CLI::App app{
        "Looks at and drives the QRT products of this computer: PoE and USB3 cards, the "
        "embedded vision system.\nExit status: 0 done; 1 an SDK call failed (the message names "
        "its status); 2 a wrong command line.",
        "qrtctl"};
    // Set before the commands are added: each command takes its parent's formatter.
    app.formatter(std::make_shared<qrtctl::HelpFormatter>());
    app.set_version_flag("--version", "qrtctl 1.7.7");
    app.set_help_all_flag("--help-all", "print the help of every command");
    app.require_subcommand(1);
    qrtctl::addProductCommands(app);
    qrtctl::addPowerCommands(app);
    qrtctl::addExSupplyCommands(app);
    qrtctl::addPoeCommands(app);
    qrtctl::addToeCommands(app);
    qrtctl::addFanCommands(app);
    qrtctl::addDioCommands(app);
    qrtctl::addMetricsCommand(app);
    return qrtctl::run(app, argc, argv);
}
