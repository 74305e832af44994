#include "tools/common/ProductReading.h"

#include <chrono>
#include <sstream>

namespace qrtmetrics {

namespace {

double unixNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// The card-wide PoE properties, in the C API's numbering.
const struct {
    QRT_POEPROPERTY_TYPE property;
    Metric metric;
    const char* what;
} kPoeCardProperties[] = {
    {QRT_POE_PROP_STATE_FLAG0, Metric::PoeStateFlag0, "PoE state flag 0"},
    {QRT_POE_PROP_STATE_FLAG1, Metric::PoeStateFlag1, "PoE state flag 1"},
    {QRT_POE_PROP_STATE_FLAG5_CLEAR, Metric::PoeStateFlag5Clear, "PoE state flag 5"},
    {QRT_POE_PROP_TEMPERATURE, Metric::PoeTemperature, "PoE temperature"},
    {QRT_POE_PROP_CONSUMED_BUDGET, Metric::PoeConsumedBudget, "PoE consumed budget"},
    {QRT_POE_PROP_LEFT_BUDGET, Metric::PoeLeftBudget, "PoE budget left"},
    {QRT_POE_PROP_TOTAL_BUDGET, Metric::PoeTotalBudget, "PoE total budget"},
};

const struct {
    QRT_POEPORTPROPERTY_TYPE property;
    Metric metric;
    const char* what;
} kPoePortProperties[] = {
    {QRT_POEPORT_PROP_CURRENT, Metric::PoePortCurrent, "current"},
    {QRT_POEPORT_PROP_VOLTAGE, Metric::PoePortVoltage, "voltage"},
    {QRT_POEPORT_PROP_POWER_CLASS, Metric::PoePortPowerClass, "power class"},
    {QRT_POEPORT_PROP_POWER_GOOD, Metric::PoePortPowerGood, "power good"},
    {QRT_POEPORT_PROP_LAST_STATE, Metric::PoePortLastPowerState, "last power state"},
};

// A row of on/off states that the C API reads as a whole.
struct SwitchRow {
    Metric metric;
    const char* label;
    const char* what;
    int (*count)(void* handle, unsigned* n);
    int (*get)(void* handle, int* states, unsigned n);
};
const SwitchRow kPoePortEnables{Metric::PoePortEnabled, "port", "PoE port enables",
                                QRT_PoEGetPortNums, QRT_PoEGetPortEnable};
const SwitchRow kUsbPortPower{Metric::UsbPortPowerEnabled, "port", "USB port power",
                              QRT_PowCtrlGetPortNums, QRT_PowCtrlGetPortEnable};
const SwitchRow kExternalSupplies{Metric::ExternalSupplyConnected, "supply",
                                  "external supply states", QRT_ExPowSupGetNums,
                                  QRT_ExPowSupGetState};

// One lines' state at a time: lines may differ in what they can read back.
struct LineStates {
    Metric metric;
    const char* what;
    int (*count)(void* handle, unsigned* n);
    int (*get)(void* handle, unsigned line, int* state);
};
const LineStates kDioLines[] = {
    {Metric::DioInputState, "DI", QRT_DIOGetDINums, QRT_DIOGetDIState},
    {Metric::DioOutputState, "DO", QRT_DIOGetDONums, QRT_DIOGetDOState},
};

std::string indexLabel(const char* name, unsigned index) {
    return label(name, std::to_string(index));
}

// One pass over a product's measurements, feature by feature in the product's order.
class MeasurementPass {
  public:
    MeasurementPass(const Identity& identity, const std::function<bool()>& stop, Reading* out)
        : handle_(identity.handle), labels_(identity.labels), stop_(stop), out_(out) {}

    void run(const std::vector<QRT_FEATURE_TYPE>& features) {
        for (QRT_FEATURE_TYPE feature : features) {
            switch (feature) {
                case QRT_FEATURE_POE:
                    poe();
                    break;
                case QRT_FEATURE_POWER_CONTROLLER:
                    row(kUsbPortPower);
                    break;
                case QRT_FEATURE_EX_POWER_SUPPLY:
                    row(kExternalSupplies);
                    break;
                case QRT_FEATURE_FAN:
                    fans();
                    break;
                case QRT_FEATURE_TOE:
                    triggerCounters();
                    break;
                case QRT_FEATURE_DIO:
                    for (const LineStates& lines : kDioLines) lineStates(lines);
                    break;
            }
        }
    }

