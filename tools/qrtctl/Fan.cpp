// qrtctl fan: speed, PWM duty and automatic (smart) control of the cards' fans.

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

void status(const Selection& selection) {
    void* handle = selection.handle();
    unsigned fans = 0;
    check(QRT_FanGetNums(handle, &fans), selection.name() + ": fan count");
    Json list = Json::array();
    std::string text;
    for (unsigned fan = 0; fan < fans; ++fan) {
        std::string what = selection.name() + ": fan " + std::to_string(fan);
        Json entry{{"fan", fan}};
        text += "fan " + std::to_string(fan) + ":";
        unsigned rpm = 0;
        int duty = 0, smart = 0;
        if (readable(QRT_FanGetSpeed(handle, fan, &rpm), what + " speed")) {
            entry["rpm"] = rpm;
            text += " " + std::to_string(rpm) + " rpm";
        }
        if (readable(QRT_FanGetPWM(handle, fan, &duty), what + " PWM")) {
            entry["pwm"] = duty;
            text += ", PWM " + std::to_string(duty);
        }
        if (readable(QRT_FanGetSmartFanEnable(handle, fan, &smart), what + " smart control")) {
            entry["smart"] = smart;
            text += std::string(", smart ") + switchName(smart);
        }
        list.push_back(entry);
        text += "\n";
    }
    emit(selection, Json{{"product", selection.product}, {"fans", list}}, text);
}

}  // namespace

void addFanCommands(CLI::App& app) {
    CLI::App* fan = app.add_subcommand("fan", "Fans");
    fan->require_subcommand(1);
    addCommand(*fan, "status", "Print every fan's speed, PWM duty and smart control", status);
    addSetting<int>(*fan, {"pwm",
                           "Print or set a fan's PWM duty",
                           "DUTY",
                           Index::Number,
                           "FAN",
                           kIntegerValue,
                           {QRT_FanGetPWM, QRT_FanSetPWM, nullptr},
                           {}});
    addSetting<int>(*fan, {"smart",
                           "Print or switch a fan's automatic (smart) speed control",
                           "on|off",
                           Index::Number,
                           "FAN",
                           kSwitchValue,
                           {QRT_FanGetSmartFanEnable, QRT_FanSetSmartFanEnable, nullptr},
                           {}});
}

}  // namespace qrtctl
