#include "tools/common/MetricFamilies.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace qrtmetrics {

namespace {

using M = Metric;
using T = MetricType;
constexpr Precision R = Precision::Reading;

// clang-format off
constexpr MetricFamily kFamilies[] = {
    {M::Products, "qrt_products", T::Gauge, "Products the SDK found", R},
    {M::ProductInfo, "qrt_product_info", T::Info,
     "Identity of a product; type is the SDK's product type number", R},
    {M::Up, "qrt_up", T::Gauge,
     "1 when the latest reading of the product answered, 0 when the product was busy (held by "
     "another program for ten seconds), answered nothing or has not been read yet", R},
    {M::ReadingStatus, "qrt_reading_status", T::Gauge,
     "SDK status of the latest failed read of the latest reading (0 when every value was read, "
     "-1 hardware access failed, -100 busy)", R},
    {M::ReadErrors, "qrt_read_errors", T::Gauge,
     "Values of the product that could not be read in the latest reading", R},
    {M::ReadingTimestamp, "qrt_reading_timestamp_seconds", T::Gauge,
     "Time (Unix seconds) at which the product's measurements shown were read", Precision::Time},
    {M::ReadingDuration, "qrt_reading_duration_seconds", T::Gauge,
     "How long reading the product's measurements took", Precision::Time},
    {M::PoeStateFlag0, "qrt_poe_state_flag0", T::Gauge,
     "Bit 0 of the card microcontroller's device-state byte (its meaning is the firmware's)", R},
    {M::PoeStateFlag1, "qrt_poe_state_flag1", T::Gauge,
     "Bit 1 of the card microcontroller's device-state byte (its meaning is the firmware's)", R},
    {M::PoeStateFlag5Clear, "qrt_poe_state_flag5_clear", T::Gauge,
     "1 when bit 5 of the card microcontroller's device-state byte is clear, 0 when it is set "
     "(its meaning is the firmware's)", R},
    {M::PoeTemperature, "qrt_poe_temperature_celsius", T::Gauge,
     "Card temperature measured by the card microcontroller", R},
    {M::PoeConsumedBudget, "qrt_poe_consumed_budget_watts", T::Gauge,
     "PoE power budget in use", R},
    {M::PoeLeftBudget, "qrt_poe_left_budget_watts", T::Gauge, "PoE power budget left", R},
    {M::PoeTotalBudget, "qrt_poe_total_budget_watts", T::Gauge,
     "PoE power budget of the card's power input", R},
    {M::PoeProtectionTemperature, "qrt_poe_protection_temperature_celsius", T::Gauge,
     "Card temperature at which the microcontroller switches the PoE ports off", R},
    {M::PoeRecoveryTemperature, "qrt_poe_recovery_temperature_celsius", T::Gauge,
     "Card temperature below which the microcontroller switches the PoE ports on again", R},
    {M::PoePortEnabled, "qrt_poe_port_enabled", T::Gauge, "PoE port switched on (1) or off (0)", R},
    {M::PoePortCurrent, "qrt_poe_port_current_amperes", T::Gauge, "PSE output current", R},
    {M::PoePortVoltage, "qrt_poe_port_voltage_volts", T::Gauge, "PSE output voltage", R},
    {M::PoePortPowerClass, "qrt_poe_port_power_class", T::Gauge,
     "Power class the PSE detected (0 to 5; -1 not settled, -2 nothing detected)", R},
    {M::PoePortPowerGood, "qrt_poe_port_power_good", T::Gauge,
     "PSE reports the port's power good (1) or not (0)", R},
    {M::PoePortLastPowerState, "qrt_poe_port_last_power_state", T::Gauge,
     "Power state the card microcontroller last recorded for the port (1 on, 0 off), the state "
     "it recovers the port to", R},
    {M::PoePortPower, "qrt_poe_port_power_watts", T::Gauge,
     "PSE output power (voltage times current)", R},
    {M::UsbPortPowerEnabled, "qrt_usb_port_power_enabled", T::Gauge,
     "USB port power switched on (1) or off (0)", R},
    {M::ExternalSupplyConnected, "qrt_external_supply_connected", T::Gauge,
     "External power supply plugged in (1) or not (0)", R},
    {M::FanSpeed, "qrt_fan_speed_rpm", T::Gauge, "Fan speed in revolutions per minute", R},
    {M::FanDuty, "qrt_fan_duty_ratio", T::Gauge, "Fan PWM duty, 0 to 1", R},
    {M::FanSmartEnabled, "qrt_fan_smart_control_enabled", T::Gauge,
     "Automatic (smart) fan speed control on (1) or off (0)", R},
    {M::ToeTriggers, "qrt_toe_triggers_total", T::Counter,
     "Trigger counts the card's CPLD keeps per port, counter first and second as qrtctl toe "
     "counters prints them (16 bits: they wrap at 65536 and restart when reset)", R},
    {M::DioInputState, "qrt_dio_input_state", T::Gauge, "Digital input level (1 high, 0 low)", R},
    {M::DioOutputState, "qrt_dio_output_state", T::Gauge,
     "Digital output state read back (1 on, 0 off)", R},
};
// clang-format on

constexpr size_t kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];

