// qrtctl dio: digital inputs and outputs: capabilities, states, trigger settings, output
// mapping, and `dio monitor`, which prints input events as the SDK's trigger callback
// reports them.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

unsigned lineCount(void* handle, const Selection& selection, bool outputs) {
    unsigned n = 0;
    check((outputs ? QRT_DIOGetDONums : QRT_DIOGetDINums)(handle, &n),
          selection.name() + (outputs ? ": DO count" : ": DI count"));
    return n;
}

template <class T>
Json capabilityList(int (*get)(void*, unsigned, T*, unsigned), void* handle, unsigned line) {
    T caps[16];
    int n = get(handle, line, caps, 16);
    Json list = Json::array();
    for (int i = 0; i < n && i < 16; ++i) list.push_back(static_cast<int>(caps[i]));
    return list;
}

void info(const Selection& selection) {
    void* handle = selection.handle();
    std::string what = selection.name() + ": DIO ";
    QRT_DIOCAPABILITY_TYPE caps[4];
    int n = QRT_DIOGetCapability(handle, caps, 4);
    if (n < 0) check(n, what + "capabilities");
    Json block = Json::array();
    for (int i = 0; i < n && i < 4; ++i) block.push_back(caps[i] == QRT_DIO_CAP_DI ? "di" : "do");
    unsigned inputs = lineCount(handle, selection, false),
             outputs = lineCount(handle, selection, true);
    Json doc{{"product", selection.product},
             {"capabilities", block},
             {"inputs", inputs},
             {"outputs", outputs}};
    std::string text = "capabilities: " + block.dump() + "\ninputs: " + std::to_string(inputs) +
                       "\noutputs: " + std::to_string(outputs) + "\n";
    Json lines = Json::object();
    for (unsigned di = 0; di < inputs; ++di)
        lines["di" + std::to_string(di)] = capabilityList(QRT_DIOGetDICapability, handle, di);
    for (unsigned dout = 0; dout < outputs; ++dout)
        lines["do" + std::to_string(dout)] = capabilityList(QRT_DIOGetDOCapability, handle, dout);
    for (const auto& [line, list] : lines.items())
        text += line + " capabilities: " + list.dump() + "\n";
    doc["line_capabilities"] = lines;
    const struct {
        const char* key;
        int (*get)(void*, unsigned long*);
    } units[] = {{"di_debounce_unit", QRT_DIOGetDIDebounceTimeUnit},
                 {"di_pulse_width_unit", QRT_DIOGetDITriggerPulseWidthUnit},
                 {"do_delay_unit", QRT_DIOGetDOTriggerDelayUnit},
                 {"do_pulse_width_unit", QRT_DIOGetDOTriggerPulseWidthUnit}};
    for (const auto& unit : units) {
        unsigned long value = 0;
        if (readable(unit.get(handle, &value), what + unit.key)) {
            doc[unit.key] = value;
            text += std::string(unit.key) + ": " + std::to_string(value) + "\n";
        }
    }
    emit(selection, doc, text);
}

// Whether every output can be read back, so that one call reads them all.
bool allOutputsReadBack(void* handle, unsigned outputs) {
    for (unsigned dout = 0; dout < outputs; ++dout) {
        Json caps = capabilityList(QRT_DIOGetDOCapability, handle, dout);
        if (std::find(caps.begin(), caps.end(), Json(QRT_DO_CAP_READBACK)) == caps.end())
            return false;
    }
    return true;
}