  private:
    // Calls the C API unless the reading has ended; true when the value was read.
    template <class Call>
    bool read(const std::string& what, Call call) {
        if (out_->busy || out_->stopped) return false;
        if (stop_ && stop_()) {
            out_->stopped = true;
            return false;
        }
        int status = call();
        if (status == QRT_SUCCESS) {
            ++out_->values;
            return true;
        }
        if (status == QRT_ERR_NOT_SUPPORTED) return false;
        out_->failures.push_back({what, status});
        if (status == QRT_ERR_BUSY) out_->busy = true;
        return false;
    }

    void add(Metric metric, const std::string& labels, double value) {
        out_->samples.push_back({metric, labels.empty() ? labels_ : labels_ + "," + labels, value});
    }

    void row(const SwitchRow& row) {
        unsigned n = 0;
        if (!read(row.what, [&] { return row.count(handle_, &n); }) || n == 0) return;
        std::vector<int> states(n);
        if (!read(row.what, [&] { return row.get(handle_, states.data(), n); })) return;
        for (unsigned i = 0; i < n; ++i) add(row.metric, indexLabel(row.label, i), states[i]);
    }

    void poe() {
        for (const auto& p : kPoeCardProperties) {
            float value = 0;
            if (read(p.what, [&] { return QRT_PoEGetProperty(handle_, p.property, &value); }))
                add(p.metric, "", value);
        }
        int protect = 0, recover = 0;
        if (read("PoE protection temperatures",
                 [&] { return QRT_PoEGetProtectTempRange(handle_, &protect, &recover); })) {
            add(Metric::PoeProtectionTemperature, "", protect);
            add(Metric::PoeRecoveryTemperature, "", recover);
        }
        row(kPoePortEnables);
        unsigned ports = 0;
        if (!read("PoE port count", [&] { return QRT_PoEGetPortNums(handle_, &ports); })) return;
        for (unsigned port = 0; port < ports; ++port) {
            std::string portLabel = indexLabel("port", port);
            float values[QRT_POEPORT_PROP_LAST_STATE + 1] = {};
            bool got[QRT_POEPORT_PROP_LAST_STATE + 1] = {};
            for (const auto& p : kPoePortProperties) {
                got[p.property] = read("PoE port " + std::to_string(port) + " " + p.what, [&] {
                    return QRT_PoEGetPortProperty(handle_, port, p.property, &values[p.property]);
                });
                if (got[p.property]) add(p.metric, portLabel, values[p.property]);
            }
            if (got[QRT_POEPORT_PROP_CURRENT] && got[QRT_POEPORT_PROP_VOLTAGE])
                add(Metric::PoePortPower, portLabel,
                    static_cast<double>(values[QRT_POEPORT_PROP_CURRENT]) *
                        values[QRT_POEPORT_PROP_VOLTAGE]);
        }
    }

    void fans() {
        unsigned fans = 0;
        if (!read("fan count", [&] { return QRT_FanGetNums(handle_, &fans); })) return;
        for (unsigned fan = 0; fan < fans; ++fan) {
            std::string fanLabel = indexLabel("fan", fan), what = "fan " + std::to_string(fan);
            unsigned rpm = 0;
            int duty = 0, smart = 0;
            if (read(what + " speed", [&] { return QRT_FanGetSpeed(handle_, fan, &rpm); }))
                add(Metric::FanSpeed, fanLabel, rpm);
            // The card reports the duty in percent.
            if (read(what + " PWM", [&] { return QRT_FanGetPWM(handle_, fan, &duty); }))
                add(Metric::FanDuty, fanLabel, duty / 100.0);
            if (read(what + " smart control",
                     [&] { return QRT_FanGetSmartFanEnable(handle_, fan, &smart); }))
                add(Metric::FanSmartEnabled, fanLabel, smart != 0 ? 1 : 0);
        }
    }

    void triggerCounters() {
        unsigned ports = 0;
        if (!read("ToE port count", [&] { return QRT_ToEGetPortNums(handle_, &ports); })) return;
        for (unsigned port = 0; port < ports; ++port) {
            unsigned first = 0, second = 0;
            if (!read("ToE port " + std::to_string(port) + " trigger counts",
                      [&] { return QRT_ToEGetTriggerCount(handle_, port, &first, &second); }))
                continue;
            std::string portLabel = indexLabel("port", port);
            add(Metric::ToeTriggers, portLabel + "," + label("counter", "first"), first);
            add(Metric::ToeTriggers, portLabel + "," + label("counter", "second"), second);
        }
    }