// The table is indexed by the enumeration.
constexpr bool tableInEnumOrder() {
    if (kFamilyCount != static_cast<size_t>(Metric::kCount)) return false;
    for (size_t i = 0; i < kFamilyCount; ++i)
        if (static_cast<size_t>(kFamilies[i].metric) != i) return false;
    return true;
}
static_assert(tableInEnumOrder(), "one family per Metric, in the enumeration's order");

// The family's name in OpenMetrics, where a counter's and an info family's samples add the
// suffix to the family name.
std::string openMetricsName(const MetricFamily& f) {
    std::string name = f.name;
    const char* suffix = f.type == MetricType::Counter ? "_total"
                         : f.type == MetricType::Info  ? "_info"
                                                       : "";
    size_t n = std::strlen(suffix);
    if (n != 0 && name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
        name.erase(name.size() - n);
    return name;
}

const char* typeName(MetricType type, Format format) {
    switch (type) {
        case MetricType::Counter:
            return "counter";
        case MetricType::Info:
            return format == Format::OpenMetrics ? "info" : "gauge";
        case MetricType::Gauge:
            break;
    }
    return "gauge";
}

std::string escapeHelp(const char* help, Format format) {
    std::string escaped;
    for (const char* c = help; *c != '\0'; ++c) {
        if (*c == '\\')
            escaped += "\\\\";
        else if (*c == '\n')
            escaped += "\\n";
        else if (*c == '"' && format == Format::OpenMetrics)
            escaped += "\\\"";
        else
            escaped += *c;
    }
    return escaped;
}

std::string formatValue(double value, Precision precision) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[64];
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(text, sizeof text, "%.0f", value);
    else if (precision == Precision::Time)
        std::snprintf(text, sizeof text, "%.3f", value);
    else
        std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

const MetricFamily& family(Metric metric) {
    return kFamilies[static_cast<size_t>(metric)];
}

std::vector<MetricFamily> allFamilies() {
    return std::vector<MetricFamily>(kFamilies, kFamilies + kFamilyCount);
}

std::string escapeLabelValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"')
            escaped += std::string("\\") + c;
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + escapeLabelValue(value) + "\"";
}

Format negotiateFormat(const std::string& accept) {
    // Prometheus asks for OpenMetrics first and the text format as a fallback; any client that
    // names OpenMetrics gets it.
    return accept.find("application/openmetrics-text") != std::string::npos ? Format::OpenMetrics
                                                                            : Format::Text;
}

const char* contentType(Format format) {
    return format == Format::OpenMetrics
               ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
               : "text/plain; version=0.0.4; charset=utf-8";
}

std::string expose(const std::vector<const std::vector<Sample>*>& groups, Format format) {
    std::vector<std::vector<const Sample*>> byFamily(kFamilyCount);
    for (const std::vector<Sample>* group : groups)
        for (const Sample& sample : *group)
            byFamily[static_cast<size_t>(sample.metric)].push_back(&sample);
    std::string out;
    for (const MetricFamily& f : kFamilies) {
        const std::vector<const Sample*>& samples = byFamily[static_cast<size_t>(f.metric)];
        if (samples.empty()) continue;
        std::string declared = format == Format::OpenMetrics ? openMetricsName(f) : f.name;
        out += "# HELP " + declared + " " + escapeHelp(f.help, format) + "\n";
        out += "# TYPE " + declared + " " + typeName(f.type, format) + "\n";
        for (const Sample* s : samples) {
            out += f.name;
            if (!s->labels.empty()) out += "{" + s->labels + "}";
            out += " " + formatValue(s->value, f.precision) + "\n";
        }
    }
    if (format == Format::OpenMetrics) out += "# EOF\n";
    return out;
}

}  // namespace qrtmetrics