void getStates(const Selection& selection, const std::vector<std::string>& args) {
    void* handle = selection.handle();
    Json states = Json::object();
    std::string text;
    auto add = [&](const std::string& name, int state) {
        states[name] = state;
        text += name + ": " + std::to_string(state) + "\n";
    };
    if (args.empty()) {
        // Every input, and every output that can be read back.
        unsigned inputs = lineCount(handle, selection, false),
                 outputs = lineCount(handle, selection, true);
        std::vector<int> values(std::max(inputs, outputs));
        if (inputs > 0)
            check(QRT_DIOGetDIStates(handle, values.data(), inputs),
                  selection.name() + ": DI states");
        for (unsigned di = 0; di < inputs; ++di) add("di" + std::to_string(di), values[di]);
        if (allOutputsReadBack(handle, outputs)) {
            if (outputs > 0)
                check(QRT_DIOGetDOStates(handle, values.data(), outputs),
                      selection.name() + ": DO states");
            for (unsigned dout = 0; dout < outputs; ++dout)
                add("do" + std::to_string(dout), values[dout]);
        } else {
            for (unsigned dout = 0; dout < outputs; ++dout) {
                int state = 0;
                if (readable(QRT_DIOGetDOState(handle, dout, &state),
                             selection.name() + ": do" + std::to_string(dout)))
                    add("do" + std::to_string(dout), state);
            }
        }
    }
    for (const std::string& arg : args) {
        Line line = parseLine(arg);
        int state = 0;
        check((line.output ? QRT_DIOGetDOState : QRT_DIOGetDIState)(handle, line.index, &state),
              selection.name() + ": " + lineName(line));
        add(lineName(line), state);
    }
    emit(selection, Json{{"product", selection.product}, {"states", states}}, text);
}

void setStates(const Selection& selection, const std::vector<std::string>& args) {
    void* handle = selection.handle();
    if (isValueList(args)) {
        std::vector<int> states = portValues(args, {}, "");
        check(QRT_DIOSetDOStates(handle, states.data(), static_cast<unsigned>(states.size())),
              selection.name() + ": DO states");
        return;
    }
    // Parse every assignment before the first one is written.
    std::vector<std::pair<Line, int>> assignments;
    for (const std::string& arg : args) {
        size_t eq = arg.find('=');
        if (eq == std::string::npos)
            throw UsageError("'" + arg + "': give one list or do<N>=STATE assignments");
        Line line = parseLine(arg.substr(0, eq));
        if (!line.output) throw UsageError("'" + arg + "': inputs cannot be set");
        assignments.emplace_back(line, parseSwitch(arg.substr(eq + 1), "state"));
    }
    for (const auto& [line, state] : assignments)
        check(QRT_DIOSetDOState(handle, line.index, state),
              selection.name() + ": " + lineName(line));
}

void triggerOutputs(const Selection& selection, const std::vector<std::string>& args) {
    std::vector<unsigned> outputs;
    for (const std::string& arg : args) {
        bool bare = !arg.empty() && std::isdigit(static_cast<unsigned char>(arg[0]));
        Line line =
            bare ? Line{true, static_cast<unsigned>(parseUnsigned(arg, 0xFFFFFFFFul, "output"))}
                 : parseLine(arg);
        if (!line.output) throw UsageError("'" + arg + "': only outputs can be triggered");
        outputs.push_back(line.index);
    }
    void* handle = selection.handle();
    std::string what = selection.name() + ": trigger outputs";
    if (outputs.size() == 1)
        check(QRT_DIOTriggerDO(handle, outputs[0]), what);
    else
        check(QRT_DIOTriggerDOs(handle, outputs.data(), static_cast<unsigned>(outputs.size())),
              what);
}

// Input-to-output mapping of triggers. One-to-one: entry i of the table is the output input i
// triggers. One-to-many: the outputs one input triggers.
void mapping(const Selection& selection, const std::vector<std::string>& args, bool multiple) {
    void* handle = selection.handle();
    std::string what =
        selection.name() + (multiple ? ": trigger mapping of one input" : ": trigger mapping");
    unsigned input = 0;
    size_t next = 0;
    if (multiple) {
        if (args.empty()) throw UsageError("give DI, and to change it, the list of outputs");
        input = static_cast<unsigned>(parseUnsigned(args[0], 0xFFFFFFFFul, "input"));
        next = 1;
    }
    if (args.size() > next + 1) throw UsageError("give the outputs as one comma-separated list");
    if (args.size() == next + 1) {
        std::vector<unsigned> table = parseUnsignedList(args[next], "output");
        auto n = static_cast<unsigned>(table.size());
        check(multiple ? QRT_DIOSetTrigger1vsMultipleMappingTable(handle, input, table.data(), n)
                       : QRT_DIOSetTrigger1vs1MappingTable(handle, table.data(), n),
              what);
        return;
    }
    std::vector<unsigned> table(lineCount(handle, selection, multiple));
    auto n = static_cast<unsigned>(table.size());
    check(multiple ? QRT_DIOGetTrigger1vsMultipleMappingTable(handle, input, table.data(), n)
                   : QRT_DIOGetTrigger1vs1MappingTable(handle, table.data(), n),
          what);
    std::string text;
    for (unsigned value : table) text += (text.empty() ? "" : ",") + std::to_string(value);
    Json doc{{"product", selection.product}};
    if (multiple) doc["input"] = input;
    doc["table"] = table;
    emit(selection, doc, text + "\n");
}