    void lineStates(const LineStates& lines) {
        unsigned n = 0;
        if (!read(std::string(lines.what) + " count", [&] { return lines.count(handle_, &n); }))
            return;
        for (unsigned line = 0; line < n; ++line) {
            int state = 0;
            if (read(lines.what + std::to_string(line) + " state",
                     [&] { return lines.get(handle_, line, &state); }))
                add(lines.metric, indexLabel("line", line), state);
        }
    }

    void* handle_;
    const std::string& labels_;
    const std::function<bool()>& stop_;
    Reading* out_;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> infoLines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t value = line.find_first_not_of(' ', colon + 1);
        lines.emplace_back(line.substr(0, colon),
                           value == std::string::npos ? "" : line.substr(value));
    }
    return lines;
}

std::string productModel(void* handle) {
    char text[kTextSize];
    if (QRT_GetProductInfo(handle, text, sizeof text) != QRT_SUCCESS) return "";
    for (const auto& [name, value] : infoLines(text))
        if (name == "Product") return value;
    return "";
}

std::vector<QRT_FEATURE_TYPE> productFeatures(void* handle) {
    QRT_FEATURE_TYPE list[16];
    int count = QRT_GetFeatureList(handle, list, 16);
    if (count < 0 || count > 16) return {};
    return std::vector<QRT_FEATURE_TYPE>(list, list + count);
}

Identity readIdentity(unsigned index) {
    Identity id;
    id.index = index;
    id.handle = QRT_GetProductHandle(index);
    auto note = [&id](int status, const char* what) {
        if (status == QRT_SUCCESS) return true;
        if (status != QRT_ERR_NOT_SUPPORTED) id.failures.push_back({what, status});
        if (status == QRT_ERR_BUSY) id.busy = true;
        return false;
    };
    char text[kTextSize] = "";
    id.snRead = note(QRT_GetProductSN(id.handle, text, sizeof text), "serial number");
    if (id.snRead) id.sn = text;
    if (!id.busy && note(QRT_GetProductInfo(id.handle, text, sizeof text), "information")) {
        for (const auto& [name, value] : infoLines(text))
            if (name == "Product") id.model = value;
    }
    id.type = QRT_GetProductType(id.handle);
    id.features = productFeatures(id.handle);
    id.labels = label("product", std::to_string(index)) + "," + label("model", id.model) + "," +
                label("sn", id.sn);
    return id;
}

Reading readMeasurements(const Identity& identity, const std::function<bool()>& stop) {
    Reading reading;
    reading.startedAt = unixNow();
    auto started = std::chrono::steady_clock::now();
    MeasurementPass(identity, stop, &reading).run(identity.features);
    reading.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return reading;
}

std::vector<Sample> productSamples(const Identity& identity, const Reading* latest,
                                   const Reading* measured) {
    const std::string& labels = identity.labels;
    std::vector<Sample> samples;
    samples.push_back(
        {Metric::ProductInfo, labels + "," + label("type", std::to_string(identity.type)), 1});
    bool answered = latest != nullptr && !identity.busy && !latest->busy &&
                    (latest->values > 0 || latest->failures.empty());
    samples.push_back({Metric::Up, labels, answered ? 1.0 : 0.0});
    int status = 0;
    size_t errors = identity.failures.size();
    if (!identity.failures.empty()) status = identity.failures.back().status;
    if (latest != nullptr) {
        errors += latest->failures.size();
        if (!latest->failures.empty()) status = latest->failures.back().status;
    }
    samples.push_back({Metric::ReadingStatus, labels, static_cast<double>(status)});
    samples.push_back({Metric::ReadErrors, labels, static_cast<double>(errors)});
    if (measured == nullptr) return samples;
    samples.push_back({Metric::ReadingTimestamp, labels, measured->startedAt + measured->seconds});
    samples.push_back({Metric::ReadingDuration, labels, measured->seconds});
    samples.insert(samples.end(), measured->samples.begin(), measured->samples.end());
    return samples;
}

}  // namespace qrtmetrics