// ---- dio monitor ----------------------------------------------------------------------------

// The callback runs on the SDK's monitor thread and the signal handler anywhere: both only
// write a record into this pipe, which the command's own thread reads and prints.
int g_events[2] = {-1, -1};

struct Event {
    unsigned input;
    int state;
    bool stop;
};

void onInputChange(unsigned input, int state) {
    Event event{input, state, false};
    ssize_t ignored = write(g_events[1], &event, sizeof event);
    (void)ignored;
}

void onStopSignal(int) {
    Event event{0, 0, true};
    ssize_t ignored = write(g_events[1], &event, sizeof event);
    (void)ignored;
}

void monitor(const Selection& selection, const std::string& countText,
             const std::string& timeoutText) {
    unsigned long count = countText.empty() ? 0 : parseUnsigned(countText, 0xFFFFFFFFul, "count");
    unsigned long timeout =
        timeoutText.empty() ? 0 : parseUnsigned(timeoutText, 86400ul * 365, "timeout");
    void* handle = selection.handle();
    if (pipe(g_events) != 0)
        throw SdkError(selection.name() + ": DIO monitor pipe", QRT_ERR_FAILED);
    struct sigaction stop = {}, oldInt = {}, oldTerm = {};
    stop.sa_handler = onStopSignal;
    sigaction(SIGINT, &stop, &oldInt);
    sigaction(SIGTERM, &stop, &oldTerm);
    int status = QRT_DIOSetDITriggerCallback(handle, onInputChange);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    for (unsigned long seen = 0; status == QRT_SUCCESS && (count == 0 || seen < count);) {
        int waitMs = -1;
        if (timeout > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1000));
        }
        pollfd fd{g_events[0], POLLIN, 0};
        if (poll(&fd, 1, waitMs) <= 0) continue;
        Event event{};
        if (read(g_events[0], &event, sizeof event) != static_cast<ssize_t>(sizeof event) ||
            event.stop)
            break;
        ++seen;
        emit(selection,
             Json{{"product", selection.product}, {"input", event.input}, {"state", event.state}},
             "di" + std::to_string(event.input) + ": " + std::to_string(event.state) + "\n");
        std::fflush(stdout);
    }
    // Unregistering stops and joins the monitor thread; only then can the pipe go.
    if (status == QRT_SUCCESS) status = QRT_DIOSetDITriggerCallback(handle, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    close(g_events[0]);
    close(g_events[1]);
    check(status, selection.name() + ": DIO trigger callback");
}

template <class T>
Accessor<T> none() {
    return {nullptr, nullptr, nullptr};
}

}  // namespace

void addDioCommands(CLI::App& app) {
    CLI::App* dio = app.add_subcommand("dio", "Digital inputs (di<N>) and outputs (do<N>)");
    dio->require_subcommand(1);
    addCommand(*dio, "info", "Print the capabilities of the block and of every line, and the units",
               info);

    auto getArgs = std::make_shared<std::vector<std::string>>();
    addCommand(*dio, "get", "Print the state of the lines named (di0 do1 ...), or of every line",
               [getArgs](const Selection& selection) { getStates(selection, *getArgs); })
        ->add_option("lines", *getArgs, "di<N> or do<N> ...")
        ->type_name("LINE");
    auto setArgs = std::make_shared<std::vector<std::string>>();
    addCommand(*dio, "set",
               "Set outputs: do<N>=STATE assignments, or one list of every output's state",
               [setArgs](const Selection& selection) { setStates(selection, *setArgs); })
        ->add_option("values", *setArgs, "do0=on do1=off ..., or 1,0,...")
        ->required()
        ->type_name("VALUES");
    auto triggerArgs = std::make_shared<std::vector<std::string>>();
    addCommand(
        *dio, "trigger", "Fire a trigger pulse on the outputs named",
        [triggerArgs](const Selection& selection) { triggerOutputs(selection, *triggerArgs); })
        ->add_option("outputs", *triggerArgs, "do<N> ...")
        ->required()
        ->type_name("DO");

    addSetting<QRT_EDGETRIGGER_TYPE>(*dio,
                                     {"edge",
                                      "Print or set the edge an input triggers on",
                                      "edge0|edge1|both",
                                      Index::Line,
                                      "LINE",
                                      kEdgeValue,
                                      {QRT_DIOGetDIEdgeTrigger, QRT_DIOSetDIEdgeTrigger, nullptr},
                                      none<QRT_EDGETRIGGER_TYPE>()});
    addSetting<unsigned long>(
        *dio, {"debounce",
               "Print or set an input's debounce time, in counts of the unit printed",
               "COUNT",
               Index::Line,
               "LINE",
               kCountValue,
               {QRT_DIOGetDIDebounceTime, QRT_DIOSetDIDebounceTime, QRT_DIOGetDIDebounceTimeUnit},
               none<unsigned long>()});
    addSetting<int>(*dio, {"invert",
                           "Print or switch the inversion of an output",
                           "on|off",
                           Index::Line,
                           "LINE",
                           kSwitchValue,
                           none<int>(),
                           {QRT_DIOGetDOInvertState, QRT_DIOSetDOInvertState, nullptr}});
    addSetting<unsigned>(*dio, {"trigger-enable",
                                "Print or switch the trigger of a line",
                                "on|off",
                                Index::Line,
                                "LINE",
                                kUnsignedSwitchValue,
                                {QRT_DIOGetDITriggerEnable, QRT_DIOSetDITriggerEnable, nullptr},
                                {QRT_DIOGetDOTriggerEnable, QRT_DIOSetDOTriggerEnable, nullptr}});
    addSetting<unsigned long>(
        *dio, {"pulse-width",
               "Print or set the trigger pulse width of a line, in counts of the unit printed",
               "COUNT",
               Index::Line,
               "LINE",
               kCountValue,
               {QRT_DIOGetDITriggerPulseWidth, QRT_DIOSetDITriggerPulseWidth,
                QRT_DIOGetDITriggerPulseWidthUnit},
               {QRT_DIOGetDOTriggerPulseWidth, QRT_DIOSetDOTriggerPulseWidth,
                QRT_DIOGetDOTriggerPulseWidthUnit}});
    addSetting<unsigned long>(
        *dio, {"delay",
               "Print or set an output's trigger delay, in counts of the unit printed",
               "COUNT",
               Index::Line,
               "LINE",
               kCountValue,
               none<unsigned long>(),
               {QRT_DIOGetDOTriggerDelay, QRT_DIOSetDOTriggerDelay, QRT_DIOGetDOTriggerDelayUnit}});

    auto mapArgs = std::make_shared<std::vector<std::string>>();
    addCommand(*dio, "map",
               "Print or set which output each input triggers (one list, entry per input)",
               [mapArgs](const Selection& selection) { mapping(selection, *mapArgs, false); })
        ->add_option("table", *mapArgs, "DO,DO,...")
        ->type_name("TABLE");
    auto multiArgs = std::make_shared<std::vector<std::string>>();
    addCommand(*dio, "map-multi", "Print or set the outputs one input triggers",
               [multiArgs](const Selection& selection) { mapping(selection, *multiArgs, true); })
        ->add_option("args", *multiArgs, "DI [DO,DO,...]")
        ->required()
        ->type_name("DI [OUTPUTS]");

    auto count = std::make_shared<std::string>(), timeout = std::make_shared<std::string>();
    CLI::App* watch = addCommand(
        *dio, "monitor",
        "Print input events (di<N>: state) as they arrive, until interrupted, --count events or "
        "--timeout",
        [count, timeout](const Selection& selection) { monitor(selection, *count, *timeout); });
    watch->add_option("-n,--count", *count, "end after N events")->type_name("N");
    watch->add_option("-t,--timeout", *timeout, "end after SECONDS")->type_name("SECONDS");
}

}  // namespace qrtctl
